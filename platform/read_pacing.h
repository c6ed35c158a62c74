#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QtGlobal>

#include <functional>

namespace talvern {

// How the port is read while bytes trickle in. A UART hands bytes over one or
// a few at a time, and waking for each would cost more than everything done
// with them. So while little comes, the port is left alone for a short pause
// after each read, the system's buffer (4 KiB at the least) gathers what comes,
// and one read takes it all. A line that brings much (a fast line, a flood) is
// read on readiness: a read that has just caught up with it finds little too,
// but a pause then would only hold the line back. A quiet line runs no pause.
//
// The pause bounds how late a record reaches the file (a person never sees
// it); 24 ms gathers 23 bytes at 9600 baud and 2.2 KiB at 921,600 baud.
// Reads that come this far apart let the status box change in their own
// wake-ups (every third one, once it has been still for its 50 ms), so its
// timer never runs while records come.
constexpr int kReadPauseMs = 24;
// Fewer bytes than this in a pause's time is a trickle: half the least buffer,
// 85 KB/s. Standard speeds fall clear of it on either side (460,800 baud
// brings 1.1 KiB in a pause, 921,600 baud 2.2 KiB), so none flips between the
// two ways of reading.
constexpr qint64 kTrickleBytes = 2048;
// As many bytes waiting again as soon as a read has been handled come from a
// fast line (at 921,600 baud, 64 bytes take 0.7 ms), such as a flood just
// beginning.
constexpr qint64 kBusyBytes = 64;

// Decides, read by read, whether the next read waits for the pause, and runs
// the pause: only while fewer than kTrickleBytes came in the current stretch
// of the pause's length and in the one before it, and fewer than kBusyBytes
// wait already; and not after a read that came on the line's own, a pause or
// more after the one before it: a pause would then find nothing, and cost a
// wake-up of its own. So an instrument that sends a record now and then, or
// bytes further apart than the pause, wakes the reader once for each.
class ReadPacing {
public:
    // `pauseEnded` is called as each pause ends, from the event loop.
    ReadPacing(int pauseMs, std::function<void()> pauseEnded)
        : pauseMs_(pauseMs) {
        clock_.start();
        pause_.setSingleShot(true);
        pause_.setTimerType(Qt::PreciseTimer);
        pause_.setInterval(pauseMs);
        QObject::connect(&pause_, &QTimer::timeout, &pause_, std::move(pauseEnded));
    }

    // After a read that found `bytes`: whether to pause before the next, and
    // if so the pause begins. `waiting()` tells how many more have been
    // received since; it is asked only while the line trickles (not on every
    // read of a flood).
    template <typename Waiting> bool pauseAfter(qint64 bytes, Waiting waiting) {
        const qint64 now = clock_.elapsed();
        if (now - stretchStart_ >= pauseMs_) {
            earlier_ = now - stretchStart_ < 2 * pauseMs_ ? current_ : 0;
            current_ = 0;
            stretchStart_ = now;
        }
        const bool slow = !paused_ && now - lastRead_ >= pauseMs_;
        lastRead_ = now;
        current_ += bytes;
        paused_ =
            !slow && current_ < kTrickleBytes && earlier_ < kTrickleBytes && waiting() < kBusyBytes;
        if (paused_)
            pause_.start();
        return paused_;
    }

    // A pause ended with nothing to read: the line has gone quiet, and the
    // next byte is read as it comes.
    void pauseFoundNothing() { paused_ = false; }

    // Ends a pause under way.
    void stop() { pause_.stop(); }
    // The port opens again: nothing has been read yet.
    void restart() {
        stop();
        stretchStart_ = clock_.elapsed();
        current_ = earlier_ = 0;
        lastRead_ = kLongAgo;
        paused_ = false;
    }

private:
    int pauseMs_;
    QElapsedTimer clock_;
    qint64 stretchStart_ = 0;
    qint64 current_ = 0; // bytes read in the stretch begun at stretchStart_
    qint64 earlier_ = 0; // in the stretch just before it
    static constexpr qint64 kLongAgo = -(qint64(1) << 40);
    qint64 lastRead_ = kLongAgo; // when the last read was
    bool paused_ = false;        // whether a pause followed it
    QTimer pause_;
};

} // namespace talvern

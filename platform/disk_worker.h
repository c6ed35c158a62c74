#pragma once

#include "failure.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QObject>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace talvern {

// A write that failed part way: the first `kept` bytes it was given are in the
// file, and they end in a whole line.
class WriteFailure : public CaptureError {
public:
    WriteFailure(QString message, qsizetype kept)
        : CaptureError(std::move(message))
        , kept(kept) {}
    qsizetype kept;
};

// Hands a file's data to its drive on a thread of its own, so that the thread
// that writes the file never waits for the drive: a network drive, or a busy
// USB stick, may take seconds to answer. One flush runs at a time; asked again
// while one runs, it runs once more after it. A write made while the worker is
// at work would wait behind the flush in the system (a file system may hold
// the file for it): it is queued instead and written, in order, before the
// next flush. The bytes are lines, each ended by CR LF.
//
// Nothing queued is dropped while the file can take it: a flush that fails
// ends the flushing, not the writing, and what was queued behind it is still
// written before the owner hears of the failure. A write that fails ends both;
// its failure then says how many of the lines queued, which the owner may have
// shown as saved, are not in the file. The owner is told of a failure, and of
// the end of work it found under way, on its own thread.
class DiskWorker final : public QObject {
public:
    // Where the flushes run: on the worker's thread, or at once on the caller's
    // (for a capture driven step by step, where nothing may happen behind it).
    // A worker whose thread cannot be had (no memory for one) runs in place.
    enum class Runs { OnItsThread, InPlace };

    // `write` and `flush` throw CaptureError when they fail; `write` throws
    // WriteFailure when some of the bytes stay in the file.
    DiskWorker(std::function<void(QByteArrayView)> write, std::function<void()> flush,
               Runs runs = Runs::OnItsThread);
    ~DiskWorker() override; // waits for the work under way
    DiskWorker(const DiskWorker&) = delete;
    DiskWorker& operator=(const DiskWorker&) = delete;

    // The file is closed: its failure, and what was confirmed of it, go.
    void reset();
    // Writes at once while the worker is idle; else queues the bytes behind
    // its work, and returns how many bytes wait so. After a failed write,
    // throws that failure and takes nothing.
    qsizetype write(QByteArrayView bytes);
    // Asks for a flush and returns at once. After a failure, does nothing.
    void request();
    // A write or flush asked for has not ended yet; if so, the finished
    // handler is called once the worker is idle.
    bool busy() const;
    // How long the drive has been at the work under way, in milliseconds;
    // 0 while the worker is idle.
    qint64 unansweredMs() const;
    // When the last flush that the drive confirmed began: everything written
    // before then is on it. None since begin(), if none.
    std::optional<QDateTime> confirmed() const;
    // Waits until no work runs or waits to run.
    void waitUntilIdle();
    // The failure the worker met, once; then none until the next.
    std::optional<CaptureError> takeFailure();
    // Called on the thread that made the worker when it goes idle after a
    // failure, or after busy() found it at work.
    void setFinishedHandler(std::function<void()> handler) { finished_ = std::move(handler); }

private:
    using Clock = std::chrono::steady_clock;

    bool idle() const { return !asked_ && !running_ && queued_.isEmpty(); }
    void inPlace(const std::function<void()>& step, bool flush);
    // Keeps the failure of a step for the owner; a write's failure ends the
    // writing too, and tells of the lines it leaves out (`lost`, and all
    // that waits behind it). Called with the mutex held.
    void failed(const CaptureError& error, bool flush, QByteArrayView lost);
    void run();

    std::function<void(QByteArrayView)> write_;
    std::function<void()> flush_;
    Runs runs_;
    std::function<void()> finished_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    QByteArray queued_;    // written after the work under way, in order
    bool asked_ = false;   // a flush waits to run
    bool running_ = false; // a write or flush runs
    bool stopping_ = false;
    bool flushing_ = true;               // no flush has failed
    std::optional<CaptureError> broken_; // a write failed: nothing more is taken
    Clock::time_point startedAt_;        // when the work under way began
    std::optional<QDateTime> confirmed_;
    mutable bool watched_ = false; // found busy: tell the owner when done
    std::optional<CaptureError> failure_;
    std::thread thread_; // started by the first request
};

} // namespace talvern

#pragma once

#include "alarm.h"
#include "serial_port.h"

#include <QString>

#include <memory>

namespace talvern {

class CaptureView;

// Tells the user of errors the line has while a capture runs: characters that
// arrived broken (framing, parity), breaks, and bytes lost because nobody read
// them in time (overruns). The port's counts when the capture starts are the
// base; they are looked at again when bytes arrive, at most a few times a
// second, and a rise shows in the status box for at least three seconds
// before a record replaces it, however fast records come. A quiet line costs
// nothing. Records are never changed.
class LineErrorNotice {
public:
    LineErrorNotice(SerialPort& port, CaptureView& view, std::unique_ptr<Alarm> alarm, Clock clock);

    // Once the port is open: takes the base. A port without counters is not
    // looked at again.
    void start();
    // Bytes arrived: the counts are looked at now, or, if they were a moment
    // ago, once that moment is over.
    void bytesArrived();
    // A record to show: shown unless a notice is being held.
    void showRecord(const QString& record);
    // The capture ends with the port still open: one last look, then no more.
    // Returns every error since start(), worded for the user, or nothing.
    QString finish();
    // The capture ended without a last look (a failure).
    void stop();

private:
    void look();
    QString notice() const;
    QString lostBytes() const;

    SerialPort& port_;
    CaptureView& view_;
    std::unique_ptr<Alarm> alarm_;
    Clock clock_;
    bool watching_ = false; // a capture runs on a port that counts
    qint64 lastLook_ = 0;   // when the counts were last looked at
    qint64 toldAt_ = -1;    // when the status box last told of a rise; -1: never
    LineErrors last_;       // the port's counts at the last look
    LineErrors since_;      // what rose since start()
    LineErrors told_;       // what the status box last told of
};

} // namespace talvern

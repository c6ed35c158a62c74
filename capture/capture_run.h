#pragma once

#include "alarm.h"
#include "capture_file.h"
#include "failure.h"
#include "line_error_notice.h"
#include "record_framer.h"
#include "upload_settings.h"

namespace talvern {

class CaptureView;
class SerialPort;

// Starting, running and stopping a capture. Start runs the capture loop inside
// the click that called it: the loop lets the window handle its events between
// polls, so Abort and Exit arrive nested inside Start. What the port receives is
// also taken the moment it arrives, from whatever event loop runs (a dialog's
// too), so records reach the file while the loop waits. Failures come back as an
// Outcome; by then the file is closed and the port released, and the caller only
// has to report the failure and end the program.
class CaptureRun {
public:
    enum class State {
        Idle,      // nothing started yet
        NoName,    // Start found no file name
        Capturing, // the loop runs: file and port open
        Saving,    // Abort or Exit waits for the drive to have the file
        Aborted,   // Abort closed file and port
        Ended,     // Exit or a failure: nothing more will run
    };

    // `alarms` makes the capture's timers, on `clock`'s time; by default Qt's
    // event loop runs them on the system's clock.
    CaptureRun(UploadSettings& settings, SerialPort& port, CaptureFile& file, CaptureView& view,
               const Alarms& alarms = qtAlarm, Clock clock = steadyClock);
    ~CaptureRun();
    CaptureRun(const CaptureRun&) = delete;
    CaptureRun& operator=(const CaptureRun&) = delete;

    // Checks the file name, creates the file, opens the port and captures until
    // Abort, Exit or a failure. Refused, changing nothing, while a capture runs.
    [[nodiscard]] Outcome start();
    // Writes what the port has received, closes the file and the port; the
    // loop stops. The drive may take its time over the last records: the
    // window's events run meanwhile (state Saving), and an Abort or Exit among
    // them does nothing.
    [[nodiscard]] Outcome abort();
    // Writes what the port has received, closes the file with every record in
    // it and releases the port, waiting for the drive as Abort does; the loop
    // stops and nothing more runs. The caller then ends the program. A failure
    // met while the loop could not report it (a dialog was open) is reported
    // here.
    [[nodiscard]] Outcome exit();

    State state() const { return state_; }
    // The errors the line had during the capture that Exit ended (bytes lost
    // or broken), worded for the user; empty when there were none or Exit
    // ended no capture.
    const QString& lineErrorsAtExit() const { return lineErrorsAtExit_; }

private:
    // Runs `step`; any failure in it ends the capture (fail()) and is returned.
    template <typename Step> Outcome ending(Step&& step);
    // Runs `step` from an event loop's callback while the capture runs; a
    // failure is kept for the loop or Exit to report.
    template <typename Step> void fromEventLoop(Step&& step);
    Outcome captureLoop();
    void onReceived();
    void takeWaiting();
    void takeTheRest();
    void record(QByteArrayView chunk);
    void setLineEndCheck(qint64 ms);
    void checkForLineEnds();
    void syncSoon();
    void syncNow();
    // Writes what is kept of the waiting bytes, and closes the file once the
    // drive has every record; the window answers meanwhile.
    void saveFile();
    // Closes the file once the drive has every record; the window answers
    // meanwhile.
    void closeFile();
    void stopAlarms();
    QString noLineEndNotice() const;
    // A failure of the capture as a whole, naming its port and file.
    CaptureError captureFailure(const QString& reason) const;
    Outcome fail(const CaptureError& error);
    void closePort();
    void wakeLoop();

    UploadSettings& settings_;
    SerialPort& port_;
    CaptureFile& file_;
    CaptureView& view_;
    RecordFramer framer_;
    qint16 portNumber_ = 0; // the port this capture opened
    State state_ = State::Idle;
    // A line that sends bytes but no CR (LF line ends, a wrong baud rate) gives
    // no records: after a few seconds of it the status box says so.
    std::unique_ptr<Alarm> lineEndCheck_;
    qint64 withoutLineEndSince_ = 0; // when the bytes now waiting for a CR began
    qint64 noticed_ = -1;            // the byte count the status box told of; -1: none
    // What was written reaches the disk within a second: a power cut loses at
    // most the last one. Set by the first write the disk does not have yet.
    std::unique_ptr<Alarm> sync_;
    Clock clock_;
    qint64 lastSync_ = -1;   // when the file was last synced; -1: not in this capture
    bool taking_ = false;    // reading the port now: a nested arrival waits for this read
    Outcome pendingFailure_; // a failure met outside the loop, for the loop or Exit to report
    LineErrorNotice lineErrors_;
    QString lineErrorsAtExit_;
};

} // namespace talvern

#pragma once

#include "capture_file.h"
#include "failure.h"
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
        Aborted,   // Abort closed file and port
        Ended,     // Exit or a failure: nothing more will run
    };

    CaptureRun(UploadSettings& settings, SerialPort& port, CaptureFile& file, CaptureView& view);

    // Checks the file name, creates the file, opens the port and captures until
    // Abort, Exit or a failure. Refused, changing nothing, while a capture runs.
    [[nodiscard]] Outcome start();
    // Writes what the port has received, closes the file and the port; the
    // loop stops.
    [[nodiscard]] Outcome abort();
    // Writes what the port has received, closes the file with every record in
    // it and releases the port; the loop stops and nothing more runs. The caller
    // then ends the program. A failure met while the loop could not report it
    // (a dialog was open) is reported here.
    [[nodiscard]] Outcome exit();

    State state() const { return state_; }

private:
    Outcome captureLoop();
    void onReceived();
    void takeWaiting();
    void takeTheRest();
    void record(QByteArrayView chunk);
    Outcome fail(const CaptureError& error);
    void closePort();

    UploadSettings& settings_;
    SerialPort& port_;
    CaptureFile& file_;
    CaptureView& view_;
    RecordFramer framer_;
    State state_ = State::Idle;
    bool taking_ = false;    // reading the port now: a nested arrival waits for this read
    Outcome pendingFailure_; // a failure met outside the loop, for the loop or Exit to report
};

} // namespace talvern

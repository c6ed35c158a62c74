#include "capture_run.h"

#include "capture_view.h"
#include "serial_port.h"

namespace talvern {

namespace {
const QString kLineSettings = QStringLiteral("9600,N,8,1");
} // namespace

CaptureRun::CaptureRun(UploadSettings& settings, SerialPort& port, CaptureFile& file,
                       CaptureView& view)
    : settings_(settings)
    , port_(port)
    , file_(file)
    , view_(view) {}

Outcome CaptureRun::start() {
    // One capture at a time; and after Exit or a failure nothing starts again.
    if (state_ == State::Capturing || state_ == State::Ended)
        return {};

    // Whatever the status box showed is cleared first, even if the name is missing.
    view_.setStatusText(QString());

    // An empty name stops here; a name of spaces is a name and goes on.
    if (settings_.CaptureFileName.isEmpty()) {
        view_.setStatusText(QStringLiteral("Please enter file name"));
        view_.beep();
        view_.setAbortEnabled(false);
        state_ = State::NoName;
        return {};
    }

    // The file first, then the port: a port that fails leaves the file created, empty.
    try {
        file_.open(settings_.CaptureFileName);
        port_.setCommPort(settings_.PortNumber);
        port_.setSettings(kLineSettings);
        port_.setInputLen(0);
        port_.setPortOpen(true);
    } catch (const CaptureError& error) {
        return fail(error);
    } catch (const std::exception& error) {
        return fail(CaptureError(QString::fromLocal8Bit(error.what())));
    }

    view_.setAbortEnabled(true);
    framer_.reset();
    state_ = State::Capturing;
    return captureLoop();
}

Outcome CaptureRun::captureLoop() {
    try {
        for (;;) {
            // Let the window work; this waits while nothing happens. Abort, Exit or
            // a failure handled in there ends the loop before it touches anything.
            view_.processEvents();
            if (state_ != State::Capturing)
                return {};

            if (port_.inBufferCount() < 1)
                continue;
            const QByteArray chunk = port_.input();

            const RecordFramer::Completed done = framer_.take(chunk);
            if (done.records == 0)
                continue;

            // Hand every completed record to the system in one write, before the
            // next poll; then show the newest, so the box never shows a record
            // that did not reach the file.
            file_.write(done.lines);
            view_.setStatusText(QString::fromLatin1(done.lastRecord));
        }
    } catch (const CaptureError& error) {
        return fail(error);
    } catch (const std::exception& error) {
        // Out of memory, say: still end the capture properly and report it.
        return fail(CaptureError(QString::fromLocal8Bit(error.what())));
    }
}

Outcome CaptureRun::abort() {
    if (state_ == State::Ended)
        return {};
    if (state_ != State::Capturing) {
        // Nothing is open: say so again and touch nothing.
        view_.setStatusText(QStringLiteral("Upload Abort"));
        return {};
    }

    try {
        file_.close();
        port_.setOutput(QByteArray());
        port_.setPortOpen(false);
    } catch (const CaptureError& error) {
        return fail(error);
    }
    view_.setStatusText(QStringLiteral("Upload Abort"));
    state_ = State::Aborted;
    return {};
}

Outcome CaptureRun::exit() {
    if (state_ == State::Ended)
        return {};
    const bool capturing = state_ == State::Capturing;
    state_ = State::Ended;
    if (!capturing)
        return {};

    try {
        file_.close();
    } catch (const CaptureError& error) {
        return fail(error);
    }
    closePort();
    return {};
}

Outcome CaptureRun::fail(const CaptureError& error) {
    // Leave nothing open behind the failure: the records written so far stay in
    // the file, and the port is free for the next program.
    state_ = State::Ended;
    Failure failure{error.message()};
    try {
        file_.close();
    } catch (const CaptureError& closing) {
        failure.message += QLatin1Char('\n') + closing.message();
    }
    closePort();
    return failure;
}

void CaptureRun::closePort() {
    // Releasing the port is best effort: the program is ending or has already
    // failed, and a port that will not close has nothing more to lose.
    try {
        if (port_.portOpen())
            port_.setPortOpen(false);
    } catch (const CaptureError&) {
    }
}

} // namespace talvern

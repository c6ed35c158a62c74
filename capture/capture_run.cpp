#include "capture_run.h"

#include "capture_view.h"
#include "file_name.h"
#include "serial_port.h"

#include <utility>

namespace talvern {

namespace {

const QString kLineSettings = QStringLiteral("9600,N,8,1");

// Ends a capture's final reading after this many reads even if the line keeps
// sending: what arrived before the end is in by then.
constexpr int kFinalReads = 1000;

// Marks the port as being read for as long as it lives.
class Taking {
public:
    explicit Taking(bool& flag)
        : flag_(flag) {
        flag_ = true;
    }
    ~Taking() { flag_ = false; }
    Taking(const Taking&) = delete;
    Taking& operator=(const Taking&) = delete;

private:
    bool& flag_;
};

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

    // The file first, then the port, then the file is emptied: a port that fails
    // leaves a new file created and empty, and an earlier one as it was.
    try {
        file_.open(withHomeFolder(settings_.CaptureFileName));
        port_.setCommPort(settings_.PortNumber);
        port_.setSettings(kLineSettings);
        port_.setInputLen(0);
        port_.setPortOpen(true);
        file_.empty();
    } catch (const CaptureError& error) {
        return fail(error);
    } catch (const std::exception& error) {
        return fail(CaptureError(QString::fromLocal8Bit(error.what())));
    }

    view_.setAbortEnabled(true);
    framer_.reset();
    state_ = State::Capturing;
    port_.setReceiveHandler([this] { onReceived(); });
    return captureLoop();
}

Outcome CaptureRun::captureLoop() {
    try {
        for (;;) {
            // Let the window work; this waits while nothing happens. Abort, Exit or
            // a failure handled in there ends the loop before it touches anything.
            view_.processEvents();
            if (state_ != State::Capturing)
                return std::exchange(pendingFailure_, std::nullopt);
            takeWaiting();
        }
    } catch (const CaptureError& error) {
        return fail(error);
    } catch (const std::exception& error) {
        // Out of memory, say: still end the capture properly and report it.
        return fail(CaptureError(QString::fromLocal8Bit(error.what())));
    }
}

void CaptureRun::onReceived() {
    // Bytes arrived, maybe inside a dialog's event loop: take them now. A
    // failure ends the capture here; the loop reports it when it runs again.
    if (state_ != State::Capturing || taking_)
        return;
    try {
        takeWaiting();
    } catch (const CaptureError& error) {
        pendingFailure_ = fail(error);
    } catch (const std::exception& error) {
        pendingFailure_ = fail(CaptureError(QString::fromLocal8Bit(error.what())));
    }
}

void CaptureRun::takeWaiting() {
    const Taking taking(taking_);
    if (port_.inBufferCount() >= 1)
        record(port_.input());
}

void CaptureRun::takeTheRest() {
    // The capture ends: whatever the port has received still goes into the
    // file. The port's own errors no longer matter; the file's do.
    const Taking taking(taking_);
    for (int read = 0; read < kFinalReads; ++read) {
        QByteArray chunk;
        try {
            port_.collectReceived();
            if (port_.inBufferCount() < 1)
                return;
            chunk = port_.input();
        } catch (const CaptureError&) {
            return;
        }
        record(chunk);
    }
}

void CaptureRun::record(QByteArrayView chunk) {
    const RecordFramer::Completed done = framer_.take(chunk);
    if (done.records == 0)
        return;
    // Hand every completed record to the system in one write; then show the
    // newest, so the box never shows a record that did not reach the file.
    file_.write(done.lines);
    view_.setStatusText(QString::fromLatin1(done.lastRecord));
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
        takeTheRest();
        port_.setReceiveHandler({});
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
        return std::exchange(pendingFailure_, std::nullopt);
    const bool capturing = state_ == State::Capturing;
    if (!capturing) {
        state_ = State::Ended;
        return {};
    }

    try {
        takeTheRest();
        state_ = State::Ended;
        port_.setReceiveHandler({});
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
    port_.setReceiveHandler({});
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

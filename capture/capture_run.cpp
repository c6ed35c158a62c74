#include "capture_run.h"

#include "capture_view.h"
#include "file_name.h"
#include "serial_port.h"
#include "status_texts.h"

#include <QCoreApplication>

#include <new>
#include <utility>

namespace talvern {

namespace {

const QString kLineSettings = QStringLiteral("9600,N,8,1");

// Ends a capture's final reading after this many reads even if the line keeps
// sending: what arrived before the end is in by then.
constexpr int kFinalReads = 1000;

// The longest a record written waits before the disk has it; and, less a
// tenth, the least time between two syncs.
constexpr int kSyncMs = 1000;
constexpr int kSyncGapMs = kSyncMs * 9 / 10;

// How long bytes may go without a CR before the status box says so: a record
// at 9600 baud takes a fraction of a second.
constexpr int kLineEndNoticeMs = 3000;

// The first bytes of what waits for a CR, as a person can read them.
QString preview(QByteArrayView bytes) {
    constexpr qsizetype kShown = 24;
    QString text;
    for (const char c : bytes.first(std::min(bytes.size(), kShown))) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\n')
            text += QStringLiteral("<LF>");
        else if (b < 0x20 || b == 0x7f)
            text += QStringLiteral("<%1>").arg(b, 2, 16, QLatin1Char('0')).toUpper();
        else
            text += QChar(b);
    }
    return bytes.size() > kShown ? text + QStringLiteral("...") : text;
}

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
                       CaptureView& view, const Alarms& alarms, Clock clock)
    : settings_(settings)
    , port_(port)
    , file_(file)
    , view_(view)
    , lineEndCheck_(alarms())
    , sync_(alarms())
    , clock_(std::move(clock))
    , lineErrors_(port, view, alarms(), clock_) {
    // A sync ends on the file's own thread; the capture hears of it on its
    // own, and a sync that failed ends the capture.
    file_.setSyncedHandler([this] { fromEventLoop([this] { file_.check(); }); });
}

CaptureRun::~CaptureRun() {
    file_.setSyncedHandler({});
}

template <typename Step> Outcome CaptureRun::ending(Step&& step) {
    try {
        step();
        return {};
    } catch (const CaptureError& error) {
        return fail(error);
    } catch (const std::bad_alloc&) {
        return fail(captureFailure(QStringLiteral("the program ran out of memory")));
    } catch (const std::exception& error) {
        return fail(captureFailure(QString::fromLocal8Bit(error.what())));
    }
}

template <typename Step> void CaptureRun::fromEventLoop(Step&& step) {
    // Called back from whatever event loop runs, maybe a dialog's: a failure
    // ends the capture here, and the loop or Exit reports it.
    if (state_ != State::Capturing)
        return;
    if (Outcome failure = ending(std::forward<Step>(step)))
        pendingFailure_ = std::move(failure);
}

Outcome CaptureRun::start() {
    // One capture at a time; and after Exit or a failure nothing starts again.
    if (state_ == State::Capturing || state_ == State::Saving || state_ == State::Ended)
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
    portNumber_ = settings_.PortNumber;
    framer_.reset();
    noticed_ = -1;
    lastSync_ = -1;
    if (Outcome failure = ending([this] {
            file_.open(withHomeFolder(settings_.CaptureFileName));
            port_.setCommPort(portNumber_);
            port_.setSettings(kLineSettings);
            port_.setInputLen(0);
            port_.setPortOpen(true);
            file_.empty();
        }))
        return failure;

    // Joined in the middle of a record: its tail is dropped, never saved as one.
    if (port_.openedMidStream())
        framer_.skipRecord();
    view_.setAbortEnabled(true);
    state_ = State::Capturing;
    lineErrors_.start();
    port_.setReceiveHandler([this] { onReceived(); });
    return captureLoop();
}

Outcome CaptureRun::captureLoop() {
    Outcome outcome;
    Outcome failure = ending([&] {
        for (;;) {
            // Let the window work; this waits while nothing happens. Abort, Exit or
            // a failure handled in there ends the loop before it touches anything.
            view_.processEvents();
            if (state_ != State::Capturing) {
                outcome = std::exchange(pendingFailure_, std::nullopt);
                return;
            }
            takeWaiting();
        }
    });
    return failure ? failure : outcome;
}

void CaptureRun::onReceived() {
    // Bytes arrived, maybe inside a dialog's event loop: take them now.
    if (!taking_)
        fromEventLoop([this] { takeWaiting(); });
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
    lineErrors_.bytesArrived();
    const qint64 before = framer_.sinceLineEnd();
    const RecordFramer::Completed done = framer_.take(chunk);

    // Bytes that wait for a CR: a new stretch of them if none waited or a CR
    // came; the check tells of them if they go on too long.
    const qint64 waiting = framer_.sinceLineEnd();
    const bool lineEnded = before > 0 && waiting < before + chunk.size();
    if (waiting > 0) {
        if (before == 0 || lineEnded)
            withoutLineEndSince_ = clock_();
        if (!lineEndCheck_->isSet())
            setLineEndCheck(kLineEndNoticeMs);
    }
    // A CR ends the notice of bytes without one, whether or not it ended a
    // record to show instead (the tail of one begun before Start is dropped).
    if (lineEnded && noticed_ >= 0 && done.records == 0)
        view_.setStatusText(QString());
    if (lineEnded)
        noticed_ = -1;
    if (done.records == 0)
        return;
    // Hand every completed record to the system in one write; then show the
    // newest, so the box never shows a record that did not reach the file.
    file_.write(done.lines);
    lineErrors_.showRecord(recordText(done.lastRecord));
    noticed_ = -1;
    syncSoon();
}

void CaptureRun::syncSoon() {
    // The first write after a quiet while goes to the disk at once, in the
    // same wake-up; later ones wait for the alarm, so the disk is asked about
    // once a second at most however fast records come.
    if (sync_->isSet())
        return;
    const qint64 since = lastSync_ < 0 ? kSyncMs : clock_() - lastSync_;
    if (since >= kSyncGapMs)
        return syncNow();
    sync_->set(int(kSyncMs - since), [this] { fromEventLoop([this] { syncNow(); }); });
}

void CaptureRun::syncNow() {
    // The file's worker waits for the drive; the capture goes on meanwhile. A
    // failure of a sync that has ended is told at once; one still under way
    // is told when it ends.
    file_.sync();
    lastSync_ = clock_();
    file_.check();
}

void CaptureRun::saveFile() {
    // Readings that an instrument ended with LF alone are kept as a last
    // line, and so is what the status box told of as never ending in a CR.
    // Part of a record cut off by the end is not.
    if (const QByteArrayView kept = framer_.keptAtEnd(noticed_ >= 0); !kept.isEmpty())
        file_.write(kept.toByteArray() + QByteArrayLiteral("\r\n"));
    framer_.reset();
    stopAlarms();
    state_ = State::Saving;
    closeFile();
}

void CaptureRun::closeFile() {
    // The last records go to the drive, which may take as long as it needs;
    // the window answers meanwhile.
    file_.sync();
    view_.waitForSave(file_);
    file_.close();
}

void CaptureRun::stopAlarms() {
    lineEndCheck_->cancel();
    sync_->cancel();
    lineErrors_.stop();
}

void CaptureRun::setLineEndCheck(qint64 ms) {
    lineEndCheck_->set(int(ms), [this] { fromEventLoop([this] { checkForLineEnds(); }); });
}

void CaptureRun::checkForLineEnds() {
    const qint64 waiting = framer_.sinceLineEnd();
    if (waiting == 0)
        return;
    const qint64 age = clock_() - withoutLineEndSince_;
    if (age < kLineEndNoticeMs)
        return setLineEndCheck(kLineEndNoticeMs - age);
    // Said again while more arrives; a line gone quiet is told of once.
    if (waiting == noticed_)
        return;
    noticed_ = waiting;
    view_.setStatusText(noLineEndNotice());
    setLineEndCheck(kLineEndNoticeMs);
}

QString CaptureRun::noLineEndNotice() const {
    return QStringLiteral("%1 bytes received but no CR (13) to end a record: \"%2\"")
        .arg(framer_.sinceLineEnd())
        .arg(preview(framer_.pending()));
}

CaptureError CaptureRun::captureFailure(const QString& reason) const {
    QString message = QStringLiteral("Capturing from COM%1 into capture file \"%2\": %3")
                          .arg(portNumber_)
                          .arg(file_.name(), reason);
    if (noticed_ >= 0)
        message += QStringLiteral(" (%1)").arg(noLineEndNotice());
    return CaptureError(message);
}

Outcome CaptureRun::abort() {
    // Abort or Exit already saves the file: this one has nothing to add.
    if (state_ == State::Ended || state_ == State::Saving)
        return {};
    if (state_ != State::Capturing) {
        // Nothing is open: say so again and touch nothing.
        view_.setStatusText(QStringLiteral("Upload Abort"));
        return {};
    }

    QString lost;
    if (Outcome failure = ending([&] {
            // Nothing more is read: the port is released before the drive is
            // waited for, and holds nothing meanwhile.
            takeTheRest();
            lost = lineErrors_.finish();
            port_.setReceiveHandler({});
            port_.setOutput(QByteArray());
            port_.setPortOpen(false);
            saveFile();
        }))
        return failure;
    // Bytes the line lost stay told after the capture.
    view_.setStatusText(lost.isEmpty() ? QStringLiteral("Upload Abort")
                                       : QStringLiteral("Upload Abort — ") + lost);
    state_ = State::Aborted;
    wakeLoop();
    return {};
}

Outcome CaptureRun::exit() {
    if (state_ == State::Saving)
        return {};
    if (state_ == State::Ended)
        return std::exchange(pendingFailure_, std::nullopt);
    const bool capturing = state_ == State::Capturing;
    if (!capturing) {
        state_ = State::Ended;
        return {};
    }

    if (Outcome failure = ending([this] {
            takeTheRest();
            lineErrorsAtExit_ = lineErrors_.finish();
            port_.setReceiveHandler({});
            closePort();
            saveFile();
            state_ = State::Ended;
        }))
        return failure;
    wakeLoop();
    return {};
}

void CaptureRun::wakeLoop() {
    // Abort or Exit handled among the events posted before a pass would leave
    // that pass waiting for some other event before the loop sees it: one is
    // posted for it.
    if (QCoreApplication* application = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            application, [] {}, Qt::QueuedConnection);
}

Outcome CaptureRun::fail(const CaptureError& error) {
    // Leave nothing open behind the failure: the records written so far stay in
    // the file, and the port is free for the next program.
    state_ = State::Ended;
    stopAlarms();
    port_.setReceiveHandler({});
    Failure failure{error.message()};
    framer_.reset(); // what waited for a CR is lost; its memory is free again
    closePort();
    try {
        closeFile();
    } catch (const CaptureError& closing) {
        // A drive fails the close as it failed the sync: said once.
        if (!failure.message.contains(closing.message()))
            failure.message += QLatin1Char('\n') + closing.message();
    }
    wakeLoop();
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

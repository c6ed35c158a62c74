#include "serial_port_adapter.h"

#include "comm_setup.h"
#include "failure.h"
#include "system_error.h"

#include <windows.h>

#include <QWinEventNotifier>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>

namespace talvern {

namespace {

// Bytes the system has received for the port and nobody has read. The call
// also clears the port's error flags: each kind raised since the call before is
// counted into `errors` (once, however often it happened meanwhile).
DWORD receivedCount(HANDLE handle, LineErrors& errors) {
    DWORD flags = 0;
    COMSTAT status{};
    if (!::ClearCommError(handle, &flags, &status))
        return 0;
    errors.framing += (flags & CE_FRAME) != 0;
    errors.parity += (flags & CE_RXPARITY) != 0;
    errors.overrun += (flags & CE_OVERRUN) != 0;
    errors.bufferOverrun += (flags & CE_RXOVER) != 0;
    errors.breaks += (flags & CE_BREAK) != 0;
    return status.cbInQue;
}

} // namespace

// The open port: its handle, the read in flight (or the pause instead of it),
// and what came in and has not been taken yet. Only while the port is open.
class SerialPortAdapter::System {
public:
    System(HANDLE handle, int pauseMs)
        : handle_(handle)
        , pacing_(pauseMs, [this] { pauseEnded(); }) {
        event_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        drainEvent_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        writeEvent_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }

    ~System() {
        // Stop the read in flight and wait until the system has let go of its
        // buffer; only then close.
        pacing_.stop();
        notifier_.reset();
        if (reading_) {
            ::CancelIoEx(handle_, &read_);
            DWORD ignored = 0;
            ::GetOverlappedResult(handle_, &read_, &ignored, TRUE);
        }
        ::CloseHandle(handle_);
        if (event_)
            ::CloseHandle(event_);
        if (drainEvent_)
            ::CloseHandle(drainEvent_);
        if (writeEvent_)
            ::CloseHandle(writeEvent_);
    }

    HANDLE handle() const { return handle_; }
    bool eventsCreated() const { return event_ && drainEvent_ && writeEvent_; }

    // Begins reading; from then on each completed read wakes the event loop
    // and, as an event of its own, calls `announce`. Returns 0 or the system's
    // error.
    DWORD startReading(std::function<void()> announce) {
        announce_ = std::move(announce);
        notifier_ = std::make_unique<QWinEventNotifier>(event_);
        QObject::connect(notifier_.get(), &QWinEventNotifier::activated, notifier_.get(),
                         [this] { readCompleted(); });
        return issueRead();
    }

    // Takes in at once what the line has sent: the read in flight, ended early,
    // and whatever the system holds besides. Then reads on as before.
    void collect() {
        pacing_.stop();
        if (reading_) {
            DWORD count = 0;
            if (!::GetOverlappedResult(handle_, &read_, &count, FALSE) &&
                ::GetLastError() == ERROR_IO_INCOMPLETE) {
                ::CancelIoEx(handle_, &read_);
                ::GetOverlappedResult(handle_, &read_, &count, TRUE);
            }
            reading_ = false;
            received.append(buffer_, qsizetype(count));
        }
        if (error)
            return;
        takeQueued();
        if (const DWORD reason = issueRead())
            stop(QStringLiteral("reading failed: %1").arg(systemErrorText(reason)));
    }

    // A read waits for its first byte with no time limit, costing nothing
    // while the line is quiet; writes give up after two seconds. Each read asks
    // for one byte, or for exactly as many as the system already holds, so it
    // completes as soon as they are there, however the line is paced; the
    // 20 ms between bytes only bounds a read that the system's count misled.
    // (Windows also documents {MAXDWORD, MAXDWORD, T} as returning at once with
    // what has arrived, but Wine keeps such a read waiting for a full buffer,
    // and the character event that Qt's port waits for never comes there on a
    // pseudo-terminal.) 0 or the system's error.
    static DWORD setTimeouts(HANDLE handle) {
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = 20;
        timeouts.WriteTotalTimeoutConstant = 2000;
        return ::SetCommTimeouts(handle, &timeouts) ? 0 : ::GetLastError();
    }

    QByteArray received;
    // The error flags of every look at the port since it opened.
    LineErrors errors{.counted = true};
    // Why reading stopped, once; reported at the next poll.
    std::optional<QString> error;

    // Sends all of `bytes` or returns the system's error.
    DWORD write(const QByteArray& bytes) {
        OVERLAPPED write{};
        write.hEvent = writeEvent_;
        DWORD written = 0;
        if (!::WriteFile(handle_, bytes.constData(), DWORD(bytes.size()), nullptr, &write) &&
            ::GetLastError() != ERROR_IO_PENDING)
            return ::GetLastError();
        if (!::GetOverlappedResult(handle_, &write, &written, TRUE))
            return ::GetLastError();
        return written == DWORD(bytes.size()) ? 0 : ERROR_WRITE_FAULT;
    }

private:
    DWORD queued() { return receivedCount(handle_, errors); }

    // Waits a moment for a read of bytes already there; gives it up after that.
    bool finish(OVERLAPPED& read, DWORD& count) {
        if (::WaitForSingleObject(read.hEvent, 1000) != WAIT_OBJECT_0)
            ::CancelIoEx(handle_, &read);
        return ::GetOverlappedResult(handle_, &read, &count, TRUE) != FALSE;
    }

    // What the system holds besides the byte just read: exactly that much, so
    // no read waits; a line that never pauses is read a bounded number of times.
    // How many bytes that took.
    qsizetype takeQueued() {
        qsizetype taken = 0;
        DWORD waiting = queued();
        for (int reads = 0; reads < 16 && waiting > 0; ++reads, waiting = queued()) {
            OVERLAPPED drain{};
            drain.hEvent = drainEvent_; // not the one that wakes the event loop
            DWORD count = 0;
            if (!::ReadFile(handle_, buffer_, std::min<DWORD>(waiting, sizeof buffer_), nullptr,
                            &drain) &&
                ::GetLastError() != ERROR_IO_PENDING)
                break;
            // A read given up may still have taken bytes: they are kept.
            const bool finished = finish(drain, count);
            received.append(buffer_, qsizetype(count));
            taken += qsizetype(count);
            if (!finished || count == 0)
                break;
        }
        return taken;
    }

    // One byte: the read completes the moment the line sends anything.
    DWORD issueRead() {
        read_ = OVERLAPPED{};
        read_.hEvent = event_; // ReadFile resets it
        if (!::ReadFile(handle_, buffer_, 1, nullptr, &read_) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            reading_ = false;
            return ::GetLastError();
        }
        // Pending, or done already: either way the event is or will be set.
        reading_ = true;
        return 0;
    }

    void readCompleted() {
        if (!reading_)
            return;
        DWORD count = 0;
        if (!::GetOverlappedResult(handle_, &read_, &count, FALSE)) {
            const DWORD reason = ::GetLastError();
            if (reason == ERROR_IO_INCOMPLETE)
                return;
            reading_ = false;
            stop(QStringLiteral("reading failed; the line may have been disconnected (%1)")
                     .arg(systemErrorText(reason)));
            return;
        }
        reading_ = false;
        // The timeouts make a read wait for its first byte; one that ends with
        // none means the line is gone, and reading again would only spin.
        if (count == 0) {
            stop(QStringLiteral("reading failed; the line may have been disconnected"));
            return;
        }
        received.append(buffer_, qsizetype(count));
        readOn(qsizetype(count) + takeQueued());
        announce();
    }

    // While bytes trickle in, the port is left alone for the pause while the
    // system gathers what comes; else the next read waits for the next byte
    // at once.
    void readOn(qsizetype found) {
        if (found > 0 && pacing_.pauseAfter(found, [this] { return queued(); }))
            return;
        if (const DWORD reason = issueRead())
            stop(QStringLiteral("reading failed: %1").arg(systemErrorText(reason)));
    }

    void pauseEnded() {
        if (reading_ || error)
            return;
        const qsizetype taken = takeQueued();
        if (taken == 0)
            pacing_.pauseFoundNothing();
        readOn(taken);
        if (taken > 0)
            announce();
    }

    void stop(const QString& reason) {
        pacing_.stop();
        if (!error)
            error = reason;
        // No more wake-ups from a read; the failure is announced like bytes.
        if (notifier_)
            notifier_->setEnabled(false);
        announce();
    }

    void announce() {
        // Queued: the handler may close the port, and so end this object.
        if (announce_ && notifier_)
            QMetaObject::invokeMethod(notifier_.get(), announce_, Qt::QueuedConnection);
    }

    HANDLE handle_;
    HANDLE event_ = nullptr;
    HANDLE drainEvent_ = nullptr;
    HANDLE writeEvent_ = nullptr;
    OVERLAPPED read_{};
    bool reading_ = false;
    char buffer_[4096];
    std::unique_ptr<QWinEventNotifier> notifier_;
    std::function<void()> announce_;
    ReadPacing pacing_;
};

// Windows lists every port to every user: no port is hidden, so `closedPorts`
// has nothing to add.
SerialPortAdapter::SerialPortAdapter(ComDevices devices, std::function<QStringList()> closedPorts,
                                     int readPauseMs)
    : devices_(std::move(devices))
    , closedPorts_(std::move(closedPorts))
    , readPauseMs_(readPauseMs) {}

SerialPortAdapter::~SerialPortAdapter() = default;

std::unique_ptr<DescribedPort> systemSerialPort(ComDevices devices) {
    return std::make_unique<SerialPortAdapter>(std::move(devices));
}

QString SerialPortAdapter::deviceFor(int number) const {
    return comDevice(devices_(), number);
}

QString SerialPortAdapter::portLabel() const {
    return QStringLiteral("COM%1").arg(commPort_);
}

void SerialPortAdapter::fail(const QString& what) const {
    throw CaptureError(QStringLiteral("Serial port %1: %2").arg(portLabel(), what));
}

void SerialPortAdapter::setCommPort(qint16 number) {
    if (system_)
        fail(QStringLiteral("cannot select another port while this one is open"));

    // Look the port up now, so that a missing one fails before anything opens.
    commPort_ = number;
    const QStringList devices = devices_();
    device_ = comDevice(devices, number);
    if (device_.isEmpty())
        fail(noSuchPort(devices, false));
}

void SerialPortAdapter::setSettings(const QString& settings) {
    const std::optional<LineSettings> line = parseLineSettings(settings);
    if (!line)
        fail(invalidLineSettings(settings));
    line_ = *line;
    if (system_)
        if (const DWORD error = applyLine(system_->handle(), line_))
            fail(QStringLiteral("cannot set the line: %1").arg(systemErrorText(error)));
}

void SerialPortAdapter::setInputLen(qint16 length) {
    if (length < 0)
        fail(QStringLiteral("invalid read length %1").arg(length));
    inputLen_ = length;
}

void SerialPortAdapter::setPortOpen(bool open) {
    if (!open) {
        // Release the port; closing a closed port does nothing.
        system_.reset();
        return;
    }
    if (system_)
        fail(QStringLiteral("already open"));
    if (device_.isEmpty())
        setCommPort(commPort_);

    const std::wstring path = L"\\\\.\\COM" + std::to_wstring(commPort_);
    const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        QString reason = systemErrorText(error);
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            reason += QStringLiteral("\n\nAnother program may be using %1: close it and try "
                                     "again.")
                          .arg(portLabel());
        fail(reason);
    }
    auto port = std::make_unique<System>(handle, readPauseMs_);
    if (!port->eventsCreated())
        fail(QStringLiteral("cannot open: %1").arg(systemErrorText(::GetLastError())));

    if (const DWORD error = setUpPort(handle, line_))
        fail(QStringLiteral("cannot set the line: %1").arg(systemErrorText(error)));
    if (const DWORD error = System::setTimeouts(handle))
        fail(QStringLiteral("cannot set the timeouts: %1").arg(systemErrorText(error)));

    // Drop whatever arrived before this moment, then start listening. Bytes
    // that come before the line has been quiet a while are the middle of a
    // record that began before the port opened.
    if (!::PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR))
        fail(QStringLiteral("cannot clear the input: %1").arg(systemErrorText(::GetLastError())));
    ::Sleep(kQuietLineMs);
    midStream_ = receivedCount(handle, port->errors) > 0;
    if (const DWORD error = port->startReading([this] {
            if (onReceive_)
                onReceive_();
        }))
        fail(QStringLiteral("cannot read: %1").arg(systemErrorText(error)));
    system_ = std::move(port);
}

void SerialPortAdapter::collectReceived() {
    if (system_)
        system_->collect();
}

void SerialPortAdapter::setReceiveHandler(std::function<void()> handler) {
    onReceive_ = std::move(handler);
}

QString SerialPortAdapter::missingPortNote() const {
    // Windows lists every port to every user: nothing is hidden.
    return QString();
}

bool SerialPortAdapter::portOpen() const {
    return system_ != nullptr;
}

void SerialPortAdapter::throwPendingError() {
    if (!system_->error)
        return;
    const QString reason = *system_->error;
    system_->error.reset();
    fail(reason);
}

qint64 SerialPortAdapter::inBufferCount() {
    if (!system_)
        fail(QStringLiteral("not open"));
    // An error counts only once everything read before it has been taken.
    if (system_->received.isEmpty())
        throwPendingError();
    return system_->received.size();
}

QByteArray SerialPortAdapter::input() {
    if (!system_)
        fail(QStringLiteral("not open"));
    if (system_->received.isEmpty())
        throwPendingError();
    if (inputLen_ == 0 || system_->received.size() <= inputLen_)
        return std::exchange(system_->received, QByteArray());
    const QByteArray head = system_->received.left(inputLen_);
    system_->received.remove(0, inputLen_);
    return head;
}

LineErrors SerialPortAdapter::lineErrors() {
    // The flags raised since the last read, and what the reads counted.
    if (!system_)
        return {};
    receivedCount(system_->handle(), system_->errors);
    return system_->errors;
}

void SerialPortAdapter::setOutput(const QByteArray& bytes) {
    // Nothing to send, or nowhere to send it: nothing to do.
    if (bytes.isEmpty() || !system_)
        return;
    if (const DWORD error = system_->write(bytes))
        fail(QStringLiteral("cannot send: %1").arg(systemErrorText(error)));
}

} // namespace talvern

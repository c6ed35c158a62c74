#include "serial_port_adapter.h"

#include "failure.h"
#include "port_access.h"
#include "port_holders.h"

#include <QFile>
#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>

#include <linux/serial.h>

#include <cerrno>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>

namespace talvern {

namespace {

QSerialPort::Parity qtParity(LineSettings::Parity parity) {
    switch (parity) {
    case LineSettings::Parity::Even:
        return QSerialPort::EvenParity;
    case LineSettings::Parity::Odd:
        return QSerialPort::OddParity;
    case LineSettings::Parity::Mark:
        return QSerialPort::MarkParity;
    case LineSettings::Parity::Space:
        return QSerialPort::SpaceParity;
    case LineSettings::Parity::None:
        break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits qtStopBits(LineSettings::StopBits stopBits) {
    switch (stopBits) {
    case LineSettings::StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two:
        return QSerialPort::TwoStop;
    case LineSettings::StopBits::One:
        break;
    }
    return QSerialPort::OneStop;
}

} // namespace

// Qt's port, for the adapter's whole life, an error it reported while open,
// and the pause between reads of a trickle.
class SerialPortAdapter::System {
public:
    QSerialPort port;
    std::optional<QString> pendingError;
    ReadPacing pacing;

    explicit System(int pauseMs)
        : pacing(pauseMs, [this] { resume(); }) {}

    QString describeError(QSerialPort::SerialPortError error, const QString& device) const;
    bool applyLine(const LineSettings& line);
    bool sendsWithin(int ms) const;
    void watchReadiness();
    void paceAfter(qint64 found);
    void resume();

private:
    // What wakes Qt's port for each arrival: it reads the line on its own as
    // soon as the descriptor is readable, whether anyone takes the bytes or not.
    QPointer<QSocketNotifier> readiness_;
};

void SerialPortAdapter::System::watchReadiness() {
    // Qt keeps one notifier per kind on the open port. Without it (another Qt
    // build), the port is read on every arrival: the pause is only a saving.
    readiness_.clear();
    pacing.restart();
    for (QSocketNotifier* notifier :
         port.findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly))
        if (notifier->type() == QSocketNotifier::Read && notifier->isEnabled())
            readiness_ = notifier;
}

void SerialPortAdapter::System::paceAfter(qint64 found) {
    // While bytes trickle in, leave the port alone for the pause and let the
    // system's buffer gather what comes meanwhile. Every byte still goes
    // through Qt's reads, in order; a read that Qt does on its own meanwhile
    // only ends the pause early.
    if (!port.isOpen() || !readiness_)
        return;
    const bool trickle = pacing.pauseAfter(found, [this] {
        int waiting = 0;
        return ::ioctl(int(port.handle()), FIONREAD, &waiting) == 0 ? waiting : 0;
    });
    readiness_->setEnabled(!trickle);
}

void SerialPortAdapter::System::resume() {
    // Whatever gathered is read now, in this wake-up, and announced as any
    // read is (which may start the next pause). A line that went quiet is
    // watched again: nothing more happens until a byte comes, or a hang-up.
    if (!port.isOpen() || !readiness_)
        return;
    int waiting = 0;
    if (::ioctl(int(port.handle()), FIONREAD, &waiting) == 0 && waiting > 0 &&
        port.waitForReadyRead(0))
        return;
    pacing.pauseFoundNothing();
    readiness_->setEnabled(true);
}

SerialPortAdapter::SerialPortAdapter(ComDevices devices, std::function<QStringList()> closedPorts,
                                     int readPauseMs)
    : devices_(std::move(devices))
    , closedPorts_(closedPorts ? std::move(closedPorts) : closedOnboardPorts)
    , readPauseMs_(readPauseMs)
    , system_(std::make_unique<System>(readPauseMs)) {
    // Errors while the port is open (an adapter unplugged, a line hung up) are
    // kept and reported once the bytes read before them have been taken.
    QObject::connect(&system_->port, &QSerialPort::errorOccurred, &system_->port,
                     [this](QSerialPort::SerialPortError error) {
                         if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError ||
                             !system_->port.isOpen() || system_->pendingError)
                             return;
                         system_->pendingError = system_->describeError(error, device_);
                         if (onReceive_)
                             QMetaObject::invokeMethod(
                                 &system_->port, [this] { onReceive_ ? onReceive_() : void(); },
                                 Qt::QueuedConnection);
                     });
    // Bytes that arrive are announced from whatever event loop runs, at once:
    // a posted event of its own would cost every read a second wake-up. The
    // handler may close the port; the port's reading is safe against that.
    QObject::connect(&system_->port, &QSerialPort::readyRead, &system_->port, [this] {
        const qint64 found = system_->port.bytesAvailable();
        if (onReceive_)
            onReceive_();
        system_->paceAfter(found);
    });
}

QString SerialPortAdapter::System::describeError(QSerialPort::SerialPortError error,
                                                 const QString& device) const {
    // A hung-up line or a removed device reads as end of file, which has no
    // system error of its own: the text Qt gives then is left over from an
    // earlier call. Say what happened instead; a real error keeps its reason.
    const bool gone = !QFile::exists(device);
    pollfd line{int(port.handle()), POLLIN, 0};
    const bool hungUp =
        ::poll(&line, 1, 0) == 1 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if (gone || hungUp)
        return QStringLiteral("the line was hung up or the device was removed");
    switch (error) {
    case QSerialPort::ResourceError:
        // The port said bytes had come, then gave none: someone else took them.
        return QStringLiteral("it stopped giving the bytes it received; another program, "
                              "perhaps of another user, may be reading this port");
    case QSerialPort::ReadError:
        return QStringLiteral("reading failed: %1").arg(port.errorString());
    case QSerialPort::WriteError:
        return QStringLiteral("sending failed: %1").arg(port.errorString());
    default:
        return QStringLiteral("the port failed: %1").arg(port.errorString());
    }
}

std::unique_ptr<DescribedPort> systemSerialPort(ComDevices devices) {
    return std::make_unique<SerialPortAdapter>(std::move(devices));
}

SerialPortAdapter::~SerialPortAdapter() {
    system_->port.close();
}

QString SerialPortAdapter::deviceFor(int number) const {
    return comDevice(devices_(), number);
}

QString SerialPortAdapter::missingPortNote() const {
    const QString note = hiddenPortsNote(closedPorts_());
    return note.isEmpty() ? note : QStringLiteral("\n\n") + note;
}

QString SerialPortAdapter::portLabel() const {
    const QString com = QStringLiteral("COM%1").arg(commPort_);
    return device_.isEmpty() ? com : QStringLiteral("%1 (%2)").arg(com, device_);
}

void SerialPortAdapter::fail(const QString& what) const {
    throw CaptureError(QStringLiteral("Serial port %1: %2").arg(portLabel(), what));
}

void SerialPortAdapter::setCommPort(qint16 number) {
    if (system_->port.isOpen())
        fail(QStringLiteral("cannot select another port while this one is open"));

    // Look the device up now, so that a missing port fails before anything opens.
    commPort_ = number;
    const QStringList devices = devices_();
    device_ = comDevice(devices, number);
    if (device_.isEmpty())
        fail(noSuchPort(devices, true) + missingPortNote());
}

void SerialPortAdapter::setSettings(const QString& settings) {
    const std::optional<LineSettings> line = parseLineSettings(settings);
    if (!line)
        fail(invalidLineSettings(settings));
    line_ = *line;
    if (system_->port.isOpen() && !system_->applyLine(line_))
        fail(QStringLiteral("cannot set the line: %1").arg(system_->port.errorString()));
}

void SerialPortAdapter::setInputLen(qint16 length) {
    if (length < 0)
        fail(QStringLiteral("invalid read length %1").arg(length));
    inputLen_ = length;
}

bool SerialPortAdapter::System::applyLine(const LineSettings& line) {
    return port.setBaudRate(line.baudRate) && port.setParity(qtParity(line.parity)) &&
           port.setDataBits(QSerialPort::DataBits(line.dataBits)) &&
           port.setStopBits(qtStopBits(line.stopBits)) &&
           port.setFlowControl(QSerialPort::NoFlowControl);
}

void SerialPortAdapter::setPortOpen(bool open) {
    if (!open) {
        // Release the port; closing a closed port does nothing.
        system_->pacing.stop();
        system_->port.close();
        system_->pendingError.reset();
        return;
    }
    if (system_->port.isOpen())
        fail(QStringLiteral("already open"));
    if (device_.isEmpty())
        setCommPort(commPort_);

    // A port that another program reads would split the stream between the
    // two: refuse it before anything is taken from it.
    const QString holder = otherProcessWithDeviceOpen(device_);
    if (!holder.isEmpty())
        fail(QStringLiteral("it is in use by %1").arg(holder));

    system_->port.setPortName(device_);
    if (!system_->port.open(QIODevice::ReadWrite))
        fail(openFailureReason(system_->port.error(), system_->port.errorString(), device_));

    // Hold it alone: serial programs agree on an advisory lock on the device
    // itself, and one that holds it is reading the line. Then set the line and
    // drop whatever arrived before this moment.
    if (::flock(int(system_->port.handle()), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        system_->port.close();
        const QString holder = lockFileHolder(device_);
        fail(QStringLiteral("it is in use by %1")
                 .arg(holder.isEmpty() ? QStringLiteral("another program") : holder));
    }
    if (!system_->applyLine(line_)) {
        const QString reason = system_->port.errorString();
        system_->port.close();
        fail(QStringLiteral("cannot set the line: %1").arg(reason));
    }
    if (!system_->port.clear(QSerialPort::Input)) {
        const QString reason = system_->port.errorString();
        system_->port.close();
        fail(QStringLiteral("cannot clear the input: %1").arg(reason));
    }
    // Bytes that come before the line has been quiet a while are the middle of
    // a record that began before the port opened. (Bytes that were waiting are
    // no sign of that: a pseudo-terminal, say, keeps what came while closed.)
    midStream_ = system_->sendsWithin(kQuietLineMs);
    // Errors seen while setting the port up were answered above; start clean.
    system_->pendingError.reset();
    system_->watchReadiness();
}

bool SerialPortAdapter::System::sendsWithin(int ms) const {
    pollfd line{int(port.handle()), POLLIN, 0};
    int ready;
    do
        ready = ::poll(&line, 1, ms);
    while (ready < 0 && errno == EINTR);
    return ready > 0 && (line.revents & POLLIN) != 0;
}

bool SerialPortAdapter::portOpen() const {
    return system_->port.isOpen();
}

void SerialPortAdapter::throwPendingError() {
    if (!system_->pendingError)
        return;
    const QString reason = *system_->pendingError;
    system_->pendingError.reset();
    fail(reason);
}

void SerialPortAdapter::collectReceived() {
    if (!system_->port.isOpen())
        return;
    // Only where nothing else reads: a read announced meanwhile would find the
    // bytes gone and report a failed read.
    int waiting = 0;
    if (::ioctl(int(system_->port.handle()), FIONREAD, &waiting) == 0 && waiting > 0)
        system_->port.waitForReadyRead(0);
}

qint64 SerialPortAdapter::inBufferCount() {
    if (!system_->port.isOpen())
        fail(QStringLiteral("not open"));
    // An error counts only once everything read before it has been taken.
    const qint64 count = system_->port.bytesAvailable();
    if (count == 0)
        throwPendingError();
    return count;
}

QByteArray SerialPortAdapter::input() {
    if (!system_->port.isOpen())
        fail(QStringLiteral("not open"));
    if (system_->port.bytesAvailable() == 0)
        throwPendingError();
    return inputLen_ == 0 ? system_->port.readAll() : system_->port.read(inputLen_);
}

LineErrors SerialPortAdapter::lineErrors() {
    // The kernel's counts for the port since its driver took it; a device
    // without them (a pseudo-terminal, some adapters) refuses the call. The
    // kernel keeps them as int: past 2^31 they read as a large number, and at
    // 2^32 they go back, which the capture takes as a new base.
    serial_icounter_struct counts{};
    if (!system_->port.isOpen() || ::ioctl(int(system_->port.handle()), TIOCGICOUNT, &counts) != 0)
        return {};
    const auto count = [](int value) {
        return quint64(quint32(value));
    };
    return {true,
            count(counts.frame),
            count(counts.parity),
            count(counts.overrun),
            count(counts.buf_overrun),
            count(counts.brk)};
}

void SerialPortAdapter::setReceiveHandler(std::function<void()> handler) {
    onReceive_ = std::move(handler);
}

void SerialPortAdapter::setOutput(const QByteArray& bytes) {
    // Nothing to send, or nowhere to send it: nothing to do.
    if (bytes.isEmpty() || !system_->port.isOpen())
        return;
    if (system_->port.write(bytes) != bytes.size())
        fail(QStringLiteral("cannot send: %1").arg(system_->port.errorString()));
}

} // namespace talvern

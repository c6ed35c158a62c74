#include "serial_port_adapter.h"

#include "failure.h"
#include "port_access.h"
#include "port_holders.h"

#include <QFile>

#include <cerrno>
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

SerialPortAdapter::SerialPortAdapter(ComDevices devices, std::function<QStringList()> closedPorts)
    : devices_(std::move(devices))
    , closedPorts_(std::move(closedPorts)) {
    // Errors while the port is open (an adapter unplugged, a line hung up) are
    // kept and reported once the bytes read before them have been taken.
    QObject::connect(
        &port_, &QSerialPort::errorOccurred, &port_, [this](QSerialPort::SerialPortError error) {
            if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError ||
                !port_.isOpen() || pendingError_)
                return;
            pendingError_ = describeError(error);
            if (onReceive_)
                QMetaObject::invokeMethod(
                    &port_, [this] { onReceive_ ? onReceive_() : void(); }, Qt::QueuedConnection);
        });
    // Bytes that arrive are announced from whatever event loop runs, at once:
    // a posted event of its own would cost every read a second wake-up. The
    // handler may close the port; the port's reading is safe against that.
    QObject::connect(&port_, &QSerialPort::readyRead, &port_, [this] {
        if (onReceive_)
            onReceive_();
    });
}

QString SerialPortAdapter::describeError(QSerialPort::SerialPortError error) const {
    // A hung-up line or a removed device reads as end of file, which has no
    // system error of its own: the text Qt gives then is left over from an
    // earlier call. Say what happened instead; a real error keeps its reason.
    const bool gone = !QFile::exists(device_);
    pollfd line{int(port_.handle()), POLLIN, 0};
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
        return QStringLiteral("reading failed: %1").arg(port_.errorString());
    case QSerialPort::WriteError:
        return QStringLiteral("sending failed: %1").arg(port_.errorString());
    default:
        return QStringLiteral("the port failed: %1").arg(port_.errorString());
    }
}

std::unique_ptr<DescribedPort> systemSerialPort(ComDevices devices) {
    return std::make_unique<SerialPortAdapter>(std::move(devices));
}

SerialPortAdapter::~SerialPortAdapter() {
    port_.close();
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
    if (port_.isOpen())
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
    if (port_.isOpen())
        applyLine();
}

void SerialPortAdapter::setInputLen(qint16 length) {
    if (length < 0)
        fail(QStringLiteral("invalid read length %1").arg(length));
    inputLen_ = length;
}

void SerialPortAdapter::applyLine() {
    if (!port_.setBaudRate(line_.baudRate) || !port_.setParity(qtParity(line_.parity)) ||
        !port_.setDataBits(QSerialPort::DataBits(line_.dataBits)) ||
        !port_.setStopBits(qtStopBits(line_.stopBits)) ||
        !port_.setFlowControl(QSerialPort::NoFlowControl))
        fail(QStringLiteral("cannot set the line: %1").arg(port_.errorString()));
}

void SerialPortAdapter::setPortOpen(bool open) {
    if (!open) {
        // Release the port; closing a closed port does nothing.
        port_.close();
        pendingError_.reset();
        return;
    }
    if (port_.isOpen())
        fail(QStringLiteral("already open"));
    if (device_.isEmpty())
        setCommPort(commPort_);

    // A port that another program reads would split the stream between the
    // two: refuse it before anything is taken from it.
    const QString holder = otherProcessWithDeviceOpen(device_);
    if (!holder.isEmpty())
        fail(QStringLiteral("it is in use by %1").arg(holder));

    port_.setPortName(device_);
    if (!port_.open(QIODevice::ReadWrite))
        fail(openFailureReason(port_.error(), port_.errorString(), device_));

    // Hold it alone, set the line, then drop whatever arrived before this moment.
    try {
        takeExclusively();
        applyLine();
    } catch (const CaptureError&) {
        port_.close();
        throw;
    }
    if (!port_.clear(QSerialPort::Input)) {
        const QString reason = port_.errorString();
        port_.close();
        fail(QStringLiteral("cannot clear the input: %1").arg(reason));
    }
    // Bytes that come before the line has been quiet a while are the middle of
    // a record that began before the port opened. (Bytes that were waiting are
    // no sign of that: a pseudo-terminal, say, keeps what came while closed.)
    midStream_ = sendsWithin(kQuietLineMs);
    // Errors seen while setting the port up were answered above; start clean.
    pendingError_.reset();
}

void SerialPortAdapter::takeExclusively() {
    // Serial programs agree on an advisory lock on the device itself; one that
    // holds it is reading the line.
    if (::flock(int(port_.handle()), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK)
        return;
    const QString holder = lockFileHolder(device_);
    fail(QStringLiteral("it is in use by %1")
             .arg(holder.isEmpty() ? QStringLiteral("another program") : holder));
}

bool SerialPortAdapter::sendsWithin(int ms) const {
    pollfd line{int(port_.handle()), POLLIN, 0};
    int ready;
    do
        ready = ::poll(&line, 1, ms);
    while (ready < 0 && errno == EINTR);
    return ready > 0 && (line.revents & POLLIN) != 0;
}

bool SerialPortAdapter::portOpen() const {
    return port_.isOpen();
}

void SerialPortAdapter::throwPendingError() {
    if (!pendingError_)
        return;
    const QString reason = *pendingError_;
    pendingError_.reset();
    fail(reason);
}

void SerialPortAdapter::collectReceived() {
    if (!port_.isOpen())
        return;
    // Only where nothing else reads: a read announced meanwhile would find the
    // bytes gone and report a failed read.
    int waiting = 0;
    if (::ioctl(int(port_.handle()), FIONREAD, &waiting) == 0 && waiting > 0)
        port_.waitForReadyRead(0);
}

qint64 SerialPortAdapter::inBufferCount() {
    if (!port_.isOpen())
        fail(QStringLiteral("not open"));
    // An error counts only once everything read before it has been taken.
    const qint64 count = port_.bytesAvailable();
    if (count == 0)
        throwPendingError();
    return count;
}

QByteArray SerialPortAdapter::input() {
    if (!port_.isOpen())
        fail(QStringLiteral("not open"));
    if (port_.bytesAvailable() == 0)
        throwPendingError();
    return inputLen_ == 0 ? port_.readAll() : port_.read(inputLen_);
}

void SerialPortAdapter::setReceiveHandler(std::function<void()> handler) {
    onReceive_ = std::move(handler);
}

void SerialPortAdapter::setOutput(const QByteArray& bytes) {
    // Nothing to send, or nowhere to send it: nothing to do.
    if (bytes.isEmpty() || !port_.isOpen())
        return;
    if (port_.write(bytes) != bytes.size())
        fail(QStringLiteral("cannot send: %1").arg(port_.errorString()));
}

} // namespace talvern

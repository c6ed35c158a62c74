#include "serial_port_adapter.h"

#include "failure.h"
#include "port_access.h"

namespace talvern {

namespace {

// What an error seen during a capture means for the user. The system's text
// alone can mislead: a hung-up line reads as end of file, with no error of its own.
QString describe(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::ResourceError:
        return QStringLiteral("the device was removed or became unavailable");
    case QSerialPort::ReadError:
        return QStringLiteral("reading failed; the line may have been disconnected");
    case QSerialPort::WriteError:
        return QStringLiteral("sending failed");
    default:
        return QStringLiteral("the port failed");
    }
}

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

SerialPortAdapter::SerialPortAdapter(ComDevices devices)
    : devices_(std::move(devices)) {
    // Errors while the port is open (an adapter unplugged, a line hung up) are
    // kept and reported at the capture's next poll, once.
    QObject::connect(
        &port_, &QSerialPort::errorOccurred, &port_, [this](QSerialPort::SerialPortError error) {
            if (error != QSerialPort::NoError && port_.isOpen() && !pendingError_)
                pendingError_ = QStringLiteral("%1 (%2)").arg(describe(error), port_.errorString());
        });
}

SerialPortAdapter::~SerialPortAdapter() {
    port_.close();
}

QString SerialPortAdapter::deviceFor(int number) const {
    return comDevice(devices_(), number);
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
    if (device_.isEmpty()) {
        QStringList found;
        for (int n = 1; n <= devices.size(); ++n)
            if (!devices[n - 1].isEmpty())
                found.append(QStringLiteral("COM%1 = %2").arg(n).arg(devices[n - 1]));
        fail(found.isEmpty()
                 ? QStringLiteral("no such port: this system reports no serial ports")
                 : QStringLiteral("no such port: this system has %1").arg(found.join(", ")));
    }
}

void SerialPortAdapter::setSettings(const QString& settings) {
    const std::optional<LineSettings> line = parseLineSettings(settings);
    if (!line)
        fail(QStringLiteral("invalid line settings \"%1\" (expected baud,parity,data bits,stop "
                            "bits such as \"9600,N,8,1\")")
                 .arg(settings));
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

    port_.setPortName(device_);
    if (!port_.open(QIODevice::ReadWrite))
        fail(openFailureReason(port_.error(), port_.errorString(), device_));

    // Set the line, then drop whatever arrived before this moment.
    try {
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
    // Errors seen while setting the port up were answered above; start clean.
    pendingError_.reset();
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

qint64 SerialPortAdapter::inBufferCount() {
    if (!port_.isOpen())
        fail(QStringLiteral("not open"));
    throwPendingError();
    return port_.bytesAvailable();
}

QByteArray SerialPortAdapter::input() {
    if (!port_.isOpen())
        fail(QStringLiteral("not open"));
    throwPendingError();
    return inputLen_ == 0 ? port_.readAll() : port_.read(inputLen_);
}

void SerialPortAdapter::setOutput(const QByteArray& bytes) {
    // Nothing to send, or nowhere to send it: nothing to do.
    if (bytes.isEmpty() || !port_.isOpen())
        return;
    if (port_.write(bytes) != bytes.size())
        fail(QStringLiteral("cannot send: %1").arg(port_.errorString()));
}

} // namespace talvern

#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace talvern {

// The serial port as the capture uses it, one operation per property of the
// port component. Every operation may throw CaptureError, naming the port.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Selects COM n; only while the port is closed.
    virtual void setCommPort(qint16 number) = 0;
    // Line settings such as "9600,N,8,1": baud, parity, data bits, stop bits.
    virtual void setSettings(const QString& settings) = 0;
    // How many bytes a read returns at most; 0 means everything waiting.
    virtual void setInputLen(qint16 length) = 0;
    // Opens (bytes received before are not seen) or closes (releases) the port.
    virtual void setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;
    // Received bytes not read yet.
    virtual qint64 inBufferCount() = 0;
    // Takes the waiting bytes, unchanged, one byte per character.
    virtual QByteArray input() = 0;
    // Queues bytes for sending.
    virtual void setOutput(const QByteArray& bytes) = 0;
};

} // namespace talvern

#pragma once

#include "line_settings.h"
#include "port_mapping.h"
#include "serial_port.h"

#include <functional>
#include <memory>
#include <optional>

namespace talvern {

// The capture's serial port on Windows, on the Win32 communications API: COM n
// opens \\.\COMn. Reading is one overlapped ReadFile of a single byte after
// another, completing as soon as the line sends it, and the bytes that came
// with it are taken at once by the system's count: every byte is handed on
// promptly, paused line or not. The read's event wakes the thread's event loop,
// so a capture waiting for data costs nothing. The system's list of COM ports
// comes through a ComDevices function.
class SerialPortAdapter final : public SerialPort {
public:
    explicit SerialPortAdapter(ComDevices devices = systemComDevices);
    ~SerialPortAdapter() override;

    void setCommPort(qint16 number) override;
    void setSettings(const QString& settings) override;
    void setInputLen(qint16 length) override;
    void setPortOpen(bool open) override;
    bool portOpen() const override;
    qint64 inBufferCount() override;
    void collectReceived() override;
    bool openedMidStream() const override { return midStream_; }
    QByteArray input() override;
    void setOutput(const QByteArray& bytes) override;
    void setReceiveHandler(std::function<void()> handler) override;

    // What the system says COM n is (such as \Device\Serial0), or an empty string.
    QString deviceFor(int number) const;
    // What to add where COM n is missing; nothing on Windows, which shows every
    // port to every user.
    QString missingPortNote() const;

private:
    class OpenPort;

    QString portLabel() const;
    [[noreturn]] void fail(const QString& what) const;
    void throwPendingError();

    ComDevices devices_;
    qint16 commPort_ = 1;
    QString device_;
    LineSettings line_;
    qint16 inputLen_ = 0;
    std::function<void()> onReceive_;
    std::unique_ptr<OpenPort> open_; // only while the port is open
    bool midStream_ = false;         // the line was sending as it opened
};

} // namespace talvern

#pragma once

#include "described_port.h"
#include "line_settings.h"
#include "port_mapping.h"

#include <functional>
#include <memory>
#include <optional>

namespace talvern {

// The capture's serial port on Windows, on the Win32 communications API: COM n
// opens \\.\COMn. Reading is one overlapped ReadFile after another, each
// completing 20 ms after the last byte of a burst; its event wakes the thread's
// event loop, so a capture waiting for data costs nothing. The system's list of
// COM ports comes through a ComDevices function.
class SerialPortAdapter final : public DescribedPort {
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
    QString deviceFor(int number) const override;
    QString missingPortNote() const override;

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

#pragma once

#include "described_port.h"
#include "line_settings.h"
#include "port_mapping.h"
#include "read_pacing.h"

#include <functional>
#include <memory>

namespace talvern {

// The capture's serial port on the system's own terms: Qt SerialPort on Linux,
// the Win32 communications API on Windows (COM n opens \\.\COMn there; each
// overlapped read asks for one byte, completes as soon as the line sends it, and
// the bytes that came with it are taken at once by the system's count). COM n
// is looked up through a ComDevices function, which tests replace to point COM1
// at a pseudo-terminal. Arrivals and errors are announced from whatever event
// loop runs, so a capture waiting for data costs nothing; while bytes trickle
// in, they are read in batches a pause apart (read_pacing.h).
class SerialPortAdapter final : public DescribedPort {
public:
    // `closedPorts` lists the on-board ports this user may not open, where the
    // system hides those from the user (Linux); by default the system's own.
    // `readPauseMs`: how long the port is left alone after a read that found
    // little.
    explicit SerialPortAdapter(ComDevices devices = systemComDevices,
                               std::function<QStringList()> closedPorts = {},
                               int readPauseMs = kReadPauseMs);
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
    LineErrors lineErrors() override;
    void setOutput(const QByteArray& bytes) override;
    void setReceiveHandler(std::function<void()> handler) override;

    QString deviceFor(int number) const override;
    QString missingPortNote() const override;

private:
    class System; // the port in the system's terms (on Windows only while open)

    QString portLabel() const;
    [[noreturn]] void fail(const QString& what) const;
    void throwPendingError();

    ComDevices devices_;
    std::function<QStringList()> closedPorts_;
    qint16 commPort_ = 1;
    QString device_;
    LineSettings line_;
    qint16 inputLen_ = 0;
    int readPauseMs_;
    bool midStream_ = false; // the line was sending as it opened
    std::function<void()> onReceive_;
    std::unique_ptr<System> system_;
};

} // namespace talvern

#pragma once

#include "described_port.h"
#include "line_settings.h"
#include "port_access.h"
#include "port_mapping.h"

#include <QSerialPort>

#include <functional>
#include <optional>

namespace talvern {

// The capture's serial port, on QSerialPort. COM n is looked up through a
// ComDevices function, which tests replace to point COM1 at a pseudo-terminal;
// `closedPorts` lists the on-board ports this user may not open.
class SerialPortAdapter final : public DescribedPort {
public:
    explicit SerialPortAdapter(ComDevices devices = systemComDevices,
                               std::function<QStringList()> closedPorts = closedOnboardPorts);
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

    QString deviceFor(int number) const override;
    QString missingPortNote() const override;

private:
    QString portLabel() const;
    [[noreturn]] void fail(const QString& what) const;
    void applyLine();
    void takeExclusively();
    bool sendsWithin(int ms) const;
    void throwPendingError();
    QString describeError(QSerialPort::SerialPortError error) const;

    ComDevices devices_;
    std::function<QStringList()> closedPorts_;
    QSerialPort port_;
    qint16 commPort_ = 1;
    QString device_;
    LineSettings line_;
    qint16 inputLen_ = 0;
    bool midStream_ = false;              // the line was sending as it opened
    std::optional<QString> pendingError_; // an error the port reported while open
    std::function<void()> onReceive_;
};

} // namespace talvern

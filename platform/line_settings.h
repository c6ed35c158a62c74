#pragma once

#include <QSerialPort>
#include <QString>

#include <optional>

namespace talvern {

// A serial line as the port component writes it: "9600,N,8,1" is 9600 baud, no
// parity, 8 data bits, 1 stop bit.
struct LineSettings {
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// Reads "baud,parity,data,stop": parity N, E, O, M or S; data bits 5 to 8; stop
// bits 1, 1.5 or 2. Nothing for any other text.
std::optional<LineSettings> parseLineSettings(const QString& text);

} // namespace talvern

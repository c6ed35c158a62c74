#pragma once

#include <QString>

#include <optional>

namespace talvern {

// A serial line as the port component writes it: "9600,N,8,1" is 9600 baud, no
// parity, 8 data bits, 1 stop bit. The same on every platform; each port adapter
// turns it into its system's terms.
struct LineSettings {
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    qint32 baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;
};

// How long a line must stay quiet once the port is open before the next byte is
// taken as the start of a record: longer than a USB adapter holds bytes back
// (16 ms by default) and than a few characters at 9600 baud (1.04 ms each).
constexpr int kQuietLineMs = 25;

// Reads "baud,parity,data,stop": parity N, E, O, M or S; data bits 5 to 8; stop
// bits 1, 1.5 or 2. Nothing for any other text.
std::optional<LineSettings> parseLineSettings(const QString& text);

// What a port adapter says of settings that do not read.
QString invalidLineSettings(const QString& text);

} // namespace talvern

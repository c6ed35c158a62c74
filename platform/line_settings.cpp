#include "line_settings.h"

#include <QStringList>

namespace talvern {

std::optional<LineSettings> parseLineSettings(const QString& text) {
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return std::nullopt;

    LineSettings line;
    bool ok = false;
    line.baudRate = fields[0].trimmed().toInt(&ok);
    if (!ok || line.baudRate <= 0)
        return std::nullopt;

    const QString parity = fields[1].trimmed().toUpper();
    if (parity == QLatin1String("N"))
        line.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("E"))
        line.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("O"))
        line.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("M"))
        line.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("S"))
        line.parity = QSerialPort::SpaceParity;
    else
        return std::nullopt;

    const int dataBits = fields[2].trimmed().toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        return std::nullopt;
    line.dataBits = QSerialPort::DataBits(dataBits);

    const QString stop = fields[3].trimmed();
    if (stop == QLatin1String("1"))
        line.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        line.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        line.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return line;
}

} // namespace talvern

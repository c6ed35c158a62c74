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
        line.parity = LineSettings::Parity::None;
    else if (parity == QLatin1String("E"))
        line.parity = LineSettings::Parity::Even;
    else if (parity == QLatin1String("O"))
        line.parity = LineSettings::Parity::Odd;
    else if (parity == QLatin1String("M"))
        line.parity = LineSettings::Parity::Mark;
    else if (parity == QLatin1String("S"))
        line.parity = LineSettings::Parity::Space;
    else
        return std::nullopt;

    const int dataBits = fields[2].trimmed().toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        return std::nullopt;
    line.dataBits = dataBits;

    const QString stop = fields[3].trimmed();
    if (stop == QLatin1String("1"))
        line.stopBits = LineSettings::StopBits::One;
    else if (stop == QLatin1String("1.5"))
        line.stopBits = LineSettings::StopBits::OneAndHalf;
    else if (stop == QLatin1String("2"))
        line.stopBits = LineSettings::StopBits::Two;
    else
        return std::nullopt;
    return line;
}

QString invalidLineSettings(const QString& text) {
    return QStringLiteral("invalid line settings \"%1\" (expected baud,parity,data bits,stop "
                          "bits such as \"9600,N,8,1\")")
        .arg(text);
}

} // namespace talvern

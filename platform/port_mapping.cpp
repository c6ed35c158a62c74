#include "port_mapping.h"

#include <QRegularExpression>

#include <algorithm>
#include <tuple>

namespace talvern {

namespace {

// Sort key: kind of port, then its number, then its whole name.
std::tuple<int, qulonglong, QString> comOrderKey(const QString& device) {
    static const QRegularExpression pattern(QStringLiteral("^tty(S|USB|ACM)(\\d+)$"));
    const QString base = device.section(QLatin1Char('/'), -1);
    const QRegularExpressionMatch match = pattern.match(base);
    if (!match.hasMatch())
        return {3, 0, device};
    const QString kind = match.captured(1);
    const int rank = kind == QLatin1String("S") ? 0 : kind == QLatin1String("USB") ? 1 : 2;
    return {rank, match.captured(2).toULongLong(), device};
}

} // namespace

QStringList orderComDevices(QStringList devices) {
    std::sort(devices.begin(), devices.end(),
              [](const QString& a, const QString& b) { return comOrderKey(a) < comOrderKey(b); });
    return devices;
}

QString noSuchPort(const QStringList& devices, bool withDevices) {
    QStringList found;
    for (int n = 1; n <= devices.size(); ++n)
        if (!devices[n - 1].isEmpty())
            found.append(withDevices ? QStringLiteral("COM%1 = %2").arg(n).arg(devices[n - 1])
                                     : QStringLiteral("COM%1").arg(n));
    return found.isEmpty()
               ? QStringLiteral("no such port: this system reports no serial ports")
               : QStringLiteral("no such port: this system has %1").arg(found.join(", "));
}

QString comDevice(const QStringList& devices, int number) {
    if (number < 1 || number > devices.size())
        return QString();
    return devices[number - 1];
}

} // namespace talvern

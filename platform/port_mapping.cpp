#include "port_mapping.h"

#include <QRegularExpression>
#include <QSerialPortInfo>

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

QStringList systemComDevices() {
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
#ifdef Q_OS_WIN
    // COM n is the port of that name, wherever it stands in the system's list.
    QStringList devices;
    for (const QSerialPortInfo& port : ports) {
        bool ok = false;
        const int number = port.portName().mid(3).toInt(&ok);
        if (!port.portName().startsWith(QLatin1String("COM")) || !ok || number < 1 || number > 256)
            continue;
        while (devices.size() < number)
            devices.append(QString());
        devices[number - 1] = port.portName();
    }
    return devices;
#else
    QStringList devices;
    for (const QSerialPortInfo& port : ports)
        devices.append(port.systemLocation());
    return orderComDevices(devices);
#endif
}

QString comDevice(const QStringList& devices, int number) {
    if (number < 1 || number > devices.size())
        return QString();
    return devices[number - 1];
}

} // namespace talvern

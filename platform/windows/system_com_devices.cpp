#include "port_mapping.h"

#include <windows.h>

#include <QRegularExpression>

#include <vector>

namespace talvern {

namespace {

// Every name the system's DOS device list holds, or nothing.
QStringList dosDeviceNames() {
    std::vector<wchar_t> buffer(16 * 1024);
    for (;;) {
        const DWORD length = ::QueryDosDeviceW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (length > 0) {
            QStringList names;
            for (const wchar_t* p = buffer.data(); *p; p += wcslen(p) + 1)
                names.append(QString::fromWCharArray(p));
            return names;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() > 4 * 1024 * 1024)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

// What the system says COMn stands for, such as \Device\Serial0.
QString dosDeviceTarget(const QString& name) {
    wchar_t target[1024] = {};
    if (::QueryDosDeviceW(reinterpret_cast<const wchar_t*>(name.utf16()), target, 1024) == 0)
        return QString();
    return QString::fromWCharArray(target);
}

} // namespace

QStringList systemComDevices() {
    // COM n is the port of that name, whatever else the system has.
    static const QRegularExpression comName(QStringLiteral("^COM([1-9][0-9]{0,2})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    QStringList devices;
    for (const QString& name : dosDeviceNames()) {
        const QRegularExpressionMatch match = comName.match(name);
        if (!match.hasMatch())
            continue;
        const int number = match.captured(1).toInt();
        if (number > 256)
            continue;
        while (devices.size() < number)
            devices.append(QString());
        const QString target = dosDeviceTarget(name);
        devices[number - 1] = target.isEmpty() ? name.toUpper() : target;
    }
    return devices;
}

} // namespace talvern

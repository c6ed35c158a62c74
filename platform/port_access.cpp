#include "port_access.h"

#include "port_holders.h"
#include "port_mapping.h"

#include <QDir>
#include <QFile>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talvern {

namespace {

// The name of the group that owns `device`, or an empty string.
QString owningGroup(const QString& device) {
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) != 0)
        return QString();
    const group* owner = ::getgrgid(info.st_gid);
    return owner ? QString::fromLocal8Bit(owner->gr_name) : QString();
}

QString userName() {
    const passwd* user = ::getpwuid(::getuid());
    return user ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("$USER");
}

} // namespace

QString openFailureReason(QSerialPort::SerialPortError error, const QString& systemReason,
                          const QString& device) {
    if (error != QSerialPort::PermissionError)
        return systemReason;

    // Refused although this user may use the device: another program holds the
    // port's lock file.
    if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0) {
        const QString holder = lockFileHolder(device);
        if (!holder.isEmpty())
            return QStringLiteral("it is in use by %1").arg(holder);
        // A lock left by a program that has ended, which this user may not remove.
        const QString lock = lockFilePath(device);
        if (!lock.isEmpty())
            return QStringLiteral("%1\n\nIts lock file %2 is left over from a program that "
                                  "has ended. Remove it:\n    sudo rm %2")
                .arg(systemReason, lock);
        return systemReason;
    }
    return permissionAdvice(systemReason, device);
}

QString permissionAdvice(const QString& systemReason, const QString& device) {
    // On Debian the serial devices belong to the group "dialout".
    QString group = owningGroup(device);
    if (group.isEmpty())
        group = QStringLiteral("dialout");
    if (group == QLatin1String("root"))
        return QStringLiteral("%1\n\n%2 is open to the administrator only: ask yours for access "
                              "to it.")
            .arg(systemReason, device);
    return QStringLiteral("%1\n\nTo use %2 you must be a member of the group \"%3\", which owns "
                          "it. Add yourself with\n    sudo usermod -a -G %3 %4\nthen log out "
                          "and in again.")
        .arg(systemReason, device, group, userName());
}

QStringList closedOnboardPorts() {
    QStringList closed;
#ifdef Q_OS_LINUX
    const QDir dev(QStringLiteral("/dev"));
    for (const QString& name :
         dev.entryList({QStringLiteral("ttyS*")}, QDir::System | QDir::NoDotAndDotDot)) {
        const QString path = dev.filePath(name);
        if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0)
            closed.append(path);
    }
#endif
    return orderComDevices(closed);
}

QString hiddenPortsNote(const QStringList& closed) {
    if (closed.isEmpty())
        return QString();
    constexpr qsizetype kNamed = 4;
    QString devices = closed.mid(0, kNamed).join(QStringLiteral(", "));
    if (closed.size() > kNamed)
        devices += QStringLiteral(" and %1 more").arg(closed.size() - kNamed);
    const QString hidden =
        QStringLiteral("On-board serial ports appear among the COM ports only to users\n"
                       "allowed to open them, and you may not open %1.")
            .arg(devices);
    return openFailureReason(QSerialPort::PermissionError, hidden, closed.first());
}

} // namespace talvern

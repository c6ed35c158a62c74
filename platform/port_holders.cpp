#include "port_holders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <cerrno>
#include <climits>
#include <csignal>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talvern {

namespace {

// "NAME (process PID)": the program's file name, or the kernel's short name.
QString describeProcess(qint64 pid) {
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    QString name = QFileInfo(QFile::symLinkTarget(proc + QStringLiteral("exe"))).fileName();
    if (name.isEmpty()) {
        QFile comm(proc + QStringLiteral("comm"));
        if (comm.open(QIODevice::ReadOnly))
            name = QString::fromLocal8Bit(comm.readAll().trimmed());
    }
    if (name.isEmpty())
        name = QStringLiteral("a program");
    return QStringLiteral("%1 (process %2)").arg(name).arg(pid);
}

bool isRunning(qint64 pid) {
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

} // namespace

QString otherProcessWithDeviceOpen(const QString& device) {
    struct stat target {};
    if (::stat(QFile::encodeName(device).constData(), &target) != 0 || !S_ISCHR(target.st_mode))
        return QString();

    // Each process's open files are links in /proc/PID/fd whose text is the
    // path the file was opened by, its links resolved: compared by that text
    // alone, so a file on a network drive that no longer answers is never
    // touched (following the link to it would wait for that drive). Other
    // users' processes cannot be looked into: they stay unseen.
    const QByteArray wanted = QFile::encodeName(QFileInfo(device).canonicalFilePath());
    const qint64 self = ::getpid();
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : processes) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric || pid == self)
            continue;
        // Listed with the system's own calls: a listing that sorts out files
        // from folders would follow each link.
        const QByteArray fds = "/proc/" + QByteArray::number(pid) + "/fd";
        DIR* const listing = ::opendir(fds.constData());
        if (!listing)
            continue;
        bool holds = false;
        while (const dirent* fd = ::readdir(listing)) {
            char text[PATH_MAX];
            const ssize_t length = ::readlinkat(::dirfd(listing), fd->d_name, text, sizeof text);
            if (length > 0 && QByteArrayView(text, length) == wanted) {
                holds = true;
                break;
            }
        }
        ::closedir(listing);
        if (holds)
            return describeProcess(pid);
    }
    return QString();
}

QString lockFilePath(const QString& device) {
    // /dev/ttyS0 locks as LCK..ttyS0, /dev/pts/3 as LCK..pts_3, in the first
    // of the usual lock folders that has it.
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char* folder : {"/var/lock", "/run/lock", "/var/spool/locks", "/tmp"}) {
        const QString path = QStringLiteral("%1/LCK..%2").arg(QLatin1StringView(folder), name);
        if (QFileInfo::exists(path))
            return path;
    }
    return QString();
}

QString lockFileHolder(const QString& device) {
    // The file's lines: the holder's process number, its program, its host.
    QFile lock(lockFilePath(device));
    if (lock.fileName().isEmpty() || !lock.open(QIODevice::ReadOnly))
        return QString();
    const qint64 pid = lock.readLine().trimmed().toLongLong();
    const QString program = QString::fromLocal8Bit(lock.readLine().trimmed());
    const QString host = QString::fromLocal8Bit(lock.readLine().trimmed());
    if (!host.isEmpty() && host != QSysInfo::machineHostName())
        return QStringLiteral("%1 on %2 (process %3)")
            .arg(program.isEmpty() ? QStringLiteral("a program") : program, host)
            .arg(pid);
    return isRunning(pid) ? describeProcess(pid) : QString();
}

} // namespace talvern

#include "system_capture_file.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talvern {

void SystemCaptureFile::fail(const char* what, const QString& reason) const {
    throw captureFileError(what, name_, reason);
}

void SystemCaptureFile::failWithErrno(const char* what, int error) const {
    fail(what, qt_error_string(error));
}

void SystemCaptureFile::open(const QString& name) {
    if (handle_)
        fail("Cannot reopen", QStringLiteral("it is already open"));
    name_ = name;

    // A NUL would silently cut the name short: refuse it rather than create another file.
    const QByteArray path = QFile::encodeName(name);
    if (path.contains('\0'))
        fail("Cannot create", QStringLiteral("the name contains a NUL character"));

    // Create it as a plain text file for this user, without waiting: a FIFO
    // with no reader, or a terminal without carrier, would otherwise block here
    // for good. Nothing is emptied here: that waits for the port (empty()).
    // Every write goes to the end, even when another program has emptied the
    // file meanwhile.
    int opened;
    do
        opened = ::open(path.constData(),
                        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    while (opened < 0 && errno == EINTR);
    if (opened < 0) {
        const int error = errno;
        // ENXIO: a pipe without a reader, or a device or socket with nothing
        // behind it; say which.
        struct stat info {};
        if (error == ENXIO && ::stat(path.constData(), &info) == 0) {
            if (S_ISFIFO(info.st_mode))
                fail("Cannot create", QStringLiteral("it is a pipe and no program is reading it"));
            if (S_ISSOCK(info.st_mode))
                fail("Cannot create", QStringLiteral("it is a socket, not a file"));
        }
        failWithErrno("Cannot create", error);
    }
    OwnedHandle file(opened);

    // One capture per file: a second one would truncate the first one's records
    // and write over them. The lock lasts as long as the descriptor.
    if (::flock(opened, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        fail("Cannot create", QStringLiteral("it is being captured into by another program"));

    struct stat info {};
    if (::fstat(opened, &info) != 0)
        failWithErrno("Cannot create", errno);
    regular_ = S_ISREG(info.st_mode);
    nameLost_ = false;
    unsynced_ = false;
    handle_ = std::move(file);
}

void SystemCaptureFile::empty() {
    if (!handle_)
        fail("Cannot empty", QStringLiteral("it is not open"));
    // Only a file on disk has bytes to drop; a pipe or a device starts empty.
    if (regular_ && ::ftruncate(int(handle_.get()), 0) != 0)
        failWithErrno("Cannot empty", errno);
}

qint64 SystemCaptureFile::checkStillNamed(const char* what) {
    // A file deleted during the capture takes every later record with it. Said
    // once: closing the file afterwards does not say it again.
    struct stat info {};
    if (!regular_ || nameLost_ || ::fstat(int(handle_.get()), &info) != 0)
        return -1;
    if (info.st_nlink == 0) {
        nameLost_ = true;
        fail(what, QStringLiteral("it has been deleted or replaced, so the records written to it "
                                  "are lost and no more can be saved"));
    }
    return qint64(info.st_size);
}

int SystemCaptureFile::waitUntilWritable() const {
    // A pipe or terminal that takes nothing more: wait for its reader a while,
    // but never for good, for the window waits meanwhile.
    constexpr int kPatienceMs = 5000;
    QElapsedTimer waited;
    waited.start();
    for (qint64 left = kPatienceMs; left > 0; left = kPatienceMs - waited.elapsed()) {
        pollfd out{int(handle_.get()), POLLOUT, 0};
        const int ready = ::poll(&out, 1, int(left));
        if (ready > 0)
            return 0;
        if (ready < 0 && errno != EINTR)
            return errno;
    }
    return EAGAIN;
}

void SystemCaptureFile::writeNow(QByteArrayView bytes) {
    const qint64 whole = checkStillNamed("Cannot write to");

    // write() may take less than asked (a signal, a nearly full disk, a full
    // pipe): go on until every byte is taken or the system says why not.
    const char* p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(int(handle_.get()), p, size_t(left));
        const int error = n < 0 ? errno : 0;
        if (n > 0) {
            p += n;
            left -= n;
            continue;
        }
        if (error == EINTR)
            continue;
        // A write that takes none of the bytes and gives no reason is a
        // failure too: asking again would only get the same answer for good.
        const int waitError = error == EAGAIN ? waitUntilWritable() : error;
        if (waitError == 0 && n < 0)
            continue;
        QString reason;
        if (n == 0)
            reason = QStringLiteral("the system took none of the bytes");
        else if (waitError == EAGAIN)
            reason = QStringLiteral("the program reading it has taken nothing for 5 seconds");
        else
            reason = qt_error_string(waitError);
        // Every whole line the system took stays; what got in of the next one
        // is taken back, so the file ends in a whole line.
        const qsizetype taken = p - bytes.data();
        const qsizetype kept = wholeLines(bytes.first(taken));
        if (whole >= 0 && kept < taken && ::ftruncate(int(handle_.get()), whole + kept) != 0)
            failWriting(QStringLiteral("%1; its last line is incomplete (%2)")
                            .arg(reason, qt_error_string(errno)),
                        kept);
        failWriting(reason, kept);
    }
}

void SystemCaptureFile::flushToDisk() const {
    int result;
    do
        result = ::fdatasync(int(handle_.get()));
    while (result != 0 && errno == EINTR);
    if (result != 0)
        failWithErrno("Cannot save", errno);
}

void SystemCaptureFile::close() {
    if (!handle_)
        return;
    const std::optional<CaptureError> syncFailed = closingSync();

    // A file deleted since the last write has lost its records all the same;
    // it is closed either way.
    try {
        checkStillNamed("Cannot save");
    } catch (const CaptureError&) {
        handle_.reset();
        throw;
    }
    OwnedHandle file = std::move(handle_);

    // What no sync has handed to the drive goes now. Devices such as /dev/null
    // cannot be synced (EINVAL, EROFS): there is nothing on disk to flush, so
    // that is no failure.
    int error = 0;
    if (!syncFailed && std::exchange(unsynced_, false) && ::fsync(int(file.get())) != 0 &&
        errno != EINVAL && errno != EROFS)
        error = errno;
    const int closing = file.reset();
    if (syncFailed)
        throw *syncFailed;
    if (error == 0)
        error = closing;
    if (error != 0)
        failWithErrno("Cannot save", error);
}

} // namespace talvern

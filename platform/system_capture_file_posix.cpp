#include "system_capture_file.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace talvern {

SystemCaptureFile::~SystemCaptureFile() {
    if (handle_ >= 0)
        ::close(int(handle_));
}

void SystemCaptureFile::fail(const char* what, const QString& reason) const {
    throw captureFileError(what, name_, reason);
}

void SystemCaptureFile::failWithErrno(const char* what, int error) const {
    fail(what, qt_error_string(error));
}

void SystemCaptureFile::open(const QString& name) {
    if (handle_ >= 0)
        fail("Cannot reopen", QStringLiteral("it is already open"));
    name_ = name;

    // A NUL would silently cut the name short: refuse it rather than create another file.
    const QByteArray path = QFile::encodeName(name);
    if (path.contains('\0'))
        fail("Cannot create", QStringLiteral("the name contains a NUL character"));

    // Create or truncate, as a plain text file for this user.
    int fd;
    do
        fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        failWithErrno("Cannot create", errno);
    handle_ = fd;
}

void SystemCaptureFile::write(QByteArrayView bytes) {
    if (handle_ < 0)
        fail("Cannot write to", QStringLiteral("it is not open"));

    // write() may take less than asked (a signal, a nearly full disk): go on until
    // every byte is taken or the system says why not.
    const char* p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(int(handle_), p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failWithErrno("Cannot write to", errno);
        }
        p += n;
        left -= n;
    }
}

void SystemCaptureFile::close() {
    if (handle_ < 0)
        return;
    const int fd = int(handle_);
    handle_ = -1;

    // Flush to disk first. Devices such as /dev/null cannot be synced (EINVAL,
    // EROFS): there is nothing on disk to flush, so that is no failure.
    int syncError = 0;
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        syncError = errno;

    // close() is not retried on EINTR: on Linux the descriptor is gone either way.
    if (::close(fd) != 0 && errno != EINTR && syncError == 0)
        syncError = errno;

    if (syncError != 0)
        failWithErrno("Cannot save", syncError);
}

} // namespace talvern

#include "system_capture_file.h"

#include "full_path.h"
#include "system_error.h"

#include <windows.h>

#include <QRegularExpression>

#include <algorithm>
#include <utility>

namespace talvern {

namespace {

HANDLE handleOf(qintptr handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// Why records written under `name` would not be kept in a file that anyone
// sees, or an empty string:
// - a path into the device space ("\\.\COM2", "\\?\GLOBALROOT\...") names a
//   device, unless it goes on with a drive or a server's share;
// - a last part whose stem is a device's name is that device in any folder,
//   for Windows ends the name at a dot, a colon or trailing spaces ("nul.txt",
//   "com2.log", "com1:", "nul .txt", "con");
// - any other colon after the drive's names a stream of the file.
QString refusalOf(const QString& name) {
    static const QRegularExpression deviceSpace(QStringLiteral(R"(^([\\/]{2}[.?][\\/]|\\\?\?\\))"));
    static const QRegularExpression fileOnADrive(
        QStringLiteral(R"(^([a-z]:[\\/]|unc[\\/][^\\/]+[\\/][^\\/]+[\\/]))"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression drive(QStringLiteral("^[a-z]:"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression separator(QStringLiteral(R"([\\/])"));
    static const QRegularExpression devices(
        QStringLiteral("^(CON|PRN|AUX|NUL|CONIN\\$|CONOUT\\$|(COM|LPT)[1-9\u00b9\u00b2\u00b3])$"));
    const auto device = [](const QString& what) {
        return QStringLiteral("Windows takes \"%1\" for a device, not a file; choose another name")
            .arg(what);
    };

    QString path = name;
    if (const QRegularExpressionMatch prefix = deviceSpace.match(path); prefix.hasMatch()) {
        path = path.mid(prefix.capturedLength());
        if (!fileOnADrive.match(path).hasMatch())
            return device(name);
    }
    path = path.mid(drive.match(path).capturedLength());

    QString stem = path.mid(path.lastIndexOf(separator) + 1);
    stem = stem.left(stem.indexOf(QLatin1Char(':')));
    stem = stem.left(stem.indexOf(QLatin1Char('.'))).trimmed().toUpper();
    if (devices.match(stem).hasMatch())
        return device(stem);

    if (path.contains(QLatin1Char(':')))
        return QStringLiteral("the colon would make Windows put the records in a hidden part of "
                              "the file (a stream) that Explorer and most programs never show; "
                              "choose a name without a colon after the drive");
    return {};
}

} // namespace

// On Windows the file is written through the Win32 API: bytes pass unchanged
// (no text mode turning LF into CR LF), the name is used in full Unicode, and
// while the capture runs no other program may write to, rename or delete the
// file (reading it is allowed). Since it cannot be deleted while open, it
// needs no check that it still has a name.

void SystemCaptureFile::fail(const char* what, const QString& reason) const {
    throw captureFileError(what, name_, reason);
}

void SystemCaptureFile::failWithErrno(const char* what, int error) const {
    fail(what, systemErrorText(DWORD(error)));
}

void SystemCaptureFile::open(const QString& name) {
    if (handle_)
        fail("Cannot reopen", QStringLiteral("it is already open"));
    name_ = name;

    // A NUL would silently cut the name short: refuse it rather than create another file.
    if (name.contains(QChar(0)))
        fail("Cannot create", QStringLiteral("the name contains a NUL character"));

    // A device is never opened as a capture file: opening one may already
    // change the line it drives. Nor is a stream, which nobody would see.
    if (const QString refusal = refusalOf(name); !refusal.isEmpty())
        fail("Cannot create", refusal);

    // From here on the file goes by the full path Windows keeps it under, in
    // messages too: a relative name made absolute, trailing dots and spaces
    // dropped ("data.txt." is written as data.txt). That path is checked
    // too: it may name a device where the name as typed did not ("nul\.").
    name_ = fullPathOf(name);
    if (const QString refusal = refusalOf(name_); !refusal.isEmpty())
        fail("Cannot create", refusal);

    // Created, or opened as it is, only when nobody else writes to it: one
    // capture per file. Others may read it meanwhile, but neither write to it
    // nor rename or delete it. It is emptied once the port is open (empty()).
    const HANDLE file =
        ::CreateFileW(reinterpret_cast<const wchar_t*>(name_.utf16()), GENERIC_WRITE,
                      FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        failWithErrno("Cannot create", int(::GetLastError()));
    OwnedHandle opened(reinterpret_cast<qintptr>(file));
    // Whatever else the name turned out to be, only a file on disk keeps records.
    if (::GetFileType(file) != FILE_TYPE_DISK)
        fail("Cannot create", QStringLiteral("it is a device or a pipe, not a file on disk"));
    regular_ = true;
    nameLost_ = false;
    unsynced_ = false;
    handle_ = std::move(opened);
}

void SystemCaptureFile::empty() {
    if (!handle_)
        fail("Cannot empty", QStringLiteral("it is not open"));
    const HANDLE file = handleOf(handle_.get());
    if (regular_ &&
        (!::SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN) || !::SetEndOfFile(file)))
        failWithErrno("Cannot empty", int(::GetLastError()));
}

void SystemCaptureFile::writeNow(QByteArrayView bytes) {
    const HANDLE file = handleOf(handle_.get());
    // The size in whole lines: what a failed write is cut back to.
    LARGE_INTEGER whole{};
    const bool sized = regular_ && ::GetFileSizeEx(file, &whole);

    const char* p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const DWORD chunk = DWORD(std::min<qsizetype>(left, 1 << 30));
        DWORD written = 0;
        const bool wrote = ::WriteFile(file, p, chunk, &written, nullptr);
        if (!wrote || written == 0) {
            // A write that succeeds but takes nothing leaves no error of its own.
            const DWORD error = wrote ? DWORD(ERROR_SUCCESS) : ::GetLastError();
            const QString reason = error == ERROR_SUCCESS
                                       ? QStringLiteral("the system took none of the bytes")
                                       : systemErrorText(error);
            // Every whole line the system took stays; what got in of the next
            // one is taken back, so the file ends in a whole line: a write that
            // failed may still have taken some of its bytes.
            const qsizetype taken = p - bytes.data();
            const qsizetype kept = wholeLines(bytes.first(taken));
            LARGE_INTEGER now{};
            const bool grew = sized && (kept < taken || !::GetFileSizeEx(file, &now) ||
                                        now.QuadPart > whole.QuadPart + kept);
            LARGE_INTEGER end = whole;
            end.QuadPart += kept;
            if (grew &&
                (!::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(file)))
                failWriting(QStringLiteral("%1; its last line is incomplete (%2)")
                                .arg(reason, systemErrorText(::GetLastError())),
                            kept);
            failWriting(reason, kept);
        }
        p += written;
        left -= qsizetype(written);
    }
}

void SystemCaptureFile::flushToDisk() const {
    if (!::FlushFileBuffers(handleOf(handle_.get())))
        failWithErrno("Cannot save", int(::GetLastError()));
}

void SystemCaptureFile::close() {
    if (!handle_)
        return;
    const std::optional<CaptureError> syncFailed = closingSync();
    OwnedHandle file = std::move(handle_); // closed whatever happens below

    // What no sync has handed to the drive goes now. A device such as NUL has
    // nothing on disk to flush, and says so: that is no failure.
    DWORD error = 0;
    if (!syncFailed && std::exchange(unsynced_, false) &&
        !::FlushFileBuffers(handleOf(file.get()))) {
        error = ::GetLastError();
        if (error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_HANDLE)
            error = 0;
    }
    const int closing = file.reset();
    if (syncFailed)
        throw *syncFailed;
    if (error == 0)
        error = DWORD(closing);
    if (error != 0)
        failWithErrno("Cannot save", int(error));
}

} // namespace talvern

#include "system_capture_file.h"

#include "system_error.h"

#include <windows.h>

#include <algorithm>

namespace talvern {

namespace {

HANDLE handleOf(qintptr handle) {
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

// On Windows the file is written through the Win32 API: bytes pass unchanged
// (no text mode turning LF into CR LF), the name is used in full Unicode, and
// while the capture runs no other program may write to, rename or delete the
// file (reading it is allowed).

SystemCaptureFile::~SystemCaptureFile() {
    if (handle_ >= 0)
        ::CloseHandle(handleOf(handle_));
}

void SystemCaptureFile::fail(const char* what, const QString& reason) const {
    throw captureFileError(what, name_, reason);
}

void SystemCaptureFile::failWithErrno(const char* what, int error) const {
    fail(what, systemErrorText(DWORD(error)));
}

void SystemCaptureFile::open(const QString& name) {
    if (handle_ >= 0)
        fail("Cannot reopen", QStringLiteral("it is already open"));
    name_ = name;

    // A NUL would silently cut the name short: refuse it rather than create another file.
    if (name.contains(QChar(0)))
        fail("Cannot create", QStringLiteral("the name contains a NUL character"));

    const HANDLE file =
        ::CreateFileW(reinterpret_cast<const wchar_t*>(name.utf16()), GENERIC_WRITE,
                      FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        failWithErrno("Cannot create", int(::GetLastError()));
    handle_ = reinterpret_cast<qintptr>(file);
}

void SystemCaptureFile::write(QByteArrayView bytes) {
    if (handle_ < 0)
        fail("Cannot write to", QStringLiteral("it is not open"));
    const HANDLE file = handleOf(handle_);

    // Where the file ends now: a write that fails is undone back to here, so
    // the file never ends in part of a line.
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, LARGE_INTEGER{}, &start, FILE_CURRENT))
        failWithErrno("Cannot write to", int(::GetLastError()));

    const char* p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const DWORD chunk = DWORD(std::min<qsizetype>(left, 1 << 30));
        DWORD written = 0;
        if (!::WriteFile(file, p, chunk, &written, nullptr) || written == 0) {
            const DWORD error = written == 0 && ::GetLastError() == ERROR_SUCCESS
                                    ? DWORD(ERROR_WRITE_FAULT)
                                    : ::GetLastError();
            if (::SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
                ::SetEndOfFile(file);
            failWithErrno("Cannot write to", int(error));
        }
        p += written;
        left -= written;
    }
}

void SystemCaptureFile::close() {
    if (handle_ < 0)
        return;
    const HANDLE file = handleOf(handle_);
    handle_ = -1;

    // Flush to disk first. A device such as NUL has nothing on disk to flush,
    // and says so: that is no failure.
    DWORD error = 0;
    if (!::FlushFileBuffers(file)) {
        error = ::GetLastError();
        if (error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_HANDLE)
            error = 0;
    }
    if (!::CloseHandle(file) && error == 0)
        error = ::GetLastError();
    if (error != 0)
        failWithErrno("Cannot save", int(error));
}

} // namespace talvern

#pragma once

#include <QByteArrayView>
#include <QString>

namespace talvern {

// The capture's output file. Every write goes straight to the operating system
// (no buffering in this process), so a record written survives the program being
// killed; close() also flushes it to disk. Every failure is a CaptureError naming
// the file and the system's reason.
class CaptureFile {
public:
    CaptureFile() = default;
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;
    ~CaptureFile(); // last resort only: the capture run closes the file itself

    // Creates the file, or empties it if it exists.
    void open(const QString& name);
    // Appends the bytes, all of them, or throws.
    void write(QByteArrayView bytes);
    // Flushes the file to disk and closes it. The file is closed afterwards even
    // when this throws.
    void close();

    bool isOpen() const { return fd_ >= 0; }
    const QString& name() const { return name_; }

private:
    [[noreturn]] void fail(const char* what, const QString& reason) const;
    [[noreturn]] void failWithErrno(const char* what, int error) const;

    int fd_ = -1;
    QString name_;
};

} // namespace talvern

#pragma once

#include "failure.h"

#include <QByteArrayView>
#include <QString>

namespace talvern {

// The capture's output file as the capture uses it. The platform supplies it
// (it creates, locks, writes and syncs a file in the system's own way); every
// failure is a CaptureError naming the file and the system's reason.
class CaptureFile {
public:
    virtual ~CaptureFile() = default;

    // Creates the file, or opens it as it is if it exists, and holds it for this
    // capture alone. Refused while one is open.
    virtual void open(const QString& name) = 0;
    // Empties the open file: the capture begins. Until then an earlier file of
    // the same name keeps its bytes.
    virtual void empty() = 0;
    // Appends the bytes, all of them, straight to the system (nothing is kept
    // in this process), or throws. A write that fails leaves the file as it was
    // before it, so the file never ends in part of a line.
    virtual void write(QByteArrayView bytes) = 0;
    // Hands what was written to the disk and waits until it is there (the
    // file's data, not necessarily its times). Throws if the disk fails.
    virtual void sync() = 0;
    // Flushes the file to disk and closes it. The file is closed afterwards even
    // when this throws; closing a closed file does nothing.
    virtual void close() = 0;

    virtual bool isOpen() const = 0;
    // The name as given to open().
    virtual QString name() const = 0;
};

// The one wording of the file's failures: what failed, the file, the reason.
inline CaptureError captureFileError(const char* what, const QString& name, const QString& reason) {
    return CaptureError(
        QStringLiteral("%1 capture file \"%2\": %3").arg(QLatin1StringView(what), name, reason));
}

} // namespace talvern

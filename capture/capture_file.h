#pragma once

#include "failure.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

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
    // Appends the bytes, whole CR LF-ended lines, straight to the system, or
    // behind a sync under way (kept in this process until the drive takes
    // them), or throws. A write that fails keeps every whole line the system
    // took and no part of one, so the file never ends in part of a line.
    virtual void write(QByteArrayView bytes) = 0;
    // Starts handing what was written to the drive, on a thread of the file's
    // own, and returns at once: the caller never waits for the drive. Nothing
    // happens when every write is already covered by a sync.
    virtual void sync() = 0;
    // A sync asked for, or a write queued behind one, has not ended yet.
    virtual bool syncing() const = 0;
    // How long the drive has been at the sync or write under way, in
    // milliseconds; 0 when none runs.
    virtual qint64 unansweredMs() const = 0;
    // When the last sync the drive confirmed began (what was written before
    // it is on the disk); none if no sync of this file has been confirmed.
    virtual std::optional<QDateTime> lastConfirmedSave() const = 0;
    // Throws, once, the failure of a sync that has ended.
    virtual void check() = 0;
    // Called on the thread that opened the file when a sync fails, and when
    // the syncs end after syncing() found them under way.
    virtual void setSyncedHandler(std::function<void()> handler) = 0;
    // Waits for a sync under way (whoever must not wait for the drive waits
    // until syncing() is false first), hands the drive what no sync covered,
    // and closes the file; throws what failed, a sync's failure too. The file is
    // closed afterwards even when this throws; closing a closed file does
    // nothing.
    virtual void close() = 0;

    virtual bool isOpen() const = 0;
    // The file's name as its messages give it: the name given to open(), or
    // the full path that the system keeps the file under.
    virtual QString name() const = 0;
};

// The one wording of the file's failures: what failed, the file, the reason.
inline CaptureError captureFileError(const char* what, const QString& name, const QString& reason) {
    return CaptureError(
        QStringLiteral("%1 capture file \"%2\": %3").arg(QLatin1StringView(what), name, reason));
}

} // namespace talvern

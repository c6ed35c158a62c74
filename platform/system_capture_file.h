#pragma once

#include "capture_file.h"
#include "disk_worker.h"
#include "owned_handle.h"

namespace talvern {

// How much may wait in memory behind a flush under way. Past `queued`
// (at 9600 baud, hours of records), once the drive has been at the flush
// for `silentMs`, the write fails and the capture ends instead of growing
// without bound. A drive that is still within that time may take a while
// to flush what a flood brought: past `held` the write fails all the same.
struct QueueBound {
    qsizetype queued = qsizetype(16) << 20;
    qint64 silentMs = 5000;
    qsizetype held = qsizetype(256) << 20;
};

// The capture file on the system's own file calls: nothing is buffered in this
// process, so a record written survives the program being killed.
class SystemCaptureFile final : public CaptureFile {
public:
    // Syncs run on the file's own worker; a test that drives a capture step by
    // step may have them run in place, and one may stand in for a slow drive
    // with `beforeFlush` (run on the worker before each flush; it may throw)
    // and hold less behind it.
    explicit SystemCaptureFile(DiskWorker::Runs syncs = DiskWorker::Runs::OnItsThread,
                               std::function<void()> beforeFlush = {},
                               QueueBound bound = {});
    SystemCaptureFile(const SystemCaptureFile&) = delete;
    SystemCaptureFile& operator=(const SystemCaptureFile&) = delete;
    ~SystemCaptureFile() override = default; // the capture run closes the file itself

    void open(const QString& name) override;
    void empty() override;
    void write(QByteArrayView bytes) override;
    void sync() override;
    bool syncing() const override { return disk_.busy(); }
    qint64 unansweredMs() const override { return disk_.unansweredMs(); }
    std::optional<QDateTime> lastConfirmedSave() const override { return disk_.confirmed(); }
    void check() override;
    void setSyncedHandler(std::function<void()> handler) override {
        disk_.setFinishedHandler(std::move(handler));
    }
    void close() override;
    bool isOpen() const override { return bool(handle_); }
    QString name() const override { return name_; }

private:
    [[noreturn]] void fail(const char* what, const QString& reason) const;
    [[noreturn]] void failWithErrno(const char* what, int error) const;
    qint64 checkStillNamed(const char* what);
    // 0 once the file takes bytes again; EAGAIN when it took none for a while;
    // else the system's error.
    int waitUntilWritable() const;
    // Hands all of `bytes` to the system, or throws WriteFailure; a failure
    // leaves the file ending in the last whole line the system took.
    void writeNow(QByteArrayView bytes);
    [[noreturn]] void failWriting(const QString& reason, qsizetype kept) const;
    // How much of `taken`, the start of a write, is whole lines.
    static qsizetype wholeLines(QByteArrayView taken);
    // Hands the file's data to the drive and waits until it is there (on the
    // worker); throws if the drive fails.
    void flushToDisk() const;
    // Waits for a sync under way, for the file is about to close: its failure,
    // if it failed.
    std::optional<CaptureError> closingSync();

    OwnedHandle handle_; // the system's descriptor or handle of the open file
    QString name_;
    bool regular_ = false;  // a file on disk, not a pipe or a device
    bool nameLost_ = false; // found deleted, and said so
    bool unsynced_ = false; // written since the last sync began
    std::function<void()> beforeFlush_;
    QueueBound bound_;
    DiskWorker disk_; // declared last: stopped before the rest goes
};

} // namespace talvern

#pragma once

#include "capture_file.h"
#include "disk_worker.h"
#include "owned_handle.h"

namespace talvern {

// The capture file on the system's own file calls: nothing is buffered in this
// process, so a record written survives the program being killed.
class SystemCaptureFile final : public CaptureFile {
public:
    // Syncs run on the file's own worker; a test that drives a capture step by
    // step may have them run in place, and one may stand in for a slow drive
    // with `beforeFlush` (run on the worker before each flush; it may throw).
    explicit SystemCaptureFile(DiskWorker::Runs syncs = DiskWorker::Runs::OnItsThread,
                               std::function<void()> beforeFlush = {});
    SystemCaptureFile(const SystemCaptureFile&) = delete;
    SystemCaptureFile& operator=(const SystemCaptureFile&) = delete;
    ~SystemCaptureFile() override = default; // the capture run closes the file itself

    void open(const QString& name) override;
    void empty() override;
    void write(QByteArrayView bytes) override;
    void sync() override;
    bool syncing() const override { return disk_.busy(); }
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
    // Hands all of `bytes` to the system, or throws; a failure leaves the file
    // ending in a whole line.
    void writeNow(QByteArrayView bytes);
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
    DiskWorker disk_; // declared last: stopped before the rest goes
};

} // namespace talvern

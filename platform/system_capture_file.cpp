#include "system_capture_file.h"

// What the capture file does alike on every system: syncs on its own worker.

namespace talvern {

SystemCaptureFile::SystemCaptureFile(DiskWorker::Runs syncs, std::function<void()> beforeFlush)
    : beforeFlush_(std::move(beforeFlush))
    , disk_([this](QByteArrayView bytes) { writeNow(bytes); },
            [this] {
                if (beforeFlush_)
                    beforeFlush_();
                flushToDisk();
            },
            syncs) {}

void SystemCaptureFile::write(QByteArrayView bytes) {
    if (!handle_)
        fail("Cannot write to", QStringLiteral("it is not open"));
    // Straight to the system, unless the worker is at the drive: then after it.
    unsynced_ = true;
    disk_.write(bytes);
}

void SystemCaptureFile::sync() {
    // Only a file on disk has anything to hand to the drive, and only what
    // was written since the last sync began.
    if (!handle_ || !regular_ || !unsynced_)
        return;
    unsynced_ = false;
    disk_.request();
}

void SystemCaptureFile::check() {
    if (std::optional<CaptureError> failure = disk_.takeFailure())
        throw *failure;
}

std::optional<CaptureError> SystemCaptureFile::closingSync() {
    // The capture waits for it without blocking (syncing()); anyone else
    // waits here.
    disk_.waitUntilIdle();
    return disk_.takeFailure();
}

} // namespace talvern

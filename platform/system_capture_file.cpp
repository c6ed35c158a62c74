#include "system_capture_file.h"

// What the capture file does alike on every system: syncs on its own worker.

namespace talvern {

SystemCaptureFile::SystemCaptureFile(DiskWorker::Runs syncs)
    : disk_([this] { flushToDisk(); }, syncs) {}

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

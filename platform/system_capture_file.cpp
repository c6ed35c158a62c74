#include "system_capture_file.h"

#include "status_texts.h"

#include <QLocale>

// What the capture file does alike on every system: syncs on its own worker,
// and a failed write cut back to its last whole line.

namespace talvern {

SystemCaptureFile::SystemCaptureFile(DiskWorker::Runs syncs, std::function<void()> beforeFlush,
                                     QueueBound bound)
    : beforeFlush_(std::move(beforeFlush))
    , bound_(bound)
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
    // A drive that has stopped answering holds everything behind it: the
    // capture ends rather than fill the memory. One still at work within the
    // while may hold a flood's worth, up to the ceiling. What is queued still
    // goes to the drive if it answers while the file closes.
    const qsizetype queued = disk_.write(bytes);
    if (queued > bound_.held || (queued > bound_.queued && disk_.unansweredMs() >= bound_.silentMs))
        fail("Cannot write to",
             QStringLiteral("the drive has not answered for %1, and %2 of records wait for it")
                 .arg(durationText(disk_.unansweredMs()),
                      QLocale().formattedDataSize(queued, 1, QLocale::DataSizeIecFormat)));
}

void SystemCaptureFile::failWriting(const QString& reason, qsizetype kept) const {
    throw WriteFailure(captureFileError("Cannot write to", name_, reason).message(), kept);
}

qsizetype SystemCaptureFile::wholeLines(QByteArrayView taken) {
    // Records hold no CR, so every CR LF ends one.
    const qsizetype end = taken.lastIndexOf(QByteArrayView("\r\n", 2));
    return end < 0 ? 0 : end + 2;
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
    std::optional<CaptureError> failure = disk_.takeFailure();
    disk_.reset();
    return failure;
}

} // namespace talvern

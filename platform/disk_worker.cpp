#include "disk_worker.h"

#include <QMetaObject>

#include <system_error>

namespace talvern {

namespace {

// Bytes queued beyond this wait for the worker on the caller's thread: memory
// stays bounded however long a drive takes (at 9600 baud this is hours).
constexpr qsizetype kMostQueued = qsizetype(16) << 20;

} // namespace

DiskWorker::DiskWorker(std::function<void(QByteArrayView)> write, std::function<void()> flush,
                       Runs runs)
    : write_(std::move(write))
    , flush_(std::move(flush))
    , runs_(runs) {}

DiskWorker::~DiskWorker() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void DiskWorker::inPlace(const std::function<void()>& step) {
    try {
        step();
    } catch (const CaptureError& error) {
        const std::lock_guard lock(mutex_);
        failure_ = error;
    }
}

void DiskWorker::write(QByteArrayView bytes) {
    std::unique_lock lock(mutex_);
    if (failure_)
        throw *std::exchange(failure_, std::nullopt);
    if (runs_ == Runs::InPlace || idle()) {
        // Nothing runs beside this thread, and nothing starts but from it.
        lock.unlock();
        write_(bytes);
        return;
    }
    if (queued_.size() > kMostQueued)
        changed_.wait(lock, [this] { return queued_.size() <= kMostQueued || bool(failure_); });
    if (failure_)
        throw *std::exchange(failure_, std::nullopt);
    queued_.append(bytes.data(), bytes.size());
    lock.unlock();
    changed_.notify_all();
}

void DiskWorker::request() {
    if (runs_ == Runs::OnItsThread && !thread_.joinable()) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            runs_ = Runs::InPlace; // the drive is waited for here instead
        }
    }
    if (runs_ == Runs::InPlace)
        return inPlace(flush_);
    {
        const std::lock_guard lock(mutex_);
        asked_ = true;
    }
    changed_.notify_all();
}

bool DiskWorker::busy() const {
    // Whoever finds the worker busy is told when it is done.
    const std::lock_guard lock(mutex_);
    watched_ = watched_ || !idle();
    return !idle();
}

void DiskWorker::waitUntilIdle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return idle(); });
}

std::optional<CaptureError> DiskWorker::takeFailure() {
    const std::lock_guard lock(mutex_);
    return std::exchange(failure_, std::nullopt);
}

void DiskWorker::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !idle() || stopping_; });
        if (idle())
            return;
        // What was written meanwhile first, in order; then the flush, which
        // covers it.
        QByteArray bytes = std::exchange(queued_, QByteArray());
        const bool flush = bytes.isEmpty() && std::exchange(asked_, false);
        running_ = true;
        lock.unlock();
        changed_.notify_all(); // room in the queue again
        std::optional<CaptureError> failure;
        try {
            if (flush)
                flush_();
            else
                write_(bytes);
        } catch (const CaptureError& error) {
            failure = error;
        }
        lock.lock();
        running_ = false;
        if (failure) {
            // Nothing more is written or flushed: the capture ends on it.
            failure_ = std::move(failure);
            queued_.clear();
            asked_ = false;
        }
        if (!idle())
            continue;
        changed_.notify_all();
        // The owner hears of a failure, or that the work it waits for is
        // done, on its own thread (a worker that is gone by then takes the
        // call with it); a sync that went well wakes nobody.
        if (!failure_ && !std::exchange(watched_, false))
            continue;
        watched_ = false;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (finished_)
                    finished_();
            },
            Qt::QueuedConnection);
    }
}

} // namespace talvern

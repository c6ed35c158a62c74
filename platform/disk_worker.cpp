#include "disk_worker.h"

#include <QMetaObject>

namespace talvern {

DiskWorker::DiskWorker(std::function<void()> flush, Runs runs)
    : flush_(std::move(flush))
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

void DiskWorker::request() {
    if (runs_ == Runs::InPlace) {
        try {
            flush_();
        } catch (const CaptureError& error) {
            const std::lock_guard lock(mutex_);
            failure_ = error;
        }
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        asked_ = true;
    }
    changed_.notify_all();
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
}

bool DiskWorker::busy() const {
    const std::lock_guard lock(mutex_);
    return asked_ || running_;
}

void DiskWorker::waitUntilIdle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !asked_ && !running_; });
}

std::optional<CaptureError> DiskWorker::takeFailure() {
    const std::lock_guard lock(mutex_);
    return std::exchange(failure_, std::nullopt);
}

void DiskWorker::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return asked_ || stopping_; });
        if (!asked_)
            return;
        asked_ = false;
        running_ = true;
        lock.unlock();
        std::optional<CaptureError> failure;
        try {
            flush_();
        } catch (const CaptureError& error) {
            failure = error;
        }
        lock.lock();
        running_ = false;
        if (failure)
            failure_ = std::move(failure);
        changed_.notify_all();
        // The owner hears of it on its own thread; a worker that is gone by
        // then takes the call with it.
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

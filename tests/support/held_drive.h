#pragma once

#include "failure.h"

#include <condition_variable>
#include <mutex>

// A drive whose flushes wait until the test lets them end, as a network drive
// whose server is gone, and then fail with `failure` if one is set: the
// capture file's hook before each flush.
struct HeldDrive {
    void flush() {
        std::unique_lock lock(mutex);
        ++flushes;
        changed.notify_all();
        changed.wait(lock, [this] { return released; });
        if (!failure.isEmpty())
            throw talvern::CaptureError(failure);
    }
    // Returns once a flush has begun.
    void whenFlushing() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return flushes > 0; });
    }
    void release() {
        const std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    std::mutex mutex;
    std::condition_variable changed;
    int flushes = 0;
    bool released = false;
    QString failure;
};

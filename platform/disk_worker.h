#pragma once

#include "failure.h"

#include <QObject>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace talvern {

// Hands a file's data to its drive on a thread of its own, so that the thread
// that writes the file never waits for the drive: a network drive, or a busy
// USB stick, may take seconds to answer. One flush runs at a time; asked again
// while one runs, it runs once more after it. What a flush finds wrong is kept
// for the owner, who is also told, on its own thread, each time one ends.
class DiskWorker final : public QObject {
public:
    // Where the flushes run: on the worker's thread, or at once on the caller's
    // (for a capture driven step by step, where nothing may happen behind it).
    enum class Runs { OnItsThread, InPlace };

    // `flush` throws CaptureError when the drive fails.
    explicit DiskWorker(std::function<void()> flush, Runs runs = Runs::OnItsThread);
    ~DiskWorker() override; // waits for the flush under way
    DiskWorker(const DiskWorker&) = delete;
    DiskWorker& operator=(const DiskWorker&) = delete;

    // Asks for a flush and returns at once.
    void request();
    // A flush asked for has not ended yet.
    bool busy() const;
    // Waits until no flush runs or waits to run.
    void waitUntilIdle();
    // The failure of a flush that has ended, once; then none until the next.
    std::optional<CaptureError> takeFailure();
    // Called on the thread that made the worker each time a flush ends.
    void setFinishedHandler(std::function<void()> handler) { finished_ = std::move(handler); }

private:
    void run();

    std::function<void()> flush_;
    Runs runs_;
    std::function<void()> finished_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool asked_ = false;   // a flush waits to run
    bool running_ = false; // a flush runs
    bool stopping_ = false;
    std::optional<CaptureError> failure_;
    std::thread thread_; // started by the first request
};

} // namespace talvern

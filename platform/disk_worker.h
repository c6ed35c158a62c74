#pragma once

#include "failure.h"

#include <QByteArray>
#include <QByteArrayView>
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
// while one runs, it runs once more after it. A write made while the worker is
// at work would wait behind the flush in the system (a file system may hold
// the file for it): it is queued instead and written, in order, before the
// next flush. What a write or flush finds wrong is kept for the owner, who is
// told on its own thread; and so is an owner that waits for the worker.
class DiskWorker final : public QObject {
public:
    // Where the flushes run: on the worker's thread, or at once on the caller's
    // (for a capture driven step by step, where nothing may happen behind it).
    // A worker whose thread cannot be had (no memory for one) runs in place.
    enum class Runs { OnItsThread, InPlace };

    // `write` and `flush` throw CaptureError when they fail.
    DiskWorker(std::function<void(QByteArrayView)> write, std::function<void()> flush,
               Runs runs = Runs::OnItsThread);
    ~DiskWorker() override; // waits for the work under way
    DiskWorker(const DiskWorker&) = delete;
    DiskWorker& operator=(const DiskWorker&) = delete;

    // Writes at once while the worker is idle; else queues the bytes behind
    // its work. Throws a failure the worker met and nobody has taken yet.
    void write(QByteArrayView bytes);
    // Asks for a flush and returns at once.
    void request();
    // A write or flush asked for has not ended yet; if so, the finished
    // handler is called once the worker is idle.
    bool busy() const;
    // Waits until no work runs or waits to run.
    void waitUntilIdle();
    // The failure the worker met, once; then none until the next.
    std::optional<CaptureError> takeFailure();
    // Called on the thread that made the worker when it goes idle after a
    // failure, or after busy() found it at work.
    void setFinishedHandler(std::function<void()> handler) { finished_ = std::move(handler); }

private:
    bool idle() const { return !asked_ && !running_ && queued_.isEmpty(); }
    void inPlace(const std::function<void()>& step);
    void run();

    std::function<void(QByteArrayView)> write_;
    std::function<void()> flush_;
    Runs runs_;
    std::function<void()> finished_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    QByteArray queued_;    // written after the work under way, in order
    bool asked_ = false;   // a flush waits to run
    bool running_ = false; // a write or flush runs
    bool stopping_ = false;
    mutable bool watched_ = false; // found busy: tell the owner when done
    std::optional<CaptureError> failure_;
    std::thread thread_; // started by the first request
};

} // namespace talvern

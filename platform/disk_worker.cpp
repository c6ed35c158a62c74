#include "disk_worker.h"

#include <QMetaObject>

#include <system_error>

namespace talvern {

namespace {

// How many lines a run of CR LF-ended lines holds.
qsizetype linesIn(QByteArrayView bytes) {
    return bytes.count(QByteArrayView("\r\n", 2));
}

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

void DiskWorker::reset() {
    const std::lock_guard lock(mutex_);
    failure_.reset();
    broken_.reset();
    flushing_ = true;
    confirmed_.reset();
}

void DiskWorker::inPlace(const std::function<void()>& step, bool flush) {
    const QDateTime began = QDateTime::currentDateTime();
    try {
        step();
        const std::lock_guard lock(mutex_);
        if (flush)
            confirmed_ = began;
    } catch (const CaptureError& error) {
        const std::lock_guard lock(mutex_);
        failed(error, flush, {});
    }
}

void DiskWorker::failed(const CaptureError& error, bool flush, QByteArrayView lost) {
    // No flush runs after a failure: the capture ends on it.
    asked_ = false;
    flushing_ = false;
    QString message = error.message();
    if (!flush) {
        // The file takes nothing more: what waited behind this write is lost
        // with what the write itself left out.
        const qsizetype lines = linesIn(lost) + linesIn(queued_);
        queued_.clear();
        if (lines == 1)
            message += QStringLiteral("; the last record shown in the status box is not in it");
        else if (lines > 1)
            message += QStringLiteral("; the last %1 records shown in the status box are not in it")
                           .arg(lines);
        broken_ = CaptureError(message);
    }
    // A failure nobody has heard of yet is told with this one.
    if (failure_)
        message = failure_->message() + QLatin1Char('\n') + message;
    failure_ = CaptureError(message);
}

qsizetype DiskWorker::write(QByteArrayView bytes) {
    std::unique_lock lock(mutex_);
    if (broken_)
        throw failure_ ? *std::exchange(failure_, std::nullopt) : *broken_;
    // A flush that failed stops no write: its failure is told as the
    // worker's, once what waits behind it is written.
    if (runs_ == Runs::InPlace || idle()) {
        // Nothing runs beside this thread, and nothing starts but from it.
        lock.unlock();
        write_(bytes);
        return 0;
    }
    queued_.append(bytes.data(), bytes.size());
    const qsizetype queued = queued_.size();
    lock.unlock();
    changed_.notify_all();
    return queued;
}

void DiskWorker::request() {
    if (runs_ == Runs::OnItsThread && !thread_.joinable()) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            runs_ = Runs::InPlace; // the drive is waited for here instead
        }
    }
    std::unique_lock lock(mutex_);
    if (!flushing_ || broken_)
        return;
    if (runs_ == Runs::InPlace) {
        lock.unlock();
        return inPlace(flush_, true);
    }
    asked_ = true;
    lock.unlock();
    changed_.notify_all();
}

bool DiskWorker::busy() const {
    // Whoever finds the worker busy is told when it is done.
    const std::lock_guard lock(mutex_);
    watched_ = watched_ || !idle();
    return !idle();
}

qint64 DiskWorker::unansweredMs() const {
    const std::lock_guard lock(mutex_);
    if (!running_)
        return 0;
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - startedAt_).count();
}

std::optional<QDateTime> DiskWorker::confirmed() const {
    const std::lock_guard lock(mutex_);
    return confirmed_;
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
        startedAt_ = Clock::now();
        const QDateTime began = QDateTime::currentDateTime();
        lock.unlock();
        std::optional<CaptureError> failure;
        QByteArrayView lost;
        try {
            if (flush)
                flush_();
            else
                write_(bytes);
        } catch (const WriteFailure& error) {
            failure = error;
            lost = QByteArrayView(bytes).sliced(std::min(error.kept, bytes.size()));
        } catch (const CaptureError& error) {
            failure = error;
            lost = bytes;
        }
        lock.lock();
        running_ = false;
        if (failure) {
            failed(*failure, flush, lost);
        } else if (flush) {
            confirmed_ = began;
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

#include "alarm.h"

#include <QTimer>

#include <chrono>

namespace talvern {

namespace {

class QtAlarm final : public Alarm {
public:
    QtAlarm() {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
            // The call may set the alarm again: it runs on a copy.
            const std::function<void()> then = std::move(then_);
            then();
        });
    }

    void set(int ms, std::function<void()> then) override {
        then_ = std::move(then);
        timer_.start(ms);
    }
    void cancel() override { timer_.stop(); }
    bool isSet() const override { return timer_.isActive(); }

private:
    QTimer timer_;
    std::function<void()> then_;
};

} // namespace

std::unique_ptr<Alarm> qtAlarm() {
    return std::make_unique<QtAlarm>();
}

qint64 steadyClock() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace talvern

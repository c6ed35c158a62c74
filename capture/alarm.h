#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>

namespace talvern {

// A call back once after a delay, from the event loop of the thread that set
// it. The capture's timing goes through alarms, so a test can move time by hand.
class Alarm {
public:
    virtual ~Alarm() = default;

    // Calls `then` once, `ms` from now, instead of any call still to come.
    virtual void set(int ms, std::function<void()> then) = 0;
    virtual void cancel() = 0;
    virtual bool isSet() const = 0;
};

// Makes the alarms a capture uses; qtAlarm() runs them on Qt's event loop.
using Alarms = std::function<std::unique_ptr<Alarm>()>;
std::unique_ptr<Alarm> qtAlarm();

// Milliseconds on a clock that only goes forward, the alarms' time.
using Clock = std::function<qint64()>;
qint64 steadyClock();

} // namespace talvern

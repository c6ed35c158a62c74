#pragma once

#include <QString>

namespace talvern {

// What the capture asks of the window.
class CaptureView {
public:
    virtual ~CaptureView() = default;

    // Replaces the whole text of the status box.
    virtual void setStatusText(const QString& text) = 0;
    virtual void setAbortEnabled(bool enabled) = 0;
    virtual void beep() = 0;
    // Dispatches the window's pending events (clicks, keys, received bytes) and
    // returns; when none is pending it waits for the next one rather than spin.
    virtual void processEvents() = 0;
};

} // namespace talvern

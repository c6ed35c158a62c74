#pragma once

#include <QString>

namespace talvern {

class CaptureFile;

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
    // Lets the window answer until `file` has no sync under way, so that it
    // closes without waiting for the drive, and says why it waits if that
    // takes a while. The user or the system may end the program meanwhile,
    // without waiting: then this does not return.
    virtual void waitForSave(const CaptureFile& file) = 0;
};

} // namespace talvern

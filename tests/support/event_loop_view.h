#pragma once

#include "capture_view.h"

#include <QStringList>

#include <functional>

// A window-less CaptureView on the Qt event loop: it waits for events exactly as
// the window does, and keeps what it was asked to show.
class EventLoopView : public talvern::CaptureView {
public:
    void setStatusText(const QString& text) override;
    void setAbortEnabled(bool enabled) override { abortEnabled = enabled; }
    void beep() override { ++beeps; }
    void processEvents() override;
    void waitForSave(const talvern::CaptureFile& file) override;

    QString status;
    qsizetype statusChanges = 0;
    bool abortEnabled = false;
    int beeps = 0;
    // Called with each new status text, for tests that react to what is shown.
    std::function<void(const QString&)> onStatus;
};

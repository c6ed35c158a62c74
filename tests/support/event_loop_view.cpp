#include "event_loop_view.h"

#include "capture_file.h"

#include <QCoreApplication>
#include <QEventLoop>

void EventLoopView::setStatusText(const QString& text) {
    status = text;
    ++statusChanges;
    if (onStatus)
        onStatus(text);
}

void EventLoopView::processEvents() {
    // As the window does: posted events first, then one pass that may wait.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void EventLoopView::waitForSave(const talvern::CaptureFile& file) {
    while (file.syncing())
        processEvents();
}

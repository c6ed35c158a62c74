#include "event_loop_view.h"

#include <QCoreApplication>
#include <QEventLoop>

void EventLoopView::setStatusText(const QString& text) {
    status = text;
    ++statusChanges;
    if (onStatus)
        onStatus(text);
}

void EventLoopView::processEvents() {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

#include "status_box_style.h"

#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

namespace talvern {

StatusBoxStyle::StatusBoxStyle()
    : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {
    // Styles known to draw a line edit's panel from its style option alone.
    const QString name = baseStyle()->name();
    copyPanel_ = name.compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0 ||
                 name.compare(QLatin1String("windows"), Qt::CaseInsensitive) == 0;
}

void StatusBoxStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                   QPainter* painter, const QWidget* widget) const {
    const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
    if (element != PE_PanelLineEdit || !copyPanel_ || !frame || option->rect.isEmpty()) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }

    const qreal ratio = painter->device()->devicePixelRatio();
    const PanelKey key{option->rect.size(),   ratio,
                       uint(option->state),   option->palette.cacheKey(),
                       frame->lineWidth,      frame->midLineWidth,
                       uint(frame->features), int(option->direction)};
    if (panel_.isNull() || !(key == panelKey_)) {
        QPixmap panel(option->rect.size() * ratio);
        panel.setDevicePixelRatio(ratio);
        // What shows through the frame's rounded corners is the window.
        panel.fill(option->palette.color(QPalette::Window));
        QStyleOptionFrame at(*frame);
        at.rect = QRect(QPoint(0, 0), option->rect.size());
        QPainter drawing(&panel);
        QProxyStyle::drawPrimitive(element, &at, &drawing, widget);
        drawing.end();
        panel_ = panel;
        panelKey_ = key;
    }
    painter->drawPixmap(option->rect.topLeft(), panel_);
}

} // namespace talvern

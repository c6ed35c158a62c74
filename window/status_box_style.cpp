#include "status_box_style.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
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

    // Everything the panel is drawn from is in the key.
    const qreal ratio = painter->device()->devicePixelRatio();
    const QString key = QStringLiteral("talvern-status-panel-%1x%2-%3-%4-%5-%6-%7-%8-%9")
                            .arg(option->rect.width())
                            .arg(option->rect.height())
                            .arg(uint(option->state))
                            .arg(option->palette.cacheKey())
                            .arg(frame->lineWidth)
                            .arg(frame->midLineWidth)
                            .arg(uint(frame->features))
                            .arg(int(option->direction))
                            .arg(ratio);
    QPixmap panel;
    if (!QPixmapCache::find(key, &panel)) {
        panel = QPixmap(option->rect.size() * ratio);
        panel.setDevicePixelRatio(ratio);
        panel.fill(Qt::transparent);
        QStyleOptionFrame at(*frame);
        at.rect = QRect(QPoint(0, 0), option->rect.size());
        QPainter drawing(&panel);
        QProxyStyle::drawPrimitive(element, &at, &drawing, widget);
        drawing.end();
        QPixmapCache::insert(key, panel);
    }
    painter->drawPixmap(option->rect.topLeft(), panel);
}

} // namespace talvern

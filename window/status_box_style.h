#pragma once

#include <QProxyStyle>

namespace talvern {

// The application's style for the status box, with one saving: the box's panel
// and frame are drawn once for each size and state, then copied. The box is
// repainted for every record shown, and the style's rounded, antialiased frame
// would cost far more than its text. Styles that may draw the frame differently
// from one paint to the next (animations, hover effects) are used as they are.
class StatusBoxStyle : public QProxyStyle {
public:
    StatusBoxStyle();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;

private:
    bool copyPanel_;
};

} // namespace talvern

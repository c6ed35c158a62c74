#pragma once

#include <QPixmap>
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

    // Whether the copied panel covers every pixel of the box, its corners
    // filled with the window's colour: then nothing behind the box needs
    // painting when its text changes.
    bool panelIsOpaque() const { return copyPanel_; }

private:
    // Everything the panel is drawn from.
    struct PanelKey {
        QSize size;
        qreal ratio = 0;
        uint state = 0;
        qint64 palette = 0;
        int lineWidth = 0;
        int midLineWidth = 0;
        uint features = 0;
        int direction = 0;
        bool operator==(const PanelKey&) const = default;
    };

    bool copyPanel_;
    // The panel drawn last: the box keeps its size, and its state changes seldom.
    mutable PanelKey panelKey_;
    mutable QPixmap panel_;
};

} // namespace talvern

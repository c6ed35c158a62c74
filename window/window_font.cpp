#include "window_font.h"

#include <QFontDatabase>
#include <QStringList>

namespace talvern {

QFont windowFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(8.25);
    font.setWeight(QFont::Bold);
    font.setItalic(false);
    font.setUnderline(false);
    return font;
}

void registerFontSubstitutes() {
    static const bool registered = [] {
        // Same widths as the original first; the system's sans serif last.
        QStringList substitutes{QStringLiteral("Microsoft Sans Serif"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Arial")};
        substitutes.append(QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), substitutes);
        return true;
    }();
    (void)registered;
}

} // namespace talvern

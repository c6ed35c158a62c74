#pragma once

#include <QFont>

namespace talvern {

// The window's font: "MS Sans Serif", 8.25 points, bold. Where that family is
// missing, registerFontSubstitutes() has Qt use the closest metric match.
QFont windowFont();

// Registers, once, the families that stand in for "MS Sans Serif", closest first.
void registerFontSubstitutes();

} // namespace talvern

#pragma once

#include <QString>

namespace talvern {

// The system's own text for a Windows error code (GetLastError), as
// FormatMessageW gives it, without the line end; the number when there is none.
QString systemErrorText(unsigned long error);

} // namespace talvern

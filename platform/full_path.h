#pragma once

#include <QString>

namespace talvern {

// The full path of the file `name` means, as the system keeps it: absolute,
// and on Windows with backslashes and without the trailing dots and spaces
// that Windows drops from a name ("data.txt." is the file data.txt). The name
// itself when the system cannot tell.
QString fullPathOf(const QString& name);

} // namespace talvern

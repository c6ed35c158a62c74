#pragma once

#include <QString>

namespace talvern {

// The file a typed name means: a leading "~" or "~/" stands for the user's
// home folder, as in a shell or the Save As dialog. Nothing else is expanded
// ("~user", "$HOME"), and the rest of the name is used as typed, spaces included.
QString withHomeFolder(const QString& name);

} // namespace talvern

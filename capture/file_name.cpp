#include "file_name.h"

#include <QDir>

namespace talvern {

QString withHomeFolder(const QString& name) {
    if (name == QLatin1String("~"))
        return QDir::homePath();
    if (name.startsWith(QLatin1String("~/")))
        return QDir::homePath() + name.mid(1);
    return name;
}

} // namespace talvern

#include "full_path.h"

#include <QFileInfo>

namespace talvern {

QString fullPathOf(const QString& name) {
    return QFileInfo(name).absoluteFilePath();
}

} // namespace talvern

#include "save_as_dialog.h"

#include <QFileDialog>

namespace talvern {

void FileDialogAdapter::ShowSave() {
    // Starts at the name chosen last; an empty result means the user cancelled.
    const QString chosen = QFileDialog::getSaveFileName(parent_, QString(), fileName_);
    if (!chosen.isEmpty())
        fileName_ = chosen;
}

} // namespace talvern

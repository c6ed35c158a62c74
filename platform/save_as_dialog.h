#pragma once

#include <QString>

class QWidget;

namespace talvern {

// The Save As dialog as the window uses it: ShowSave asks for a file name, which
// FileName then holds. FileName is kept between uses and is where the next
// dialog starts; a cancelled dialog leaves it as it was.
class SaveAsDialog {
public:
    virtual ~SaveAsDialog() = default;

    virtual void ShowSave() = 0;
    const QString& FileName() const { return fileName_; }
    void setFileName(const QString& name) { fileName_ = name; }

protected:
    QString fileName_;
};

// The platform's own Save As dialog, with no title, filter, folder or default
// extension of the program's.
class FileDialogAdapter final : public SaveAsDialog {
public:
    explicit FileDialogAdapter(QWidget* parent)
        : parent_(parent) {}
    void ShowSave() override;

private:
    QWidget* parent_;
};

} // namespace talvern

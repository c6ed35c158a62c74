#pragma once

#include "port_mapping.h"
#include "save_as_dialog.h"
#include "serial_port_adapter.h"
#include "upload_settings.h"

#include <QWidget>

#include <memory>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace talvern {

// The one window: port options, file name, instructions, status and the three
// capture buttons, laid out at fixed places.
class Form1 : public QWidget {
    Q_OBJECT

public:
    // `devices` says which device each COM option opens; `dialog` is the Save As
    // dialog (the platform's own when none is given).
    explicit Form1(UploadSettings& settings, ComDevices devices = systemComDevices,
                   std::unique_ptr<SaveAsDialog> dialog = nullptr);
    ~Form1() override;

    // The instructions shown in the instructions box, CR LF line ends.
    static const QString& instructions();

    // The controls, by the names the program uses for them.
    QGroupBox* Frame1;
    QLineEdit* Text2;
    QPushButton* Command1;
    QPushButton* Command3;
    QPushButton* Command2;
    QRadioButton* Option1;
    QRadioButton* Option2;
    QRadioButton* Option3;
    QRadioButton* Option4;
    QPlainTextEdit* Text1;
    QLabel* Label1;
    QLabel* Label2;
    QLineEdit* Text3;
    QPushButton* Command4;

    // The serial port and the Save As dialog; not shown.
    std::unique_ptr<SerialPortAdapter> Comm1;
    std::unique_ptr<SaveAsDialog> FileNameIO;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    QString portToolTip(int number) const;

    UploadSettings& settings_;
};

} // namespace talvern

#pragma once

#include "capture_view.h"
#include "described_port.h"
#include "desktop.h"
#include "failure.h"
#include "save_as_dialog.h"
#include "upload_settings.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace talvern {

class CaptureRun;
class ProgramEnd;

// The one window: port options, file name, instructions, status and the three
// capture buttons, laid out at fixed places. Its handlers fill the settings and
// hand the buttons over to the capture; it shows the capture through CaptureView.
class Form1 : public QWidget, public CaptureView {
    Q_OBJECT

public:
    // The serial port, the dialog and the desktop default to the platform's own.
    explicit Form1(UploadSettings& settings, std::unique_ptr<DescribedPort> port = nullptr,
                   std::unique_ptr<SaveAsDialog> dialog = nullptr,
                   std::unique_ptr<Desktop> desktop = nullptr);
    ~Form1() override;

    // The capture the three buttons drive.
    void attach(CaptureRun& capture);

    // The instructions shown in the instructions box, CR LF line ends.
    static const QString& instructions();

    // CaptureView.
    void setStatusText(const QString& text) override;
    void setAbortEnabled(bool enabled) override;
    void beep() override;
    void processEvents() override;
    void waitForSave(const CaptureFile& file) override;

    // Ends the program as a termination signal asks: the capture closed properly.
    void endBySignal(int signalNumber);

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
    std::unique_ptr<DescribedPort> Comm1;
    std::unique_ptr<SaveAsDialog> FileNameIO;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Form_Load();
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Option4_Click();
    void Text2_Change();
    void Command4_Click();
    void Command1_Click();
    void Command3_Click();
    void Command2_Click();

    // Exit, a close of the window or a signal: ends the program with `status`
    // once the capture has closed everything.
    void requestEnd(int status);
    // Ends the program once the capture has closed everything: `status`, or the
    // failure path when closing failed.
    void endProgram(const Outcome& outcome, int status);
    // The one failure path: the message, then the end with a non-zero status.
    void failurePath(const Failure& failure);
    QString portToolTip(int number) const;
    // Sets the option's tooltip and accessible description to what COM n opens now.
    void describePort(QRadioButton* option, int number);
    // Puts the newest status text in the box now, unless nobody can see it.
    void showPendingStatus();
    // What the box shows of a text: a very long one by its start.
    static QString statusBoxText(const QString& text);

    UploadSettings& settings_;
    // The status box is repainted at most once per repaint bound, and not at all
    // while the window is hidden or minimised; the newest text waits here meanwhile.
    // 20 changes a second: nobody reads 96 records a second, and each change is
    // a text layout and a repaint on the thread that reads the port.
    static constexpr int kStatusRepaintMs = 50;
    std::optional<QString> pendingStatus_;
    QElapsedTimer statusShown_; // since the box last changed
    QTimer statusRepaint_;      // runs from the first text not shown until it shows
    std::unique_ptr<Desktop> desktop_;
    CaptureRun* capture_ = nullptr;
    std::unique_ptr<ProgramEnd> end_;
};

} // namespace talvern

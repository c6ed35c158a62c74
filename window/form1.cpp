#include "form1.h"

#include "capture_run.h"
#include "file_name.h"
#include "full_path.h"
#include "program_end.h"
#include "status_box_style.h"
#include "window_font.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include <utility>

namespace talvern {

namespace {

// Places and sizes are given in twips, 15 to a pixel.
constexpr int px(int twips) {
    return twips / 15;
}

template <typename Widget>
Widget* place(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* widget = new Widget(parent);
    widget->setObjectName(QLatin1StringView(name));
    widget->setGeometry(px(left), px(top), px(width), px(height));
    return widget;
}

// The same, for a control that shows a caption.
template <typename Widget>
Widget* place(QWidget* parent, const char* name, const char* caption, int left, int top, int width,
              int height) {
    Widget* widget = place<Widget>(parent, name, left, top, width, height);
    widget->setText(QString::fromUtf8(caption));
    return widget;
}

// The system's colours for text fields, for the frame, labels and options.
void useTextFieldColours(QWidget* widget) {
    const QPalette system = QApplication::palette();
    QPalette palette = widget->palette();
    // Option buttons paint with the button roles, the frame and labels with the
    // window roles: set both.
    for (const QPalette::ColorRole role : {QPalette::Window, widget->backgroundRole()})
        palette.setColor(role, system.color(QPalette::Base));
    for (const QPalette::ColorRole role : {QPalette::WindowText, widget->foregroundRole()})
        palette.setColor(role, system.color(QPalette::Text));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// A tooltip that looks like markup is shown as markup; device and file names
// are shown as they are, every space and line kept.
QString plainToolTip(const QString& text) {
    return QStringLiteral("<p style=\"white-space:pre\">%1</p>").arg(text.toHtmlEscaped());
}

} // namespace

const QString& Form1::instructions() {
    static const QString text = QStringLiteral("1. Select COM Port, and enter the File Name.  \r\n"
                                               "2. Click Ready to upload data"
                                               "                         \r\n"
                                               "3. On the VELNORA-310, select 1-Continuous  \r\n"
                                               "     Upload, then press ENTER key."
                                               "                 \r\n"
                                               "4. Click Exit to save file.\r\n");
    return text;
}

Form1::Form1(UploadSettings& settings, std::unique_ptr<DescribedPort> port,
             std::unique_ptr<SaveAsDialog> dialog, std::unique_ptr<Desktop> desktop)
    : Comm1(port ? std::move(port) : systemSerialPort())
    , FileNameIO(std::move(dialog))
    , settings_(settings)
    , desktop_(std::move(desktop)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("TALVERN"));
    registerFontSubstitutes();
    setFont(windowFont());
    setFixedSize(px(5040), px(5175));

    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(255, 255, 128));
    setPalette(background);
    setAutoFillBackground(true);

    // The controls in tab order.
    Frame1 = place<QGroupBox>(this, "Frame1", 480, 120, 1335, 1575);
    Frame1->setTitle(QStringLiteral("COM Port"));
    Text2 = place<QLineEdit>(this, "Text2", 2040, 720, 2655, 375);
    Command1 = place<QPushButton>(this, "Command1", "Ready to upload data", 480, 4320, 2055, 495);
    Command3 = place<QPushButton>(this, "Command3", "Abort", 2880, 4320, 735, 495);
    Command2 = place<QPushButton>(this, "Command2", "Exit", 3960, 4320, 615, 495);
    Option1 = place<QRadioButton>(Frame1, "Option1", "COM1", 120, 240, 975, 255);
    Option2 = place<QRadioButton>(Frame1, "Option2", "COM2", 120, 600, 975, 255);
    Option3 = place<QRadioButton>(Frame1, "Option3", "COM3", 120, 960, 975, 195);
    Option4 = place<QRadioButton>(Frame1, "Option4", "COM4", 120, 1320, 855, 195);
    Text1 = place<QPlainTextEdit>(this, "Text1", 480, 2040, 4095, 1095);
    Label1 = place<QLabel>(this, "Label1", "Status:", 480, 3360, 615, 255);
    Label2 = place<QLabel>(this, "Label2", "File Name:", 2040, 480, 975, 255);
    Text3 = place<QLineEdit>(this, "Text3", 480, 3600, 3975, 375);
    Command4 = place<QPushButton>(this, "Command4", "Browse", 3360, 1320, 975, 375);

    const QList<QWidget*> tabOrder{Frame1,  Text2,   Command1, Command3, Command2,
                                   Option1, Option2, Option3,  Option4,  Text1,
                                   Label1,  Label2,  Text3,    Command4};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    for (QWidget* widget :
         QList<QWidget*>{Frame1, Label1, Label2, Option1, Option2, Option3, Option4})
        useTextFieldColours(widget);

    // For screen readers: each box is named by its label, the instructions by
    // what they are.
    Label2->setBuddy(Text2);
    Label1->setBuddy(Text3);
    Text1->setAccessibleName(QStringLiteral("Instructions"));

    // Records are Latin-1 text: laid out glyph by glyph, without the text
    // shaper, each new record costs a fraction of the layout.
    QFont statusFont = Text3->font();
    statusFont.setStyleStrategy(QFont::PreferNoShaping);
    Text3->setFont(statusFont);

    // The instructions: their own colour on a white ground of their own, which
    // keeps them readable (5.3:1) under a dark desktop theme too; no scroll
    // bars; the text as it stands.
    QPalette instructionsPalette = Text1->palette();
    instructionsPalette.setColor(QPalette::Text, QColor(192, 0, 192));
    instructionsPalette.setColor(QPalette::Base, Qt::white);
    Text1->setPalette(instructionsPalette);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text1->setPlainText(instructions());
    Text1->moveCursor(QTextCursor::Start);
    // Typed characters are dropped (see eventFilter); Tab still moves on.
    Text1->setTabChangesFocus(true);
    Text1->setAttribute(Qt::WA_InputMethodEnabled, false);
    Text1->installEventFilter(this);

    Option1->setChecked(true);
    int number = 0;
    for (QRadioButton* option : {Option1, Option2, Option3, Option4}) {
        option->installEventFilter(this);
        describePort(option, ++number);
    }

    if (!FileNameIO)
        FileNameIO = std::make_unique<FileDialogAdapter>(this);
    if (!desktop_)
        desktop_ = std::make_unique<QtDesktop>();
    end_ = std::make_unique<ProgramEnd>(*this, *desktop_);

    // One handler per control and event.
    const std::pair<QRadioButton*, void (Form1::*)()> options[] = {
        {Option1, &Form1::Option1_Click},
        {Option2, &Form1::Option2_Click},
        {Option3, &Form1::Option3_Click},
        {Option4, &Form1::Option4_Click},
    };
    for (const auto& [option, handler] : options)
        connect(option, &QRadioButton::toggled, this, [this, handler = handler](bool on) {
            if (on)
                (this->*handler)();
        });
    connect(Text2, &QLineEdit::textChanged, this, &Form1::Text2_Change);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);

    // The status box is repainted for every record it shows: its frame is drawn
    // once and then copied. A new text shows when the repaint bound has passed.
    auto* statusStyle = new StatusBoxStyle;
    statusStyle->setParent(Text3);
    Text3->setStyle(statusStyle);
    Text3->setAttribute(Qt::WA_OpaquePaintEvent, statusStyle->panelIsOpaque());
    statusRepaint_.setSingleShot(true);
    statusRepaint_.setTimerType(Qt::PreciseTimer);
    statusRepaint_.setInterval(kStatusRepaintMs);
    connect(&statusRepaint_, &QTimer::timeout, this, &Form1::showPendingStatus);

    Form_Load();
}

Form1::~Form1() = default;

void Form1::Form_Load() {
    Command3->setEnabled(false);
}

QString Form1::portToolTip(int number) const {
    const QString device = Comm1->deviceFor(number);
    return device.isEmpty()
               ? QStringLiteral("No COM%1 on this machine").arg(number) + Comm1->missingPortNote()
               : QStringLiteral("COM%1 opens %2").arg(number).arg(device);
}

void Form1::describePort(QRadioButton* option, int number) {
    // The same words for the eye (tooltip) and for screen readers.
    const QString text = portToolTip(number);
    option->setToolTip(plainToolTip(text));
    option->setAccessibleDescription(text);
}

void Form1::attach(CaptureRun& capture) {
    capture_ = &capture;
}

// Handlers.

void Form1::Option1_Click() {
    settings_.PortNumber = 1;
}

void Form1::Option2_Click() {
    settings_.PortNumber = 2;
}

void Form1::Option3_Click() {
    settings_.PortNumber = 3;
}

void Form1::Option4_Click() {
    settings_.PortNumber = 4;
}

void Form1::Text2_Change() {
    settings_.CaptureFileName = Text2->text();
}

void Form1::Command4_Click() {
    // Browse: however the dialog closed, the box takes its name (a cancel keeps
    // the one chosen before). The dialog opens on the newest record. Not while
    // the file is being saved: the program may end as soon as it is.
    if (end_->waiting())
        return;
    showPendingStatus();
    FileNameIO->ShowSave();
    Text2->setText(FileNameIO->FileName());
}

void Form1::Command1_Click() {
    if (!capture_)
        return;
    // The focus goes to the status box first: greying Start out would hand it to
    // the next enabled button, Exit or Abort, where one Space ends the capture.
    // The box is read-only meanwhile: whatever is typed there is overwritten by
    // the next record anyway, and an editable box with the focus blinks its text
    // cursor, a timer that would wake a waiting capture twice a second.
    Text3->setReadOnly(true);
    Text3->setFocus(Qt::OtherFocusReason);
    // No second Start while one runs: the button waits until the capture ends.
    Command1->setEnabled(false);
    const Outcome outcome = capture_->start();
    Command1->setEnabled(true);
    Text3->setReadOnly(false);
    Text3->setToolTip(QString()); // the capture has ended, whichever way
    showPendingStatus();
    if (outcome)
        failurePath(*outcome);
}

void Form1::Command3_Click() {
    if (!capture_)
        return;
    const Outcome outcome = capture_->abort();
    showPendingStatus();
    if (outcome)
        return failurePath(*outcome);
    // An end asked for while Abort saved the file: the program ends now.
    if (const std::optional<int> status = end_->asked())
        requestEnd(*status);
}

void Form1::Command2_Click() {
    requestEnd(0);
}

void Form1::closeEvent(QCloseEvent* event) {
    // Closing the window ends the program as Exit does; while the file is
    // being saved the window stays until it is, or the user quits without
    // waiting.
    if (end_->waiting())
        event->ignore();
    else
        event->accept();
    requestEnd(0);
}

void Form1::endBySignal(int signalNumber) {
    requestEnd(128 + signalNumber);
}

void Form1::requestEnd(int status) {
    // While the window waits for the drive, the end waits too, or the user
    // or the system's patience ends the program without waiting.
    end_->ask(status);
    if (end_->waiting())
        return end_->whileWaiting(status);
    const Outcome outcome = capture_ ? capture_->exit() : Outcome();
    endProgram(outcome, *end_->asked());
}

void Form1::endProgram(const Outcome& outcome, int status) {
    if (outcome) {
        failurePath(*outcome);
        return;
    }
    // Errors the line had are said before the window goes: the status box,
    // where the capture told of them, goes with it. Not when the system ends
    // the program (a logout), where nobody may be there to answer.
    if (status == 0 && capture_ && !capture_->lineErrorsAtExit().isEmpty())
        desktop_->showNotice(
            this, capture_->lineErrorsAtExit() +
                      QStringLiteral(".\n\nThe capture file holds the records as they "
                                     "arrived: where bytes were lost or broken, a record may "
                                     "be short or hold wrong characters, or two records may "
                                     "be joined."));
    hide();
    desktop_->quit(status);
}

void Form1::failurePath(const Failure& failure) {
    showPendingStatus();
    desktop_->showFailure(this, failure.message);
    hide();
    desktop_->quit(1);
}

// CaptureView.

void Form1::setStatusText(const QString& text) {
    // Records can come thousands a second, or a hundred a second for hours;
    // laying out and painting the box for each would cost more than capturing
    // them. A text shows at once if the box has been still for the repaint
    // bound. Else it waits, and shows one bound after it came unless a newer
    // text shows first (when the bound since the last change has passed): the
    // box changes at most once per bound and never lags by more than one.
    pendingStatus_ = text;
    if (!isVisible() || isMinimized())
        return;
    if (!statusShown_.isValid() || statusShown_.elapsed() >= kStatusRepaintMs)
        showPendingStatus();
    else if (!statusRepaint_.isActive())
        statusRepaint_.start();
}

QString Form1::statusBoxText(const QString& text) {
    // Laid out whole, a very long text would cost every repaint of the box
    // (records come already cut to their start and length): the box shows its
    // start, never half a character.
    constexpr qsizetype kShown = 1024;
    if (text.size() <= kShown)
        return text;
    const qsizetype cut = text.at(kShown - 1).isHighSurrogate() ? kShown - 1 : kShown;
    return text.first(cut) + QChar(0x2026);
}

void Form1::showPendingStatus() {
    if (!pendingStatus_ || !isVisible() || isMinimized())
        return;
    statusRepaint_.stop();
    Text3->setText(statusBoxText(*pendingStatus_));
    // From its start: setting the text puts the cursor at the end, and the box
    // scrolls to it.
    Text3->setCursorPosition(0);
    pendingStatus_.reset();
    statusShown_.start();
}

void Form1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    showPendingStatus();
}

void Form1::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Back from minimised: the newest text, at once.
    if (event->type() == QEvent::WindowStateChange)
        showPendingStatus();
}

void Form1::setAbortEnabled(bool enabled) {
    Command3->setEnabled(enabled);
    // Start enables Abort once the file and the port are open: from then until
    // Start returns, the status box's tooltip says what is being captured.
    if (enabled)
        Text3->setToolTip(
            plainToolTip(QStringLiteral("Capturing from COM%1 (%2) into %3")
                             .arg(settings_.PortNumber)
                             .arg(Comm1->deviceFor(settings_.PortNumber),
                                  fullPathOf(withHomeFolder(settings_.CaptureFileName)))));
}

void Form1::waitForSave(const CaptureFile& file) {
    end_->waitForSave(file);
}

void Form1::beep() {
    desktop_->beep();
}

void Form1::processEvents() {
    // One pass of the event loop, asleep only while nothing is pending. Posted
    // events go first, by hand: GLib's loop sends them only when something was
    // posted since its last pass, which strands those queued behind the event
    // that started the capture.
    QCoreApplication::sendPostedEvents();
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    // The instructions box takes no typed character: letters, backspace, Enter,
    // control keys, nor the editing keys. Keys that move (arrows, Tab) still work.
    if (watched == Text1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
            return false;
        if (!key->text().isEmpty())
            return true;
        // Editing keys that carry no character on some platforms.
        for (const QKeySequence::StandardKey edit :
             {QKeySequence::Delete, QKeySequence::Cut, QKeySequence::Paste, QKeySequence::Undo,
              QKeySequence::Redo, QKeySequence::DeleteEndOfWord, QKeySequence::DeleteStartOfWord,
              QKeySequence::DeleteEndOfLine, QKeySequence::DeleteCompleteLine})
            if (key->matches(edit))
                return true;
    }

    // A port can come or go (a USB adapter): look it up again when the tip shows
    // or the option takes the focus (where a screen reader reads it).
    if (event->type() == QEvent::ToolTip || event->type() == QEvent::FocusIn) {
        const QList<QObject*> options{Option1, Option2, Option3, Option4};
        const qsizetype index = options.indexOf(watched);
        if (index >= 0)
            describePort(static_cast<QRadioButton*>(watched), int(index) + 1);
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace talvern

#include "comain.h"
#include "form1.h"
#include "serial_port_adapter.h"
#include "support/error_of.h"

#include <QAccessible>
#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <QTextBlock>
#include <QTextDocumentFragment>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using talvern::Form1;

namespace {

struct Control {
    const char* name;
    const char* kind;
    const char* caption;
    QRect pixels; // in the client area, or inside the frame for the options
};

// The layout, converted from twips (15 to a pixel), in tab order.
const Control kControls[] = {
    {"Frame1", "QGroupBox", "COM Port", {32, 8, 89, 105}},
    {"Text2", "QLineEdit", "", {136, 48, 177, 25}},
    {"Command1", "QPushButton", "Ready to upload data", {32, 288, 137, 33}},
    {"Command3", "QPushButton", "Abort", {192, 288, 49, 33}},
    {"Command2", "QPushButton", "Exit", {264, 288, 41, 33}},
    {"Option1", "QRadioButton", "COM1", {8, 16, 65, 17}},
    {"Option2", "QRadioButton", "COM2", {8, 40, 65, 17}},
    {"Option3", "QRadioButton", "COM3", {8, 64, 65, 13}},
    {"Option4", "QRadioButton", "COM4", {8, 88, 57, 13}},
    {"Text1", "QPlainTextEdit", nullptr, {32, 136, 273, 73}},
    {"Label1", "QLabel", "Status:", {32, 224, 41, 17}},
    {"Label2", "QLabel", "File Name:", {136, 32, 65, 17}},
    {"Text3", "QLineEdit", "", {32, 240, 265, 25}},
    {"Command4", "QPushButton", "Browse", {224, 88, 65, 25}},
};

QString captionOf(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->text();
    if (auto* frame = qobject_cast<QGroupBox*>(widget))
        return frame->title();
    return QString();
}

// The room the style gives a control's caption.
QRect captionRoom(QWidget* widget) {
    QStyle* style = widget->style();
    if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(radio);
        option.text = radio->text();
        return style->subElementRect(QStyle::SE_RadioButtonContents, &option, radio);
    }
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        return style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    }
    if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = frame->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        return style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame)
            .intersected(frame->rect());
    }
    return widget->contentsRect();
}

class Form1Test : public ::testing::Test {
protected:
    talvern::UploadSettings settings;
    Form1 form{settings, talvern::systemSerialPort([] {
                   return QStringList{"/dev/ttyS0", "", "/dev/ttyUSB0"};
               })};

    QWidget* control(const char* name) { return form.findChild<QWidget*>(name); }
};

} // namespace

TEST_F(Form1Test, WindowCaptionSizeColourAndFont) {
    EXPECT_EQ(form.objectName(), "Form1");
    EXPECT_EQ(form.windowTitle(), "TALVERN");
    EXPECT_EQ(form.size(), QSize(336, 345));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()); // fixed size
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(255, 255, 128));
    EXPECT_TRUE(form.autoFillBackground());

    const QFont font = form.font();
    EXPECT_EQ(font.family(), "MS Sans Serif");
    EXPECT_DOUBLE_EQ(font.pointSizeF(), 8.25);
    EXPECT_EQ(font.weight(), QFont::Bold);
    EXPECT_FALSE(font.italic());
    EXPECT_FALSE(font.underline());
}

TEST_F(Form1Test, FontFallsBackToAMetricMatchNotAWideFont) {
    // The install commands bring Liberation Sans, which has the original's widths.
    const QString family = QFontInfo(form.font()).family();
    EXPECT_TRUE(family == "Liberation Sans" || family == "Microsoft Sans Serif" ||
                family == "Arial")
        << family.toStdString();
    for (const Control& c : kControls)
        EXPECT_EQ(control(c.name)->font().family(), "MS Sans Serif") << c.name;
}

TEST_F(Form1Test, EveryControlHasItsNameKindCaptionAndPlace) {
    for (const Control& c : kControls) {
        QWidget* widget = control(c.name);
        ASSERT_NE(widget, nullptr) << c.name;
        EXPECT_TRUE(widget->inherits(c.kind))
            << c.name << " is " << widget->metaObject()->className();
        EXPECT_EQ(widget->geometry(), c.pixels) << c.name;
        if (c.caption) {
            EXPECT_EQ(captionOf(widget), QString::fromUtf8(c.caption)) << c.name;
        }
        const bool inFrame = QByteArray(c.name).startsWith("Option");
        QWidget* parent = inFrame ? static_cast<QWidget*>(form.Frame1) : &form;
        EXPECT_EQ(widget->parentWidget(), parent) << c.name;
    }
    EXPECT_EQ(form.Option1, control("Option1"));
    EXPECT_EQ(form.Command4, control("Command4"));
}

TEST_F(Form1Test, TabOrderFollowsTheTable) {
    QList<QWidget*> expected;
    for (const Control& c : kControls)
        expected.append(control(c.name));

    // Walk the focus chain once round from the first control.
    QList<QWidget*> seen;
    QWidget* widget = expected.first();
    do {
        if (expected.contains(widget) && !seen.contains(widget))
            seen.append(widget);
        widget = widget->nextInFocusChain();
    } while (widget != expected.first());
    EXPECT_EQ(seen, expected);
}

TEST_F(Form1Test, StartsWithCom1AbortDisabledAndEmptyBoxes) {
    EXPECT_TRUE(form.Option1->isChecked());
    EXPECT_FALSE(form.Option2->isChecked() || form.Option3->isChecked() ||
                 form.Option4->isChecked());
    EXPECT_FALSE(form.Command3->isEnabled());
    for (QWidget* enabled :
         {static_cast<QWidget*>(form.Command1), static_cast<QWidget*>(form.Command2),
          static_cast<QWidget*>(form.Command4), static_cast<QWidget*>(form.Text2)})
        EXPECT_TRUE(enabled->isEnabled()) << enabled->objectName().toStdString();
    EXPECT_TRUE(form.Text2->text().isEmpty());
    EXPECT_TRUE(form.Text3->text().isEmpty());
    EXPECT_FALSE(form.Comm1->portOpen());
    EXPECT_NE(form.FileNameIO, nullptr);
    EXPECT_TRUE(form.FileNameIO->FileName().isEmpty());
}

TEST_F(Form1Test, ColoursOfFrameLabelsOptionsAndInstructions) {
    const QPalette system = QApplication::palette();
    for (const char* name :
         {"Frame1", "Label1", "Label2", "Option1", "Option2", "Option3", "Option4"}) {
        QWidget* widget = control(name);
        EXPECT_TRUE(widget->autoFillBackground()) << name;
        EXPECT_EQ(widget->palette().color(widget->backgroundRole()), system.color(QPalette::Base))
            << name;
        EXPECT_EQ(widget->palette().color(widget->foregroundRole()), system.color(QPalette::Text))
            << name;
    }
    EXPECT_EQ(form.Text1->palette().color(QPalette::Text), QColor(192, 0, 192));
    // Buttons and the one-line boxes keep the system's colours.
    for (const char* name : {"Command1", "Command2", "Command3", "Command4", "Text2", "Text3"}) {
        QWidget* widget = control(name);
        for (const QPalette::ColorRole role : {widget->backgroundRole(), widget->foregroundRole()})
            EXPECT_EQ(widget->palette().color(QPalette::Active, role),
                      system.color(QPalette::Active, role))
                << name;
    }
    EXPECT_EQ(form.Text1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(form.Text1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST_F(Form1Test, InstructionsTextByteForByte) {
    const QString& text = Form1::instructions();
    EXPECT_EQ(text.size(), 232);
    const QStringList lines = text.split("\r\n");
    ASSERT_EQ(lines.size(), 6); // five lines, each ended by CR LF
    EXPECT_EQ(lines[0], "1. Select COM Port, and enter the File Name.  ");
    EXPECT_EQ(lines[1], "2. Click Ready to upload data" + QString(25, ' '));
    EXPECT_EQ(lines[2], "3. On the VELNORA-310, select 1-Continuous  ");
    EXPECT_EQ(lines[3], QString(5, ' ') + "Upload, then press ENTER key." + QString(17, ' '));
    EXPECT_EQ(lines[4], "4. Click Exit to save file.");
    EXPECT_EQ(lines[5], "");
    EXPECT_EQ(text.count('\r'), 5);
    EXPECT_EQ(text.count('\n'), 5);

    // The box holds exactly that text.
    QString shown = form.Text1->toPlainText();
    shown.replace('\n', "\r\n");
    EXPECT_EQ(shown, text);
}

TEST_F(Form1Test, EveryCaptionFitsItsControl) {
    form.show();
    for (const Control& c : kControls) {
        QWidget* widget = control(c.name);
        const QString caption = captionOf(widget);
        if (caption.isEmpty())
            continue;
        const QFontMetrics metrics(widget->font());
        const QRect room = captionRoom(widget);
        EXPECT_LE(metrics.horizontalAdvance(caption), room.width())
            << c.name << ": \"" << caption.toStdString() << "\" in " << room.width() << " px";
        EXPECT_LE(metrics.height(), widget->height()) << c.name;
    }
}

TEST_F(Form1Test, AllFiveInstructionLinesShowWithoutScrolling) {
    form.show();
    QApplication::processEvents(); // lets the box lay its text out
    QTextDocument* document = form.Text1->document();
    const int viewport = form.Text1->viewport()->height();
    QTextBlock block = document->firstBlock();
    for (int line = 1; line <= 5; ++line, block = block.next()) {
        ASSERT_TRUE(block.isValid()) << "line " << line;
        EXPECT_EQ(block.layout()->lineCount(), 1) << "line " << line << " wraps";
        QTextCursor end(block);
        end.movePosition(QTextCursor::EndOfBlock);
        const QRect box = form.Text1->cursorRect(end);
        EXPECT_LE(box.bottom(), viewport) << "line " << line << " is cut off";
        EXPECT_GE(box.top(), 0) << "line " << line;
    }
    EXPECT_EQ(form.Text1->verticalScrollBar()->value(), 0);
}

TEST_F(Form1Test, PortTooltipsNameTheDeviceOrItsAbsence) {
    EXPECT_TRUE(form.Option1->toolTip().contains("/dev/ttyS0"));
    EXPECT_TRUE(form.Option2->toolTip().contains("No COM2"));
    EXPECT_TRUE(form.Option3->toolTip().contains("/dev/ttyUSB0"));
    EXPECT_TRUE(form.Option4->toolTip().contains("No COM4"));
}

TEST(Comain, MainSetsCom1AndShowsTheWindowOnce) {
    COMAIN::Upload().PortNumber = 3;
    COMAIN::Main();
    Form1* form = COMAIN::Form();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(COMAIN::Upload().PortNumber, 1);
    EXPECT_TRUE(COMAIN::Upload().CaptureFileName.isEmpty());
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isModal());
    EXPECT_EQ(form->parentWidget(), nullptr);
    EXPECT_TRUE(form->Option1->isChecked());
    EXPECT_FALSE(form->Command3->isEnabled());
    EXPECT_FALSE(form->Comm1->portOpen());

    // A second Main finds the window made and shows the same one.
    COMAIN::Main();
    EXPECT_EQ(COMAIN::Form(), form);
    COMAIN::End();
    EXPECT_EQ(COMAIN::Form(), nullptr);
}

TEST(Form1Tooltips, DeviceNamesShowAsPlainText) {
    // What the tooltip shows: rich text is rendered, plain text stands as it is.
    const auto shown = [](const QString& tip) {
        return Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText() : tip;
    };
    talvern::UploadSettings settings;
    Form1 form{settings, talvern::systemSerialPort([] {
                   return QStringList{"/dev/<b>tty</b>0", "/dev/a&amp;b", "/dev/two  spaces"};
               })};
    EXPECT_TRUE(shown(form.Option1->toolTip()).contains("/dev/<b>tty</b>0"))
        << form.Option1->toolTip().toStdString();
    EXPECT_TRUE(shown(form.Option2->toolTip()).contains("/dev/a&amp;b"))
        << form.Option2->toolTip().toStdString();
    EXPECT_TRUE(shown(form.Option3->toolTip()).contains("/dev/two  spaces"))
        << form.Option3->toolTip().toStdString();
}

// Accessibility and colours.

TEST(Form1Accessibility, ScreenReadersHearEveryBoxByNameAndEachPortsDevice) {
    talvern::UploadSettings settings;
    QStringList devices{"/dev/ttyS0"};
    Form1 form(settings, talvern::systemSerialPort([&] { return devices; }));
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

    const auto text = [](QWidget* widget, QAccessible::Text kind) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        return accessible ? accessible->text(kind) : QString("<not accessible>");
    };
    EXPECT_EQ(form.Label2->buddy(), form.Text2);
    EXPECT_EQ(form.Label1->buddy(), form.Text3);
    EXPECT_EQ(text(form.Text2, QAccessible::Name), "File Name:");
    EXPECT_EQ(text(form.Text3, QAccessible::Name), "Status:");
    EXPECT_FALSE(text(form.Text1, QAccessible::Name).isEmpty());

    // An adapter plugged in after the window opened: an option names the device
    // it opens now once it takes the focus, as its tooltip does when shown.
    EXPECT_TRUE(text(form.Option1, QAccessible::Description).contains("/dev/ttyS0"));
    devices = {"/dev/ttyS0", "/dev/ttyUSB0"};
    form.Option2->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(text(form.Option2, QAccessible::Description).contains("/dev/ttyUSB0"))
        << text(form.Option2, QAccessible::Description).toStdString();
}

namespace {

// The contrast ratio of two colours as the WCAG defines it, 1 to 21.
double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& colour) {
        const auto linear = [](double c) {
            return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
               0.0722 * linear(colour.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

TEST(Form1Colours, InstructionsReadableUnderADarkDesktopTheme) {
    const QPalette before = QApplication::palette();
    QPalette dark(QColor(53, 53, 53));
    dark.setColor(QPalette::Window, QColor(53, 53, 53));
    dark.setColor(QPalette::Base, QColor(42, 42, 42));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::WindowText, Qt::white);
    QApplication::setPalette(dark);
    talvern::UploadSettings settings;
    Form1 form(settings, talvern::systemSerialPort([] { return QStringList(); }));
    form.show();

    // What the box paints behind its text, away from the text.
    const QImage shot = form.Text1->grab().toImage();
    const QRect inside = form.Text1->viewport()->geometry();
    const QColor background = shot.pixelColor(inside.bottomRight() - QPoint(2, 2));
    const QColor text = form.Text1->palette().color(QPalette::Text);
    QApplication::setPalette(before);
    EXPECT_EQ(text, QColor(192, 0, 192));
    EXPECT_GE(contrast(text, background), 4.5) << background.name().toStdString();
}

TEST(Form1PortHints, MissingComNumberTellsOfOnBoardPortsThisUserMayNotOpen) {
    // Devices that do not exist here, so that the group is Debian's usual one.
    const struct {
        QStringList closed;
        bool hint;
    } cases[] = {
        {{}, false},
        {{"/nonexistent/ttyS0", "/nonexistent/ttyS1"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.closed.join(' ').toStdString());
        const auto devices = [] {
            return QStringList{"/dev/ttyUSB0"};
        };
        talvern::UploadSettings settings;
        Form1 form(settings, std::make_unique<talvern::SerialPortAdapter>(
                                 devices, [closed = c.closed] { return closed; }));

        QHelpEvent tip(QEvent::ToolTip, QPoint(4, 4), form.Option2->mapToGlobal(QPoint(4, 4)));
        QApplication::sendEvent(form.Option2, &tip);
        const QString tooltip = form.Option2->toolTip();
        const QString message = errorOf([&] { form.Comm1->setCommPort(2); });
        for (const QString& said : {tooltip, message}) {
            EXPECT_TRUE(said.contains("COM2")) << said.toStdString();
            EXPECT_EQ(said.contains("/nonexistent/ttyS0"), c.hint) << said.toStdString();
            EXPECT_EQ(said.contains("sudo usermod -a -G dialout "), c.hint) << said.toStdString();
        }
    }
}

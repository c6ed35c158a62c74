#include "program.h"
#include "support/file_contents.h"
#include "support/held_drive.h"
#include "support/moved_home.h"
#include "support/pseudo_terminal.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <optional>
#include <thread>

using talvern::Program;

namespace {

// A Save As dialog that answers as the test says: a name, or a cancel.
class StandInDialog : public talvern::SaveAsDialog {
public:
    void ShowSave() override {
        openedWith.append(fileName_);
        if (whileOpen)
            whileOpen();
        if (answer)
            fileName_ = *answer;
    }
    std::optional<QString> answer; // nothing: the user cancels
    QStringList openedWith;
    std::function<void()> whileOpen; // runs as if inside the open dialog
};

class StandInDesktop : public talvern::Desktop {
public:
    void beep() override { ++beeps; }
    void showFailure(QWidget*, const QString& message) override {
        failures.append(message);
        if (whileOpen)
            whileOpen();
    }
    void showNotice(QWidget*, const QString& message) override { notices.append(message); }
    void quit(int status) override { quits.append(status); }
    // Asking and ending without waiting are tried on the real program.
    std::unique_ptr<QObject> askToQuit(QWidget*, const QString&,
                                       std::function<void(bool)>) override {
        return nullptr;
    }
    void abandon(int status, const QString&) override { abandoned.append(status); }
    int beeps = 0;
    QStringList failures;
    QStringList notices;
    QList<int> quits;
    QList<int> abandoned;            // ends without waiting, by status
    std::function<void()> whileOpen; // runs as if inside the open message box
};

class Form1BehaviourTest : public ::testing::Test {
protected:
    Form1BehaviourTest() { build(); }
    // The program, on a capture file of its own when one is given.
    void build(std::unique_ptr<talvern::CaptureFile> file = nullptr) {
        program.reset();
        talvern::PlatformParts parts;
        parts.devices = [this] {
            return QStringList{line.slavePath()};
        };
        auto ownedDialog = std::make_unique<StandInDialog>();
        auto ownedDesktop = std::make_unique<StandInDesktop>();
        dialog = ownedDialog.get();
        desktop = ownedDesktop.get();
        parts.dialog = std::move(ownedDialog);
        parts.desktop = std::move(ownedDesktop);
        parts.file = std::move(file);
        program.emplace(settings, std::move(parts));
        form().show();
    }

    talvern::Form1& form() { return program->form; }

    // Runs `action` as an event once the event loop next runs (inside a capture).
    static void later(std::function<void()> action) { QTimer::singleShot(0, std::move(action)); }

    // Runs `action` as an event once `ready` holds, looking every 10 ms, or
    // after ten seconds whatever holds (the test's checks then fail).
    static void once(std::function<bool()> ready, std::function<void()> action, int waited = 0) {
        QTimer::singleShot(10, [=] {
            if (ready() || waited >= 10000)
                action();
            else
                once(ready, action, waited + 10);
        });
    }
    // The same, once the status box shows `text`.
    void whenShown(const QString& text, std::function<void()> action) {
        once([this, text] { return form().Text3->text() == text; }, std::move(action));
    }

    QTemporaryDir dir;
    PseudoTerminal line;
    talvern::UploadSettings settings;
    StandInDialog* dialog = nullptr;
    StandInDesktop* desktop = nullptr;
    std::optional<Program> program;
};

} // namespace

TEST_F(Form1BehaviourTest, PortOptionsSetThePortNumber) {
    QTest::mouseClick(form().Option3, Qt::LeftButton, {}, QPoint(8, 6));
    EXPECT_EQ(settings.PortNumber, 3);
    QTest::mouseClick(form().Option4, Qt::LeftButton, {}, QPoint(8, 6));
    EXPECT_EQ(settings.PortNumber, 4);
    QTest::mouseClick(form().Option1, Qt::LeftButton, {}, QPoint(8, 6));
    EXPECT_EQ(settings.PortNumber, 1);
    EXPECT_TRUE(form().Option1->isChecked());
    EXPECT_FALSE(form().Option3->isChecked());
    EXPECT_TRUE(form().Text3->text().isEmpty()) << "options leave the status box alone";
}

TEST_F(Form1BehaviourTest, FileNameFollowsEveryChangeUntrimmed) {
    QTest::keyClicks(form().Text2, "  a b ");
    EXPECT_EQ(settings.CaptureFileName, "  a b ");
    form().Text2->selectAll();
    QTest::keyClick(form().Text2, Qt::Key_Backspace);
    EXPECT_EQ(settings.CaptureFileName, "");

    // Start with the name cleared again asks for one, and opens nothing.
    QTest::mouseClick(form().Command1, Qt::LeftButton);
    EXPECT_EQ(form().Text3->text(), "Please enter file name");
    EXPECT_FALSE(form().Command3->isEnabled());
    EXPECT_TRUE(form().Command1->isEnabled());
    EXPECT_EQ(desktop->beeps, 1);
    EXPECT_FALSE(form().Comm1->portOpen());
    EXPECT_TRUE(desktop->quits.isEmpty());
}

TEST_F(Form1BehaviourTest, BrowseFillsTheNameAndACancelKeepsTheLastOne) {
    const QString chosen = dir.filePath("chosen.txt");
    QTest::keyClicks(form().Text2, "typed.txt");
    dialog->answer = chosen;
    QTest::mouseClick(form().Command4, Qt::LeftButton);
    EXPECT_EQ(form().Text2->text(), chosen);
    EXPECT_EQ(settings.CaptureFileName, chosen);

    // A cancel puts the dialog's last name back, whatever was typed meanwhile.
    QTest::keyClicks(form().Text2, "more");
    dialog->answer.reset();
    QTest::mouseClick(form().Command4, Qt::LeftButton);
    EXPECT_EQ(form().Text2->text(), chosen);
    EXPECT_EQ(settings.CaptureFileName, chosen);
    // The dialog starts empty, then at the name chosen last, never at the typed one.
    EXPECT_EQ(dialog->openedWith, (QStringList{"", chosen}));
}

TEST_F(Form1BehaviourTest, FirstBrowseCancelledLeavesAnEmptyName) {
    QTest::keyClicks(form().Text2, "typed.txt");
    QTest::mouseClick(form().Command4, Qt::LeftButton);
    EXPECT_EQ(form().Text2->text(), "");
    EXPECT_EQ(settings.CaptureFileName, "");
}

TEST_F(Form1BehaviourTest, InstructionsBoxRefusesTypedCharacters) {
    const QString before = form().Text1->toPlainText();
    form().Text1->setFocus();
    QTest::keyClicks(form().Text1, "abc 123");
    for (const Qt::Key key : {Qt::Key_Backspace, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Delete})
        QTest::keyClick(form().Text1, key);
    QTest::keyClick(form().Text1, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(form().Text1, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(form().Text1, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(form().Text1->toPlainText(), before);
    // Not otherwise locked: the cursor still moves.
    QTest::keyClick(form().Text1, Qt::Key_Down);
    EXPECT_EQ(form().Text1->textCursor().blockNumber(), 1);
}

TEST_F(Form1BehaviourTest, CaptureDrivenByTheButtons) {
    const QString file = dir.filePath("capture.txt");
    QTest::keyClicks(form().Text2, file);

    bool startWaited = false;
    later([&] {
        startWaited = !form().Command1->isEnabled();
        EXPECT_TRUE(form().Command3->isEnabled());
        line.send("A\r\x01\xb5\rpart");
        whenShown(QString::fromLatin1("\x01\xb5"), [&] {
            // Each record showed; the status box holds the latest, byte for character.
            EXPECT_EQ(form().Text3->text(), QString::fromLatin1("\x01\xb5"));
            QTest::mouseClick(form().Command3, Qt::LeftButton);
        });
    });
    QTest::mouseClick(form().Command1, Qt::LeftButton); // returns once aborted

    EXPECT_TRUE(startWaited) << "Start stayed enabled during the capture";
    EXPECT_TRUE(form().Command1->isEnabled());
    EXPECT_TRUE(form().Command3->isEnabled());
    EXPECT_EQ(form().Text3->text(), "Upload Abort");
    QFile saved(file);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), "A\r\n\x01\xb5\r\n");
    EXPECT_FALSE(form().Comm1->portOpen());
    EXPECT_TRUE(desktop->quits.isEmpty());
}

TEST_F(Form1BehaviourTest, StatusBoxEndsOnTheLastRecordOfAFlood) {
    QTest::keyClicks(form().Text2, dir.filePath("flood.txt"));
    QByteArray flood;
    for (int n = 0; n < 20000; ++n)
        flood += "record " + QByteArray::number(n) + '\r';
    std::thread instrument;
    later([&] {
        // From a thread of its own: the line holds only a few KiB until read.
        instrument = std::thread([&] { line.send(flood); });
        // Once the line is quiet the box catches up with the last record.
        whenShown("record 19999", [&] {
            EXPECT_EQ(form().Text3->text(), "record 19999");
            QTest::mouseClick(form().Command3, Qt::LeftButton);
        });
    });
    QTest::mouseClick(form().Command1, Qt::LeftButton);
    instrument.join();
    EXPECT_EQ(form().Text3->text(), "Upload Abort");
}

TEST_F(Form1BehaviourTest, MessagesRightAfterACaptureShowAtOnce) {
    // Abort, then Start with no name, within a few milliseconds of a record.
    QTest::keyClicks(form().Text2, dir.filePath("quick.txt"));
    later([&] {
        line.send("last\r");
        whenShown("last", [&] {
            EXPECT_EQ(form().Text3->text(), "last");
            QTest::mouseClick(form().Command3, Qt::LeftButton);
        });
    });
    QTest::mouseClick(form().Command1, Qt::LeftButton);
    EXPECT_EQ(form().Text3->text(), "Upload Abort");
    form().Text2->clear();
    QTest::mouseClick(form().Command1, Qt::LeftButton);
    EXPECT_EQ(form().Text3->text(), "Please enter file name");
}

TEST_F(Form1BehaviourTest, StatusBoxIsCurrentWhenADialogOpensAndWhileItIsOpen) {
    // A record shown, the next one within the repaint bound, then a dialog: it
    // must open on the newest record, and a record that arrives while it is
    // open must show without waiting for it to close.
    struct Dialog {
        const char* name;
        std::function<void()> open;
        QString newest; // what the box must show as it opens
    };
    const Dialog dialogs[] = {
        {"Save As", [&] { QTest::mouseClick(form().Command4, Qt::LeftButton); }, "second"},
        // Start clears the box before it fails.
        {"failure message",
         [&] {
             form().Text2->setText(dir.filePath("missing/x.txt"));
             QTest::mouseClick(form().Command1, Qt::LeftButton);
         },
         ""},
    };
    for (const auto& [name, open, newest] : dialogs) {
        SCOPED_TRACE(name);
        QString onOpen;
        bool caughtUp = false;
        const auto whileOpen = [&] {
            onOpen = form().Text3->text();
            form().setStatusText("third");
            caughtUp = QTest::qWaitFor([&] { return form().Text3->text() == "third"; });
        };
        dialog->whileOpen = whileOpen;
        desktop->whileOpen = whileOpen;
        form().setStatusText("first");
        form().setStatusText("second");
        open();
        EXPECT_EQ(onOpen, newest);
        EXPECT_TRUE(caughtUp) << "the newest record waited for the dialog to close";
    }
}

TEST_F(Form1BehaviourTest, StatusBoxIsLeftAloneWhileHiddenAndCatchesUpWhenShown) {
    const std::pair<const char*, void (QWidget::*)()> ways[] = {
        {"hidden", &QWidget::hide},
        {"minimised", &QWidget::showMinimized},
    };
    for (const auto& [name, away] : ways) {
        SCOPED_TRACE(name);
        form().setStatusText("before");
        ASSERT_TRUE(QTest::qWaitFor([&] { return form().Text3->text() == "before"; }));
        (form().*away)();
        form().setStatusText(QStringLiteral("while %1").arg(name));
        EXPECT_EQ(form().Text3->text(), "before") << "the box changed while nobody could see it";
        form().showNormal();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return form().Text3->text() == QStringLiteral("while %1").arg(name); }));
    }
}

TEST_F(Form1BehaviourTest, ExitDuringACaptureEndsTheProgramWithStatusZero) {
    QTest::keyClicks(form().Text2, dir.filePath("exit.txt"));
    later([&] { QTest::mouseClick(form().Command2, Qt::LeftButton); });
    QTest::mouseClick(form().Command1, Qt::LeftButton);
    EXPECT_EQ(desktop->quits, QList<int>{0});
    EXPECT_TRUE(desktop->failures.isEmpty());
    EXPECT_TRUE(desktop->notices.isEmpty()) << "the line lost nothing";
    EXPECT_FALSE(form().isVisible());
    EXPECT_FALSE(form().Comm1->portOpen());
    EXPECT_EQ(program->capture.state(), talvern::CaptureRun::State::Ended);
}

TEST_F(Form1BehaviourTest, AWaitForTheDriveAnswersAndAlwaysHasAWayOut) {
    // The first record's sync is held by the drive. Whatever then waits for
    // it (Abort, Exit, the failure path) keeps the window answering, says so
    // after half a second, greys out Abort and Browse and has let the port
    // go; a signal meanwhile returns once every record is with the system (a
    // Windows session may end the process then), and its status is kept.
    enum class Then { Abort, Signal, HangUp };
    const struct {
        Then then;
        int status;
    } cases[] = {{Then::Abort, 0}, {Then::Signal, 128 + SIGTERM}, {Then::HangUp, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.then));
        HeldDrive drive;
        build(std::make_unique<talvern::SystemCaptureFile>(talvern::DiskWorker::Runs::OnItsThread,
                                                           [&] { drive.flush(); }));
        const QString file = dir.filePath(QStringLiteral("held%1.txt").arg(int(c.then)));
        QTest::keyClicks(form().Text2, file);
        QList<bool> greyed; // Abort and Browse while waiting, then after
        const auto buttons = [&] {
            greyed << !form().Command3->isEnabled() << !form().Command4->isEnabled();
        };
        whenShown("a", [&] {
            whenShown(QStringLiteral("Saving the capture file \"%1\"...").arg(file), [&] {
                buttons();
                EXPECT_FALSE(form().Comm1->portOpen());
                if (c.then == Then::Signal) {
                    QTimer::singleShot(100, [&] { drive.release(); });
                    form().endBySignal(SIGTERM);
                    EXPECT_FALSE(program->file->syncing());
                }
                drive.release();
            });
            if (c.then == Then::HangUp)
                return line.closeMaster();
            QTest::mouseClick(c.then == Then::Abort ? form().Command3 : form().Command2,
                              Qt::LeftButton);
            if (c.then == Then::Abort) {
                buttons();
                EXPECT_EQ(form().Text3->text(), "Upload Abort");
                QTest::mouseClick(form().Command2, Qt::LeftButton);
            }
        });
        later([&] { line.send("a\r"); });
        QTest::mouseClick(form().Command1, Qt::LeftButton);
        EXPECT_EQ(greyed, (c.then == Then::Abort ? QList<bool>{true, true, false, false}
                                                 : QList<bool>{true, true}));
        EXPECT_TRUE(desktop->abandoned.isEmpty());
        EXPECT_EQ(desktop->quits, QList<int>{c.status});
        if (c.then == Then::HangUp) {
            EXPECT_TRUE(desktop->failures.size() == 1 &&
                        desktop->failures[0].contains(line.slavePath()));
        }
        EXPECT_EQ(contents(file), "a\r\n");
    }
}

TEST_F(Form1BehaviourTest, FailurePathShowsTheMessageThenEndsWithStatusOne) {
    const QString file = dir.filePath("missing/x.txt");
    QTest::keyClicks(form().Text2, file);
    QTest::mouseClick(form().Command1, Qt::LeftButton);
    ASSERT_EQ(desktop->failures.size(), 1);
    EXPECT_TRUE(desktop->failures[0].contains(file));
    EXPECT_EQ(desktop->quits, QList<int>{1});
    EXPECT_FALSE(form().isVisible());
}

TEST_F(Form1BehaviourTest, ClosingTheWindowWhenIdleEndsWithStatusZero) {
    form().close();
    EXPECT_EQ(desktop->quits, QList<int>{0});
}

// Keyboard and focus.

TEST_F(Form1BehaviourTest, NoSingleKeyEndsOrAbortsARunningCapture) {
    form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form()));
    QTest::keyClicks(form().Text2, dir.filePath("keys.txt"));

    // Start by the keyboard, then by the mouse; the later ones after an Abort,
    // when Abort stays enabled next to Start.
    const bool byKeyboard[] = {true, false, true};
    for (const bool keyboard : byKeyboard) {
        SCOPED_TRACE(keyboard ? "Start by Space" : "Start by a click");
        bool stillRunning = false;
        QObject scope; // a Start that is refused leaves nothing pending behind
        QTimer::singleShot(0, &scope, [&] {
            EXPECT_EQ(QApplication::focusWidget(), form().Text3);
            for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Escape})
                QTest::keyClick(QApplication::focusWidget(), key);
            QApplication::processEvents();
            stillRunning = program->capture.state() == talvern::CaptureRun::State::Capturing;
            QTest::mouseClick(form().Command3, Qt::LeftButton);
        });
        if (keyboard) {
            form().Command1->setFocus(Qt::TabFocusReason);
            QTest::keyClick(form().Command1, Qt::Key_Space);
        } else {
            QTest::mouseClick(form().Command1, Qt::LeftButton);
        }
        EXPECT_TRUE(stillRunning);
        EXPECT_TRUE(desktop->quits.isEmpty());
    }
}

TEST_F(Form1BehaviourTest, AWaitingCaptureWakesOnlyForRecords) {
    // Nothing in the window runs on a timer while a capture waits: a blinking
    // text cursor would wake the program twice a second for as long as it runs.
    struct TimersInWindow : QObject {
        QWidget* window;
        int fired = 0;
        bool eventFilter(QObject* watched, QEvent* event) override {
            for (QObject* o = watched; event->type() == QEvent::Timer && o; o = o->parent())
                fired += o == window;
            return false;
        }
    } timers;
    timers.window = &form();
    form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form()));
    form().Text2->setText(dir.filePath("waiting.txt"));
    int fired = -1;
    later([&] {
        qApp->installEventFilter(&timers);
        // Longer than two blinks of the cursor.
        QTimer::singleShot(1500, [&] {
            fired = timers.fired;
            qApp->removeEventFilter(&timers);
            QTest::mouseClick(form().Command3, Qt::LeftButton);
        });
    });
    QTest::mouseClick(form().Command1, Qt::LeftButton);
    EXPECT_EQ(fired, 0);
}

TEST_F(Form1BehaviourTest, StatusBoxShowsALongRecordByItsStartAndLength) {
    // The longest record: the box lays out its start and its length, never the
    // whole of it; the file has every byte.
    const QString file = dir.filePath("long.txt");
    QTest::keyClicks(form().Text2, file);
    const QByteArray record = "start " + QByteArray(talvern::RecordFramer::kLongestRecord - 6, 'x');
    const QString shown = QString::fromLatin1(record.first(256)) +
                          QStringLiteral("\u2026 (%1 bytes)").arg(QLocale().toString(65536));
    std::thread instrument;
    later([&] {
        instrument = std::thread([&] { line.send(record + '\r'); });
        whenShown(shown, [&] {
            EXPECT_EQ(form().Text3->text(), shown);
            // What is wider than the box shows from its start, even with the
            // focus in the box (a notice of missing line ends says what it is
            // about first).
            EXPECT_EQ(form().Text3->cursorPosition(), 0);
            QTest::mouseClick(form().Command3, Qt::LeftButton);
        });
    });
    QTest::mouseClick(form().Command1, Qt::LeftButton);
    instrument.join();
    EXPECT_EQ(contents(file), record + "\r\n");
}

TEST_F(Form1BehaviourTest, StatusBoxCutsOtherLongTextsWithoutALengthOrHalfACharacter) {
    // Only a record is shown with its length in bytes; any other text (a
    // file's name in a notice) is cut between characters: here a UTF-16 pair
    // would be split at 1024.
    const QString text = QStringLiteral("Saving the capture file \"%1\"...")
                             .arg(QStringLiteral("\U0001D11E").repeated(1000));
    form().setStatusText(text);
    QTest::qWait(60); // past the repaint bound
    EXPECT_EQ(form().Text3->text(), text.first(1023) + QChar(0x2026));
}

TEST_F(Form1BehaviourTest, StatusTooltipNamesPortAndFullPathWhileCapturing) {
    // The name as typed, and the file it means: relative names are taken from
    // the current folder, a leading "~" is the home folder.
    const QString home = dir.filePath("home");
    const MovedHome moved(home, dir.path());
    const struct {
        const char* typed;
        QString file;
    } cases[] = {
        {"relative.txt", dir.filePath("relative.txt")},
        {"~/in home.txt", home + "/in home.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        form().Text2->setText(c.typed);
        EXPECT_EQ(form().Text3->toolTip(), "");
        QString tip;
        later([&] {
            tip = form().Text3->toolTip();
            QTest::mouseClick(form().Command3, Qt::LeftButton);
        });
        QTest::mouseClick(form().Command1, Qt::LeftButton);
        EXPECT_TRUE(tip.contains("COM1")) << tip.toStdString();
        EXPECT_TRUE(tip.contains(line.slavePath())) << tip.toStdString();
        EXPECT_TRUE(tip.contains(c.file)) << tip.toStdString();
        EXPECT_TRUE(QFile::exists(c.file));
        EXPECT_EQ(form().Text3->toolTip(), "") << "after Abort";
    }
}

TEST_F(Form1BehaviourTest, EventsWaitingBehindStartRunWhileTheCaptureRuns) {
    // Start pressed from a queued call, with another queued call and a repaint
    // waiting behind it: what was posted before the capture began must still
    // run during it, not only once something new is posted.
    form().Text2->setText(dir.filePath("waiting.txt"));
    QCoreApplication::processEvents();
    form().update(); // a repaint waits; the calls below go ahead of it
    bool ran = false;
    later([&] { QTest::mouseClick(form().Command1, Qt::LeftButton); });
    later([&] { ran = true; });
    // Abort once it has run; after three seconds, whether or not it has.
    int waited = 0;
    bool ranInTime = false;
    QTimer abort;
    abort.callOnTimeout([&] {
        if (!ran && (waited += 10) < 3000)
            return;
        ranInTime = ran;
        abort.stop();
        QTest::mouseClick(form().Command3, Qt::LeftButton);
    });
    abort.start(10);
    while (abort.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_TRUE(ranInTime) << "the call waiting behind Start did not run during the capture";
    EXPECT_EQ(form().Text3->text(), "Upload Abort");
}

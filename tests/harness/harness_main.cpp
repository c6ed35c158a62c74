// The real program's window, with COM1 to COM4 mapped to the devices named on
// the command line, driven by line commands on standard input:
//
//   type NAME TEXT     types TEXT into the control NAME, key by key
//   key NAME KEY       presses one key (Backspace, Return, Delete, Ctrl+A, ...)
//   click NAME         clicks the control NAME with the mouse
//   status             prints "status: " and the status box's text
//   enabled NAME       prints "enabled NAME 1" or "enabled NAME 0"
//   settings           prints "settings: PORT NAME"
//   dismiss            closes the dialog or message box that is showing (cancel)
//   press TEXT         presses the button TEXT of the message box that is showing
//   close              closes the window by its frame
//   syncs              prints "syncs: N", how often the capture file was synced
//
// It prints "ready" once the window shows, "message: TEXT" (with "plain" or
// "rich" before the colon) whenever a message box appears, and "dialog: CLASS"
// when another dialog (the Save As dialog) opens. Line ends and
// backslashes in printed texts are escaped as \r, \n and \\.
//
//   talvern_harness [--no-sync] [--hold-flush PATH] DEVICE_FOR_COM1 [DEVICE_FOR_COM2 ...]
//
// With --no-sync the capture file is never synced to disk while it is open (for
// the benchmarks, to weigh what syncing costs); it is still synced as it closes.
// With --hold-flush, a flush of the capture file waits for as long as the file
// PATH exists, as a drive that does not answer, and then fails with an
// input/output error if PATH.fail exists.
#include "comain.h"
#include "support/sync_counting_file.h"
#include "termination_signals.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QKeySequence>
#include <QLineEdit>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

void say(const QString& line) {
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString escaped(QString text) {
    return text.replace('\\', "\\\\").replace('\r', "\\r").replace('\n', "\\n");
}

// Reports every message box as it appears.
class MessageWatch : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show)
            return false;
        if (auto* box = qobject_cast<QMessageBox*>(watched))
            say(QStringLiteral("message %1: %2")
                    .arg(box->textFormat() == Qt::PlainText ? "plain" : "rich",
                         escaped(box->text())));
        else if (auto* dialog = qobject_cast<QDialog*>(watched))
            say(QStringLiteral("dialog: %1").arg(dialog->metaObject()->className()));
        return false;
    }
};

SyncCountingFile* captureFile = nullptr; // the program's, for "syncs"

QWidget* control(const QString& name) {
    talvern::Form1* form = COMAIN::Form();
    return name == QLatin1String("Form1") ? form : form->findChild<QWidget*>(name);
}

void run(const QString& line) {
    const QString command = line.section(' ', 0, 0);
    const QString name = line.section(' ', 1, 1);
    const QString rest = line.section(' ', 2);
    if (command == QLatin1String("syncs")) {
        say(QStringLiteral("syncs: %1").arg(captureFile->syncs));
        return;
    }
    if (command == QLatin1String("press")) {
        const QString text = line.section(' ', 1);
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible())
                for (QAbstractButton* button : box->buttons())
                    if (button->text() == text) {
                        button->click();
                        return;
                    }
        say("error: no button " + text);
        return;
    }
    QWidget* widget = name.isEmpty() ? nullptr : control(name);
    if (!name.isEmpty() && !widget && command != QLatin1String("settings")) {
        say("error: no control " + name);
        return;
    }

    if (command == QLatin1String("type")) {
        QTest::keyClicks(widget, rest);
    } else if (command == QLatin1String("key")) {
        const QKeyCombination key = QKeySequence::fromString(rest)[0];
        QTest::keyClick(widget, key.key(), key.keyboardModifiers());
    } else if (command == QLatin1String("click")) {
        QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(8, widget->height() / 2));
    } else if (command == QLatin1String("status")) {
        say("status: " + escaped(COMAIN::Form()->Text3->text()));
    } else if (command == QLatin1String("enabled")) {
        say(QStringLiteral("enabled %1 %2").arg(name).arg(widget->isEnabled() ? 1 : 0));
    } else if (command == QLatin1String("settings")) {
        say(QStringLiteral("settings: %1 %2")
                .arg(COMAIN::Upload().PortNumber)
                .arg(escaped(COMAIN::Upload().CaptureFileName)));
    } else if (command == QLatin1String("dismiss")) {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            dialog->done(0);
        else
            say("error: no message box");
    } else if (command == QLatin1String("close")) {
        COMAIN::Form()->close();
    } else {
        say("error: unknown command " + command);
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStringList devices;
    bool noSync = false;
    QString hold;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-sync") == 0)
            noSync = true;
        else if (std::strcmp(argv[i], "--hold-flush") == 0 && i + 1 < argc)
            hold = QString::fromLocal8Bit(argv[++i]);
        else
            devices.append(QString::fromLocal8Bit(argv[i]));
    }

    talvern::TerminationSignals termination;
    MessageWatch watch;
    app.installEventFilter(&watch);

    talvern::PlatformParts parts;
    parts.devices = [devices] {
        return devices;
    };
    std::function<void()> beforeFlush;
    if (!hold.isEmpty())
        beforeFlush = [hold] {
            while (QFile::exists(hold))
                QThread::msleep(20);
            if (QFile::exists(hold + ".fail"))
                throw talvern::captureFileError("Cannot save", captureFile->name(),
                                                "Input/output error");
        };
    auto file = std::make_unique<SyncCountingFile>(talvern::DiskWorker::Runs::OnItsThread,
                                                   std::move(beforeFlush));
    file->skip = noSync;
    captureFile = file.get();
    parts.file = std::move(file);
    COMAIN::Main(std::move(parts));
    QObject::connect(&termination, &talvern::TerminationSignals::received, COMAIN::Form(),
                     &talvern::Form1::endBySignal);

    // Each command runs as an event of its own, so that a click which starts a
    // capture runs it nested in the event loop exactly as a real click does.
    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            return;
        }
        pending.append(buffer, n);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0;) {
            const QString line = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            QTimer::singleShot(0, [line] { run(line); });
        }
    });

    say("ready");
    const int status = app.exec();
    COMAIN::End();
    return status;
}

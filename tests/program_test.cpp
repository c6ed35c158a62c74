// The whole program, through the test harness, on a pseudo-terminal as COM1.
#include "support/file_contents.h"
#include "support/harness_process.h"
#include "support/pseudo_terminal.h"

#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

class ProgramTest : public ::testing::Test {
protected:
    void start(const QStringList& devices) {
        program = std::make_unique<HarnessProcess>(devices);
        ASSERT_FALSE(program->waitFor("ready").isNull()) << "the harness did not start";
    }
    void startOnLine() { start({line.slavePath()}); }
    void startCapture(const QString& name) { ASSERT_TRUE(program->startCapture(name)); }
    bool enabled(const QString& name) {
        program->send("enabled " + name);
        return program->waitFor("enabled " + name).endsWith(" 1");
    }

    QTemporaryDir dir;
    PseudoTerminal line;
    std::unique_ptr<HarnessProcess> program;
};

} // namespace

TEST_F(ProgramTest, CaptureAbortCaptureAgainAndExit) {
    startOnLine();
    const QString file = dir.filePath("run.txt");
    startCapture(file);
    EXPECT_FALSE(enabled("Command1")) << "Start must wait while a capture runs";

    line.send("12.5 mg\r");
    ASSERT_TRUE(program->waitForStatus("12.5 mg"));
    EXPECT_EQ(contents(file), "12.5 mg\r\n");

    // Another port option during the capture: the open port stays where it is.
    program->send("click Option2");
    program->send("settings");
    EXPECT_TRUE(program->waitFor("settings: ").startsWith("settings: 2 "));
    line.send("13.0 mg\r\n14.1 mg\r");
    ASSERT_TRUE(program->waitForStatus("14.1 mg"));
    EXPECT_EQ(contents(file), "12.5 mg\r\n13.0 mg\r\n14.1 mg\r\n");

    program->send("click Command3");
    ASSERT_TRUE(program->waitForStatus("Upload Abort"));
    EXPECT_EQ(contents(file), "12.5 mg\r\n13.0 mg\r\n14.1 mg\r\n");
    EXPECT_TRUE(enabled("Command1"));
    EXPECT_TRUE(enabled("Command3"));
    {
        // The port is free again.
        QSerialPort other;
        other.setPortName(line.slavePath());
        EXPECT_TRUE(other.open(QIODevice::ReadWrite)) << other.errorString().toStdString();
    }

    // Start again with the same name: the file is emptied and captured anew.
    program->send("click Option1");
    program->send("click Command1");
    ASSERT_TRUE(program->waitForStatus(""));
    EXPECT_EQ(contents(file), "");
    line.send("second run\rpartial");
    ASSERT_TRUE(program->waitForStatus("second run"));

    program->send("click Command2");
    EXPECT_EQ(program->waitForExit(), 0);
    EXPECT_EQ(contents(file), "second run\r\n");
}

TEST_F(ProgramTest, MissingPortShowsItsNameAndEndsWithFailure) {
    start({"/dev/ttyNOSUCH9"});
    const QString file = dir.filePath("created.txt");
    program->send("type Text2 " + file);
    program->send("click Command1");
    const QString message = program->waitFor("message ");
    EXPECT_TRUE(message.startsWith("message plain: ")) << message.toStdString();
    EXPECT_TRUE(message.contains("/dev/ttyNOSUCH9")) << message.toStdString();
    program->send("dismiss");
    EXPECT_EQ(program->waitForExit(), 1);
    // The file was created before the port failed, and stays, empty.
    EXPECT_EQ(contents(file), "");
}

TEST_F(ProgramTest, FileInMissingFolderShowsItsNameLiterally) {
    startOnLine();
    const QString file = dir.filePath("absent/<b>x</b>.txt");
    program->send("type Text2 " + file);
    program->send("click Command1");
    const QString message = program->waitFor("message ");
    EXPECT_TRUE(message.startsWith("message plain: ")) << message.toStdString();
    EXPECT_TRUE(message.contains(file)) << message.toStdString();
    program->send("dismiss");
    EXPECT_EQ(program->waitForExit(), 1);
    EXPECT_FALSE(QFile::exists(file));
}

TEST_F(ProgramTest, HangUpShowsThePortsErrorAndKeepsTheRecords) {
    startOnLine();
    const QString file = dir.filePath("hangup.txt");
    startCapture(file);
    line.send("before\r");
    ASSERT_TRUE(program->waitForStatus("before"));
    line.closeMaster();
    const QString message = program->waitFor("message ");
    EXPECT_TRUE(message.contains(line.slavePath())) << message.toStdString();
    program->send("dismiss");
    EXPECT_EQ(program->waitForExit(), 1);
    EXPECT_EQ(contents(file), "before\r\n");
}

TEST_F(ProgramTest, EmptyNameAsksForOneAndKeepsAbortDisabled) {
    startOnLine();
    program->send("type Text2 x");
    program->send("key Text2 Backspace");
    program->send("click Command1");
    EXPECT_TRUE(program->waitForStatus("Please enter file name"));
    EXPECT_FALSE(enabled("Command3"));
    EXPECT_TRUE(enabled("Command1"));
    program->send("click Command2");
    EXPECT_EQ(program->waitForExit(), 0);
}

TEST_F(ProgramTest, ClosingTheWindowDuringACaptureKeepsEveryRecord) {
    startOnLine();
    const QString file = dir.filePath("closed.txt");
    startCapture(file);
    line.send("kept\rhalf");
    ASSERT_TRUE(program->waitForStatus("kept"));
    program->send("close");
    EXPECT_EQ(program->waitForExit(), 0);
    EXPECT_EQ(contents(file), "kept\r\n");
}

TEST_F(ProgramTest, TerminationSignalsEndTheCaptureCleanly) {
    // A hang-up or interrupt that was ignored when the program started (nohup,
    // a background job) stays ignored; a request to terminate never is.
    const struct {
        int signalNumber;
        bool ignoredAtStart;
        bool ends;
    } cases[] = {
        {SIGTERM, false, true}, {SIGINT, false, true}, {SIGHUP, false, true},
        {SIGHUP, true, false},  {SIGINT, true, false}, {SIGTERM, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.signalNumber << (c.ignoredAtStart ? " ignored" : ""));
        if (c.ignoredAtStart)
            std::signal(c.signalNumber, SIG_IGN);
        startOnLine();
        std::signal(c.signalNumber, SIG_DFL);
        const QString file = dir.filePath(QStringLiteral("signal%1.txt").arg(c.signalNumber));
        startCapture(file);
        line.send("kept\r");
        ASSERT_TRUE(program->waitForStatus("kept"));
        ::kill(pid_t(program->process.processId()), c.signalNumber);
        if (!c.ends) {
            line.send("more\r");
            ASSERT_TRUE(program->waitForStatus("more"));
            program->send("click Command2");
        }
        EXPECT_EQ(program->waitForExit(), c.ends ? 128 + c.signalNumber : 0);
        EXPECT_EQ(contents(file), c.ends ? "kept\r\n" : "kept\r\nmore\r\n");
        {
            QSerialPort other;
            other.setPortName(line.slavePath());
            EXPECT_TRUE(other.open(QIODevice::ReadWrite)) << other.errorString().toStdString();
        }
    }
}

TEST_F(ProgramTest, ADriveThatNeverAnswersCannotHoldTheProgram) {
    // The capture file's first sync never ends (its drive stopped answering).
    // Asked at the question (again after a Wait), the program quits without
    // waiting, with status 1;
    // a request to terminate waits five seconds more, then ends with its
    // status. Either way the window goes, and one line on standard error
    // names the file, while the drive still holds its thread.
    const struct {
        const char* what;
        bool bySignal;
        int status;
    } cases[] = {{"Quit at the question", false, 1}, {"SIGTERM", true, 128 + SIGTERM}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString hold = dir.filePath("hold");
        QFile(hold).open(QIODevice::WriteOnly);
        const QString errors = dir.filePath("errors.txt");
        program = std::make_unique<HarnessProcess>(
            QStringList{"--hold-flush", hold, line.slavePath()}, QString(), QString(), errors);
        ASSERT_FALSE(program->waitFor("ready").isNull());
        const QString file = dir.filePath(QStringLiteral("held%1.txt").arg(c.status));
        startCapture(file);
        line.send("a\r");
        ASSERT_TRUE(program->waitForStatus("a"));
        program->send("click Command2");
        ASSERT_TRUE(
            program->waitForStatus(QStringLiteral("Saving the capture file \"%1\"...").arg(file)));
        if (c.bySignal) {
            ::kill(pid_t(program->process.processId()), SIGTERM);
            EXPECT_EQ(program->waitForExit(3000), -1) << "ended before its patience ran out";
        } else {
            // Asked again after a Wait; then Quit.
            for (const char* answer : {"Wait", "Quit"}) {
                program->send("click Command2");
                const QString question =
                    program->waitFor("message plain: The drive has not answered");
                EXPECT_TRUE(question.contains(file)) << question.toStdString();
                program->send(QStringLiteral("press %1").arg(answer));
            }
        }
        EXPECT_EQ(program->waitForExit(), c.status);
        EXPECT_TRUE(QFile::exists(hold)) << "the drive answered after all";
        const QByteArray said = contents(errors);
        EXPECT_EQ(said.count("TALVERN: "), 1) << said.toStdString();
        EXPECT_TRUE(said.contains(file.toUtf8())) << said.toStdString();
        EXPECT_EQ(contents(file), "a\r\n");
        QFile::remove(hold);
    }
}

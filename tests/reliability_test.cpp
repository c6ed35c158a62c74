// The program under faults and hostile input, through the test harness on a
// pseudo-terminal. Every case is bounded in time.
#include "support/file_contents.h"
#include "support/harness_process.h"
#include "support/pseudo_terminal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

namespace {

class ReliabilityTest : public ::testing::Test {
protected:
    std::unique_ptr<HarnessProcess> startProgram(const QStringList& devices) {
        auto program = std::make_unique<HarnessProcess>(devices, dir.path());
        EXPECT_FALSE(program->waitFor("ready").isNull()) << "the harness did not start";
        return program;
    }
    // Expects the failure path: a plain-text message naming `what`, then status 1.
    static void expectFailure(HarnessProcess& program, const QString& what,
                              const QString& reason = {}) {
        const QString message = program.waitFor("message ");
        EXPECT_TRUE(message.startsWith("message plain: ")) << message.toStdString();
        EXPECT_TRUE(message.contains(what)) << message.toStdString();
        EXPECT_TRUE(message.contains(reason)) << message.toStdString();
        program.send("dismiss");
        EXPECT_EQ(program.waitForExit(), 1);
    }

    QTemporaryDir dir;
    PseudoTerminal line;
};

} // namespace

TEST_F(ReliabilityTest, KilledCaptureKeepsWholeLinesAndEveryRecordSentBeforeIt) {
    auto program = startProgram({line.slavePath()});
    const QString file = dir.filePath("killed.txt");
    ASSERT_TRUE(program->startCapture(file));

    // A steady stream of numbered records, about one a millisecond.
    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> sentAt;
    sentAt.reserve(100000);
    std::atomic<bool> stop{false};
    std::thread instrument([&] {
        for (int n = 0; !stop; ++n) {
            line.send(QByteArray::number(n).rightJustified(6, '0') + " 12.5 mg\r");
            sentAt.push_back(Clock::now());
            std::this_thread::sleep_for(std::chrono::microseconds(1000));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const Clock::time_point killedAt = Clock::now();
    ::kill(pid_t(program->process.processId()), SIGKILL);
    program->waitForExit();
    stop = true;
    instrument.join();

    const QByteArray saved = contents(file);
    ASSERT_TRUE(saved.isEmpty() || saved.endsWith("\r\n")) << "a line was cut in half";
    QList<QByteArray> lines = saved.split('\n');
    lines.removeLast(); // what follows the last line end: nothing
    int count = 0;
    for (const QByteArray& got : lines) {
        // In order, each one a record sent, nothing merged or cut.
        ASSERT_EQ(got, QByteArray::number(count).rightJustified(6, '0') + " 12.5 mg\r")
            << "line " << count;
        ++count;
    }
    int due = 0;
    while (due < int(sentAt.size()) &&
           sentAt[size_t(due)] < killedAt - std::chrono::milliseconds(100))
        ++due;
    EXPECT_GE(count, due) << "records sent over 100 ms before the kill are missing";
    EXPECT_GT(due, 100) << "the stream was too slow to prove anything";
}

TEST_F(ReliabilityTest, FullDiskFailsTheFirstWriteAndShowsNothingAsWritten) {
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    auto program = startProgram({line.slavePath()});
    ASSERT_TRUE(program->startCapture("/dev/full"));
    line.send("12.5 mg\r");
    const QString message = program->waitFor("message ");
    EXPECT_TRUE(message.contains("/dev/full") && message.contains("No space left on device"))
        << message.toStdString();
    program->send("status");
    EXPECT_EQ(program->waitFor("status: "), "status: ");
    program->send("dismiss");
    EXPECT_EQ(program->waitForExit(), 1);
}

TEST_F(ReliabilityTest, EveryByteValuePassesUnchanged) {
    auto program = startProgram({line.slavePath()});
    const QString file = dir.filePath("bytes.txt");
    ASSERT_TRUE(program->startCapture(file));
    QByteArray record;
    for (int b = 0; b < 256; ++b)
        if (b != '\r')
            record.append(char(b));
    // Every byte in every place: as a whole record and as single-byte records.
    QByteArray expected = record + "\r\n";
    line.send(record + '\r');
    for (int b = 0; b < 256; ++b) {
        if (b == '\r' || b == '\n')
            continue;
        line.send(QByteArray(1, char(b)) + '\r');
        expected += QByteArray(1, char(b)) + "\r\n";
    }
    ASSERT_TRUE(waitForSize(file, expected.size()));
    EXPECT_EQ(contents(file), expected);
    program->send("click Command2");
    EXPECT_EQ(program->waitForExit(), 0);
}

TEST_F(ReliabilityTest, TenMegabytesWithoutCrBecomeOneLineAndTheWindowStaysResponsive) {
    auto program = startProgram({line.slavePath()});
    const QString file = dir.filePath("long.txt");
    ASSERT_TRUE(program->startCapture(file));

    QByteArray stretch(10 * 1024 * 1024, 'x');
    for (qsizetype i = 0; i < stretch.size(); i += 4099)
        stretch[i] = char(i % 13 == 0 ? 0 : 0x80 + i % 100);
    std::thread instrument([&] {
        for (qsizetype at = 0; at < stretch.size(); at += 65536)
            line.send(stretch.mid(at, 65536));
        line.send("\r");
    });
    // The window answers while the stretch streams in.
    program->send("status");
    EXPECT_FALSE(program->waitFor("status: ", 10000).isNull()) << "the window stopped answering";
    instrument.join();

    ASSERT_TRUE(waitForSize(file, stretch.size() + 2, 60000));
    EXPECT_TRUE(contents(file) == stretch + "\r\n") << "the long line was not kept byte-exact";
    program->send("click Command2");
    EXPECT_EQ(program->waitForExit(), 0);
}

TEST_F(ReliabilityTest, BurstWhileTheSaveAsDialogIsOpenIsAllInTheFile) {
    auto program = startProgram({line.slavePath()});
    const QString file = dir.filePath("burst.txt");
    ASSERT_TRUE(program->startCapture(file));
    program->send("click Command4");
    ASSERT_FALSE(program->waitFor("dialog: ").isNull()) << "the Save As dialog did not open";

    QByteArray burst;
    QByteArray expected;
    for (int n = 0; burst.size() < 1024 * 1024; ++n) {
        const QByteArray record = "burst " + QByteArray::number(n).rightJustified(7, '0');
        burst += record + "\r\n";
        expected += record + "\r\n";
    }
    std::thread instrument([&] { line.send(burst); });
    instrument.join();
    program->send("dismiss");
    ASSERT_TRUE(waitForSize(file, expected.size()));
    EXPECT_TRUE(contents(file) == expected) << "records were lost or changed";
    program->send("click Command2");
    EXPECT_EQ(program->waitForExit(), 0);
}

TEST_F(ReliabilityTest, PortInUseFailsTheSecondProgramAndLeavesTheFirstCapturing) {
    auto first = startProgram({line.slavePath()});
    const QString file = dir.filePath("first.txt");
    ASSERT_TRUE(first->startCapture(file));

    auto second = startProgram({line.slavePath()});
    second->send("type Text2 " + dir.filePath("second.txt"));
    second->send("click Command1");
    expectFailure(*second, line.slavePath());

    line.send("still here\r");
    ASSERT_TRUE(first->waitForStatus("still here"));
    EXPECT_EQ(contents(file), "still here\r\n");
    first->send("click Command2");
    EXPECT_EQ(first->waitForExit(), 0);
}

TEST_F(ReliabilityTest, BadFileNamesFailNamingTheFileAndCreateNothing) {
    {
        SCOPED_TRACE("a folder");
        auto program = startProgram({line.slavePath()});
        program->send("type Text2 " + dir.path());
        program->send("click Command1");
        expectFailure(*program, dir.path(), "directory");
    }
    {
        SCOPED_TRACE("markup in a missing folder");
        const QString name = dir.filePath("<i>gone</i>/<b>x</b>&amp;.txt");
        auto program = startProgram({line.slavePath()});
        program->send("type Text2 " + name);
        program->send("click Command1");
        expectFailure(*program, name, "No such file or directory");
        EXPECT_FALSE(QFileInfo::exists(dir.filePath("<i>gone</i>")));
    }
    const QStringList left = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    EXPECT_TRUE(left.isEmpty()) << left.join(", ").toStdString();
}

TEST_F(ReliabilityTest, NameOfOneSpaceIsAFileWhereThePlatformAllowsIt) {
    // Linux accepts " " as a file name: the capture runs into it, in the
    // program's working folder.
    auto program = startProgram({line.slavePath()});
    ASSERT_TRUE(program->startCapture(" "));
    line.send("spaced\r");
    ASSERT_TRUE(program->waitForStatus("spaced"));
    EXPECT_EQ(contents(dir.filePath(" ")), "spaced\r\n");
    program->send("click Command2");
    EXPECT_EQ(program->waitForExit(), 0);
}

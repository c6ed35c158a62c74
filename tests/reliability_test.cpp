// The program under faults and hostile input, through the test harness on a
// pseudo-terminal. Every case is bounded in time.
#include "support/file_contents.h"
#include "support/harness_process.h"
#include "support/pseudo_terminal.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
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

TEST_F(ReliabilityTest, LineWithoutCrIsToldOfInTheStatusBox) {
    // Readings with LF line ends make no record; within seconds the status box
    // says what came and that no CR ended it.
    auto program = startProgram({line.slavePath()});
    ASSERT_TRUE(program->startCapture(dir.filePath("lf.txt")));
    line.send("12.50 g\n12.51 g\n12.52 g\n12.53 g\n");
    EXPECT_TRUE(program->waitForStatus("32 bytes received but no CR (13) to end a record: "
                                       "\"12.50 g<LF>12.51 g<LF>12.52 g<LF>...\""));
    program->send("click Command2");
    EXPECT_EQ(program->waitForExit(), 0);
}

TEST_F(ReliabilityTest, StartWhileTheInstrumentSendsNeverSavesATail) {
    // A continuous upload: numbered records back to back, a byte about every
    // millisecond as at 9600 baud. Each Start then joins it mid-record.
    auto program = startProgram({line.slavePath()});
    const QString file = dir.filePath("joined.txt");
    std::atomic<bool> stop{false};
    std::thread instrument([&] {
        for (int n = 0; !stop; ++n) {
            for (const char c : QByteArray::number(n).rightJustified(5, '0') + "-yyyyyyyyyy\r") {
                line.send(QByteArray(1, c));
                QThread::usleep(1000);
            }
        }
    });
    const QRegularExpression whole("^(\\d{5}-y{10}\r\n)+$");
    ASSERT_TRUE(program->startCapture(file));
    for (int attempt = 0; attempt < 6; ++attempt) {
        if (attempt > 0)
            program->send("click Command1");
        QThread::msleep(150 + 7 * attempt);
        program->send("click Command3");
        ASSERT_TRUE(program->waitForStatus("Upload Abort"));
        const QByteArray saved = contents(file);
        EXPECT_TRUE(whole.match(QString::fromLatin1(saved)).hasMatch()) << saved.constData();
    }
    stop = true;
    instrument.join();

    // A line that was quiet at Start loses nothing: its first record is kept.
    program->send("click Command1");
    ASSERT_TRUE(program->waitForStatus(""));
    QThread::msleep(100);
    line.send("first\r");
    EXPECT_TRUE(program->waitForStatus("first"));
    program->send("click Command2");
    EXPECT_EQ(program->waitForExit(), 0);
    EXPECT_EQ(contents(file), "first\r\n");
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

namespace {

// Numbered records from `first` on, each ended by CR LF at the line.
QByteArray numbered(int first, int count) {
    QByteArray bytes;
    for (int n = first; n < first + count; ++n)
        bytes += "record " + QByteArray::number(n).rightJustified(5, '0') + "\r\n";
    return bytes;
}

// At least `size` bytes of CR-ended records: a number of `digits`, then
// `padding` x's.
QByteArray paddedRecords(qsizetype size, int digits, int padding) {
    QByteArray records;
    for (int n = 0; records.size() < size; ++n)
        records +=
            QByteArray::number(n).rightJustified(digits, '0') + QByteArray(padding, 'x') + '\r';
    return records;
}

// A FIFO in `dir`, or an empty string where none can be made.
QString makeFifo(const QTemporaryDir& dir, const char* name) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
}

// Sends `bytes` at the line from a thread of its own until all are sent or
// `stop` is set: a program that stops reading does not hold the test up.
std::thread sendUntilStopped(PseudoTerminal& line, const QByteArray& bytes,
                             const std::atomic<bool>& stop) {
    return std::thread([&line, bytes, &stop] {
        ::fcntl(line.masterFd(), F_SETFL, O_NONBLOCK);
        for (qsizetype at = 0; at < bytes.size() && !stop;) {
            const ssize_t n = ::write(line.masterFd(), bytes.constData() + at,
                                      size_t(std::min<qsizetype>(bytes.size() - at, 4096)));
            if (n > 0)
                at += n;
            else
                QThread::usleep(1000);
        }
    });
}

// What a reader of `fd` gets within `ms` (the descriptor is non-blocking).
QByteArray readFor(int fd, qsizetype size, int ms = 10000) {
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < size && timer.elapsed() < ms) {
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            got.append(buffer, n);
        else
            QThread::usleep(500);
    }
    return got;
}

} // namespace

TEST_F(ReliabilityTest, RecordsReachTheFileWhileADialogIsOpenAndEveryEndKeepsThem) {
    // However the capture ends while the Save As dialog is open, what was read
    // is in the file, and the exit status says how it ended.
    const struct {
        const char* end;
        int status;
    } cases[] = {{"hang-up", 1},
                 {"SIGTERM", 128 + SIGTERM},
                 {"SIGHUP", 128 + SIGHUP},
                 {"SIGINT", 128 + SIGINT},
                 {"close", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.end);
        PseudoTerminal line;
        auto program = startProgram({line.slavePath()});
        const QString file = dir.filePath(QStringLiteral("dialog-%1.txt").arg(c.end));
        ASSERT_TRUE(program->startCapture(file));
        line.send(numbered(0, 1));
        ASSERT_TRUE(program->waitForStatus("record 00000"));
        program->send("click Command4");
        ASSERT_FALSE(program->waitFor("dialog: ").isNull()) << "the Save As dialog did not open";

        // Each record is written as it comes, the dialog open or not.
        line.send(numbered(1, 100));
        EXPECT_TRUE(waitForSize(file, numbered(0, 101).size(), 10000))
            << "records waited while the dialog was open";

        const QString end = QString::fromLatin1(c.end);
        if (end == "hang-up") {
            line.closeMaster();
            program->send("dismiss");
            expectFailure(*program, line.slavePath(), "hung up");
        } else if (end == "close") {
            program->send("close");
            EXPECT_EQ(program->waitForExit(), c.status);
        } else {
            const int signal = end == "SIGTERM" ? SIGTERM : end == "SIGHUP" ? SIGHUP : SIGINT;
            ::kill(pid_t(program->process.processId()), signal);
            EXPECT_EQ(program->waitForExit(), c.status);
        }
        EXPECT_TRUE(contents(file) == numbered(0, 101)) << "records were lost";
    }
}

TEST_F(ReliabilityTest, CaptureFileThatIsAFifoNeverFreezesTheProgram) {
    const QString fifo = makeFifo(dir, "fifo");
    ASSERT_FALSE(fifo.isEmpty());
    {
        SCOPED_TRACE("no program reads it: Start fails at once");
        auto program = startProgram({line.slavePath()});
        program->send("type Text2 " + fifo);
        program->send("click Command1");
        expectFailure(*program, fifo, "no program is reading it");
    }
    {
        SCOPED_TRACE("a program reads it: the records go through");
        const int reader =
            ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        auto program = startProgram({line.slavePath()});
        ASSERT_TRUE(program->startCapture(fifo));
        line.send("through\r");
        EXPECT_EQ(readFor(reader, 9), "through\r\n");
        program->send("click Command2");
        EXPECT_EQ(program->waitForExit(), 0);
        ::close(reader);
    }
}

TEST_F(ReliabilityTest, FileThatCannotGrowMidCaptureLeavesOnlyWholeLines) {
    // 64 KiB of room, filled by records whose lines do not divide it: a file-size
    // limit (which by default kills the writer), then a full file system.
    for (const bool fullDisk : {false, true}) {
        const QString folder = fullDisk ? dir.filePath("small") : dir.path();
        if (fullDisk && ::geteuid() != 0)
            GTEST_SKIP() << "mounting a small file system needs root";
        if (fullDisk &&
            (!QDir().mkpath(folder) ||
             QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", folder}) != 0))
            GTEST_SKIP() << "cannot mount a tmpfs here";
        struct Unmount {
            QString path;
            ~Unmount() {
                if (!path.isEmpty())
                    QProcess::execute("umount", {path});
            }
        } unmount{fullDisk ? folder : QString()};

        auto program = startProgram({line.slavePath()});
        const rlimit limit{64 * 1024, 64 * 1024};
        ASSERT_TRUE(fullDisk || ::prlimit(pid_t(program->process.processId()), RLIMIT_FSIZE, &limit,
                                          nullptr) == 0);
        const QString file = folder + "/full.txt";
        ASSERT_TRUE(program->startCapture(file));
        const QByteArray records = paddedRecords(200 * 1024, 6, 93);
        // The program stops reading at the failure: the instrument gives up then.
        std::atomic<bool> stop{false};
        std::thread instrument = sendUntilStopped(line, records, stop);
        expectFailure(*program, file, fullDisk ? "No space left on device" : "File too large");
        stop = true;
        instrument.join();

        const QByteArray saved = contents(file);
        ASSERT_FALSE(saved.isEmpty());
        EXPECT_TRUE(saved.endsWith("\r\n")) << "the file ends in part of a line";
        EXPECT_TRUE(QByteArray(records).replace("\r", "\r\n").startsWith(saved))
            << "lines were changed or lost";
    }
}

TEST_F(ReliabilityTest, FileThatAnotherCaptureHoldsIsRefusedAndLeftAlone) {
    auto first = startProgram({line.slavePath()});
    const QString file = dir.filePath("shared.txt");
    ASSERT_TRUE(first->startCapture(file));
    line.send("one\r");
    ASSERT_TRUE(first->waitForStatus("one"));

    PseudoTerminal other;
    auto second = startProgram({other.slavePath()});
    second->send("type Text2 " + file);
    second->send("click Command1");
    expectFailure(*second, file, "another program");

    line.send("two\r");
    ASSERT_TRUE(first->waitForStatus("two"));
    EXPECT_EQ(contents(file), "one\r\ntwo\r\n");
    first->send("click Command2");
    EXPECT_EQ(first->waitForExit(), 0);
}

TEST_F(ReliabilityTest, FileDeletedDuringTheCaptureFailsTheNextWrite) {
    auto program = startProgram({line.slavePath()});
    const QString file = dir.filePath("gone.txt");
    ASSERT_TRUE(program->startCapture(file));
    line.send("one\r");
    ASSERT_TRUE(program->waitForStatus("one"));
    ASSERT_TRUE(QFile::remove(file));
    line.send("two\r");
    // The reason is given once, not once for the write and again for the close.
    const QString message = program->waitFor("message ");
    EXPECT_TRUE(message.contains(file)) << message.toStdString();
    EXPECT_EQ(message.count("deleted"), 1) << message.toStdString();
    program->send("dismiss");
    EXPECT_EQ(program->waitForExit(), 1);
}

TEST_F(ReliabilityTest, FileEmptiedByAnotherProgramGetsNoRunOfNulBytes) {
    // Someone empties the file during the capture (a log rotation that copies
    // and truncates, "> file" in a shell): the next record must not land at the
    // old offset behind a hole of NUL bytes.
    auto program = startProgram({line.slavePath()});
    const QString file = dir.filePath("emptied.txt");
    ASSERT_TRUE(program->startCapture(file));
    line.send("one\r");
    ASSERT_TRUE(program->waitForStatus("one"));
    ASSERT_TRUE(QFile::resize(file, 0));
    line.send("two\r");
    ASSERT_TRUE(program->waitForStatus("two"));
    program->send("click Command2");
    program->waitForExit();
    EXPECT_FALSE(contents(file).contains('\0')) << contents(file).toHex(' ').toStdString();
}

TEST_F(ReliabilityTest, BrokenPipeTakesTheFailurePathInsteadOfKillingTheProgram) {
    const QString fifo = makeFifo(dir, "pipe");
    ASSERT_FALSE(fifo.isEmpty());
    const int reader =
        ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    auto program = startProgram({line.slavePath()});
    ASSERT_TRUE(program->startCapture(fifo));
    line.send("one\r");
    EXPECT_EQ(readFor(reader, 5), "one\r\n");

    // A stray SIGPIPE changes nothing; a reader that goes away fails the write.
    ::kill(pid_t(program->process.processId()), SIGPIPE);
    program->send("status");
    EXPECT_FALSE(program->waitFor("status: ").isNull()) << "SIGPIPE ended the program";
    ::close(reader);
    line.send("two\r");
    expectFailure(*program, fifo, "Broken pipe");
}

TEST_F(ReliabilityTest, PortThatAnotherProgramHoldsIsNotTaken) {
    // This test holds the line open, as a terminal program would.
    const int holder = ::open(QFile::encodeName(line.slavePath()).constData(),
                              O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    line.send("for the holder\r");
    auto program = startProgram({line.slavePath()});
    program->send("type Text2 " + dir.filePath("held.txt"));
    program->send("click Command1");
    expectFailure(*program, line.slavePath(),
                  QStringLiteral("process %1").arg(QCoreApplication::applicationPid()));
    // Nothing was taken from the holder.
    EXPECT_EQ(readFor(holder, 15, 2000), "for the holder\r");
    ::close(holder);
}

TEST_F(ReliabilityTest, PortMessagesSayWhatReallyHappened) {
    {
        SCOPED_TRACE("a lock file of a running program: in use, no group advice");
        QProcess sleeper;
        sleeper.start("sleep", {"60"});
        ASSERT_TRUE(sleeper.waitForStarted());
        const QString lock = "/var/lock/LCK.." + line.slavePath().mid(5).replace('/', '_');
        QFile lockFile(lock);
        if (!lockFile.open(QIODevice::WriteOnly))
            GTEST_SKIP() << "cannot write " << lock.toStdString();
        lockFile.write(QByteArray::number(sleeper.processId()) + "\nsleep\n" +
                       QSysInfo::machineHostName().toLocal8Bit() + "\n");
        lockFile.close();
        auto program = startProgram({line.slavePath()});
        program->send("type Text2 " + dir.filePath("locked.txt"));
        program->send("click Command1");
        const QString message = program->waitFor("message ");
        EXPECT_TRUE(message.contains("sleep") &&
                    message.contains(QString::number(sleeper.processId())))
            << message.toStdString();
        EXPECT_FALSE(message.contains("usermod")) << message.toStdString();
        program->send("dismiss");
        EXPECT_EQ(program->waitForExit(), 1);
        sleeper.kill();
        sleeper.waitForFinished();
        QFile::remove(lock);
    }
    {
        SCOPED_TRACE("a hang-up: no stale system reason");
        auto program = startProgram({line.slavePath()});
        ASSERT_TRUE(program->startCapture(dir.filePath("hangup.txt")));
        line.closeMaster();
        const QString message = program->waitFor("message ");
        EXPECT_TRUE(message.endsWith(": the line was hung up or the device was removed"))
            << message.toStdString();
        program->send("dismiss");
        EXPECT_EQ(program->waitForExit(), 1);
    }
}

TEST_F(ReliabilityTest, CaptureFileWhoseReaderStopsReadingNeverFreezesTheWindow) {
    // A program opens the pipe and then never reads from it: once the pipe is
    // full, the window must still answer (Abort, Exit, signals).
    const QString fifo = makeFifo(dir, "stalled");
    ASSERT_FALSE(fifo.isEmpty());
    const int reader =
        ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    auto program = startProgram({line.slavePath()});
    ASSERT_TRUE(program->startCapture(fifo));

    const QByteArray records = paddedRecords(1024 * 1024, 8, 40);
    std::atomic<bool> stop{false};
    std::thread instrument = sendUntilStopped(line, records, stop);
    // Wait until the program has stopped writing: the pipe holds what it can
    // and has not changed for a while, though the line still sends.
    int held = 0;
    int before = -1;
    QElapsedTimer timer;
    QElapsedTimer still;
    timer.start();
    still.start();
    while (timer.elapsed() < 10000) {
        if (::ioctl(reader, FIONREAD, &held) != 0 || held != before) {
            before = held;
            still.restart();
        } else if (held > 0 && still.elapsed() >= 300) {
            break;
        }
        QThread::usleep(1000);
    }
    EXPECT_GT(held, 0) << "nothing reached the pipe";

    program->send("status");
    const bool answered = !program->waitFor("status: ", 10000).isNull();
    stop = true;
    instrument.join();
    ::close(reader);
    EXPECT_TRUE(answered) << "the window froze while the pipe's reader did not read";
}

TEST_F(ReliabilityTest, StatusBoxShowsTheNewestRecordWhileADialogIsOpen) {
    // Records in quick succession while the Save As dialog is open: once the
    // line is quiet, the box shows the last one, as it does with no dialog.
    auto program = startProgram({line.slavePath()});
    const QString file = dir.filePath("newest.txt");
    ASSERT_TRUE(program->startCapture(file));
    program->send("click Command4");
    ASSERT_FALSE(program->waitFor("dialog: ").isNull()) << "the Save As dialog did not open";
    QByteArray sent;
    for (int n = 0; n < 30; ++n) {
        const QByteArray record = "quick " + QByteArray::number(n).rightJustified(2, '0') + '\r';
        line.send(record);
        sent += record.chopped(1) + "\r\n";
        ASSERT_TRUE(waitForSize(file, sent.size()));
    }
    EXPECT_TRUE(program->waitForStatus("quick 29", 5000)) << "the box shows an older record";
    program->send("dismiss");
    program->send("click Command2");
    EXPECT_EQ(program->waitForExit(), 0);
}

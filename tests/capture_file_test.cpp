#include "disk_worker.h"
#include "failure.h"
#include "support/error_of.h"
#include "support/file_contents.h"
#include "support/held_drive.h"
#include "system_capture_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#ifndef _WIN32
#include <atomic>
#include <csignal>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

using talvern::CaptureError;
using talvern::SystemCaptureFile;

namespace {

class CaptureFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
};

} // namespace

TEST_F(CaptureFileTest, WritesBytesExactlyAndEachWriteIsVisibleAtOnce) {
    SystemCaptureFile file;
    file.open(path("out.txt"));
    file.write("one\r\n");
    // No buffering in the process: another reader sees the line before close.
    EXPECT_EQ(contents(path("out.txt")), "one\r\n");
    file.write(QByteArray("\0\x80\xff\r\n", 5));
    file.close();
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(contents(path("out.txt")), QByteArray("one\r\n\0\x80\xff\r\n", 10));
}

TEST_F(CaptureFileTest, OpenKeepsAnExistingFileUntilItIsEmptied) {
    QFile old(path("old.txt"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("earlier capture\r\n");
    old.close();

    SystemCaptureFile file;
    file.open(path("old.txt"));
    EXPECT_EQ(contents(path("old.txt")), "earlier capture\r\n");
    file.empty();
    EXPECT_EQ(contents(path("old.txt")), "");
    file.write("new\r\n");
    file.close();
    EXPECT_EQ(contents(path("old.txt")), "new\r\n");
}

TEST_F(CaptureFileTest, FailuresNameTheFileAndTheReason) {
    const QString missing = path("no-such-folder/out.txt");
    SystemCaptureFile file;
    const QString message = errorOf([&] { file.open(missing); });
    EXPECT_TRUE(message.contains(missing)) << message.toStdString();
    EXPECT_TRUE(message.contains("No such file or directory")) << message.toStdString();
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_FALSE(file.isOpen());

    // A folder is not a file.
    const QString folder = errorOf([&] { file.open(dir.path()); });
    EXPECT_TRUE(folder.contains(dir.path()) && folder.contains("directory"))
        << folder.toStdString();
}

TEST_F(CaptureFileTest, NameWithNulIsRefusedNotCutShort) {
    const QString name = path("a") + QChar(0) + QStringLiteral("b");
    SystemCaptureFile file;
    EXPECT_NE(errorOf([&] { file.open(name); }), "<no error>");
    EXPECT_FALSE(QFile::exists(path("a")));
}

TEST_F(CaptureFileTest, FullDiskFailsTheWrite) {
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    SystemCaptureFile file;
    file.open("/dev/full");
    const QString message = errorOf([&] { file.write("12.5\r\n"); });
    EXPECT_TRUE(message.contains("/dev/full") && message.contains("No space left on device"))
        << message.toStdString();
    // Closing a device that cannot be synced is no failure.
    EXPECT_EQ(errorOf([&] { file.close(); }), "<no error>");
}

#ifndef _WIN32
namespace {

// Some drivers and network file systems answer a write with 0: nothing taken
// and no error. This test program's write() does that for one descriptor, as
// such a file would; every other write goes to the system as it is.
std::atomic<int> takesNothing{-1};

// The descriptor open on `path` in this process, or -1.
int descriptorOf(const QString& path) {
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::System | QDir::Files))
        if (QFile::symLinkTarget(fds.filePath(fd)) == path)
            return fd.toInt();
    return -1;
}

} // namespace

extern "C" ssize_t write(int fd, const void* bytes, size_t size) {
    if (fd == takesNothing)
        return 0;
    return ::syscall(SYS_write, fd, bytes, size);
}

TEST_F(CaptureFileTest, FullDiskKeepsEveryWholeRecordTheSystemTook) {
    // Room for 60 bytes (a file-size limit stands in for a full disk): of
    // eight 8-byte records after "a", seven fit. Written at once, or queued
    // behind a flush and written together, the seven stay and no part of the
    // eighth does; a queued record the status box showed is counted as lost.
    const QByteArray records = QByteArray("rec-0N\r\n").repeated(8);
    std::signal(SIGXFSZ, SIG_IGN);
    for (const bool queued : {false, true}) {
        SCOPED_TRACE(queued ? "queued" : "at once");
        const QString name = path(queued ? "queued.txt" : "direct.txt");
        HeldDrive drive;
        SystemCaptureFile file(talvern::DiskWorker::Runs::OnItsThread, [&] { drive.flush(); });
        file.open(name);
        file.write("a\r\n");
        rlimit before{};
        ::getrlimit(RLIMIT_FSIZE, &before);
        rlimit room = before;
        room.rlim_cur = 60;
        ::setrlimit(RLIMIT_FSIZE, &room);
        if (queued) {
            file.sync();
            drive.whenFlushing();
            for (qsizetype at = 0; at < records.size(); at += 8)
                file.write(records.mid(at, 8));
        }
        drive.release();
        while (file.syncing())
            std::this_thread::yield();
        const QString message = errorOf([&] { queued ? file.check() : file.write(records); });
        ::setrlimit(RLIMIT_FSIZE, &before);
        EXPECT_TRUE(message.contains(name) && message.contains("File too large") &&
                    message.contains(queued ? "the last record shown in the status box" : ""))
            << message.toStdString();
        file.close();
        EXPECT_EQ(contents(name), "a\r\n" + records.first(56));
    }
}

TEST_F(CaptureFileTest, FileThatTakesNothingFailsTheWriteInsteadOfTryingForever) {
    SystemCaptureFile file;
    file.open(path("out.txt"));
    file.write("kept\r\n");
    takesNothing = descriptorOf(QFileInfo(path("out.txt")).canonicalFilePath());
    ASSERT_GE(takesNothing, 0);
    const QString message = errorOf([&] { file.write("12.5\r\n"); });
    takesNothing = -1;
    EXPECT_TRUE(message.contains(path("out.txt")) && message.contains("took none of the bytes"))
        << message.toStdString();
    file.close();
    EXPECT_EQ(contents(path("out.txt")), "kept\r\n");
}

#endif

TEST_F(CaptureFileTest, SecondOpenIsRefusedAndKeepsTheFirst) {
    SystemCaptureFile file;
    file.open(path("first.txt"));
    EXPECT_NE(errorOf([&] { file.open(path("second.txt")); }), "<no error>");
    EXPECT_FALSE(QFile::exists(path("second.txt")));
    file.write("x\r\n");
    file.close();
    EXPECT_EQ(contents(path("first.txt")), "x\r\n");
}

TEST_F(CaptureFileTest, WriteAfterCloseFailsAndCloseTwiceIsHarmless) {
    SystemCaptureFile file;
    file.open(path("out.txt"));
    file.close();
    EXPECT_EQ(errorOf([&] { file.close(); }), "<no error>");
    EXPECT_NE(errorOf([&] { file.write("late\r\n"); }), "<no error>");
    EXPECT_EQ(contents(path("out.txt")), "");
}

TEST_F(CaptureFileTest, DriveThatStopsAnsweringFailsTheWritePastTheBoundAndDropsNothing) {
    // Behind a drive silent a while, records wait up to a bound (16 bytes
    // here): the write past it fails, naming the file and the silence, and is
    // kept too. A drive still at its flush (a flood's data) holds more, up to
    // a ceiling.
    const struct {
        const char* drive;
        talvern::QueueBound bound;
        bool fails;
    } rows[] = {{"silent", {16, 0, 1 << 20}, true},
                {"busy", {16, 60000, 1 << 20}, false},
                {"busy past the ceiling", {16, 60000, 20}, true}};
    for (const auto& row : rows) {
        HeldDrive drive;
        const QString name = path(row.drive);
        SystemCaptureFile file(
            talvern::DiskWorker::Runs::OnItsThread, [&] { drive.flush(); }, row.bound);
        file.open(name);
        file.write("a\r\n");
        file.sync();
        drive.whenFlushing();
        file.write("rec-01\r\nrec-02\r\n");
        const QString message = errorOf([&] { file.write("rec-03\r\n"); });
        if (row.fails)
            EXPECT_TRUE(message.contains(QDir::toNativeSeparators(name)) &&
                        message.contains("has not answered for less than a second"))
                << row.drive << ": " << message.toStdString();
        else
            EXPECT_EQ(message, "<no error>") << row.drive;
        drive.release();
        file.close();
        EXPECT_EQ(contents(name), "a\r\nrec-01\r\nrec-02\r\nrec-03\r\n") << row.drive;
    }
}

TEST(DiskWorker, WritesWaitInOrderBehindAFlushAndAFailedFlushDropsNoneOfThem) {
    // A drive that ends a flush only when the test lets it, failing if told.
    std::mutex mutex;
    std::condition_variable answered;
    int answers = 0;
    bool failing = false;
    QByteArray written;
    int flushes = 0;
    talvern::DiskWorker worker([&](QByteArrayView bytes) { written += bytes.toByteArray(); },
                               [&] {
                                   std::unique_lock lock(mutex);
                                   const int flush = flushes++;
                                   answered.notify_all();
                                   answered.wait(lock, [&] { return answers > flush; });
                                   if (failing)
                                       throw CaptureError("Input/output error");
                               });
    const auto answer = [&](bool fail) {
        {
            const std::lock_guard lock(mutex);
            ++answers;
            failing = fail;
        }
        answered.notify_all();
    };
    const auto whenFlushing = [&](int count) {
        std::unique_lock lock(mutex);
        answered.wait(lock, [&] { return flushes == count; });
    };

    worker.write("a\r\n"); // idle: written at once
    EXPECT_EQ(written, "a\r\n");
    worker.request();
    whenFlushing(1);
    // While the drive takes its time, writes return at once and wait.
    worker.write("b\r\n");
    worker.write("c\r\n");
    worker.request();
    EXPECT_TRUE(worker.busy());
    answer(false);
    answer(false);
    worker.waitUntilIdle();
    EXPECT_EQ(written, "a\r\nb\r\nc\r\n");
    EXPECT_EQ(flushes, 2);
    EXPECT_FALSE(worker.takeFailure());

    // A flush that fails: the records written behind it still go to the
    // file, no flush runs after it, and the failure is told once.
    worker.request();
    whenFlushing(3);
    worker.write("d\r\n");
    worker.request();
    answer(true);
    worker.waitUntilIdle();
    EXPECT_EQ(flushes, 3);
    EXPECT_EQ(written, "a\r\nb\r\nc\r\nd\r\n");
    const std::optional<CaptureError> failure = worker.takeFailure();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->message(), "Input/output error");
    EXPECT_FALSE(worker.takeFailure());
}

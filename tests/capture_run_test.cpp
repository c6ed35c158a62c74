#include "capture_run.h"
#include "capture_view.h"
#include "serial_port.h"
#include "support/file_contents.h"
#include "support/held_drive.h"
#include "support/moved_home.h"
#include "support/sync_counting_file.h"
#include "system_capture_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

using talvern::CaptureError;
using talvern::CaptureRun;
using talvern::CaptureView;
using talvern::Outcome;
using talvern::SerialPort;
using talvern::SystemCaptureFile;
using talvern::UploadSettings;
using State = CaptureRun::State;

// The capture is driven step by step here: its syncs run in place, so that
// nothing happens behind the script's back.
constexpr auto kInPlace = talvern::DiskWorker::Runs::InPlace;

namespace {

using Log = std::vector<std::string>;

// A port whose received bytes the test puts in, and which logs every operation.
class FakePort : public SerialPort {
public:
    explicit FakePort(Log& log)
        : log_(log) {}

    void setCommPort(qint16 number) override {
        log_.push_back("CommPort=" + std::to_string(number));
        if (beforeOpen)
            beforeOpen();
        if (number > ports)
            throw CaptureError(QStringLiteral("Serial port COM%1: no such port").arg(number));
    }
    void setSettings(const QString& settings) override {
        log_.push_back("Settings=" + settings.toStdString());
    }
    void setInputLen(qint16 length) override {
        log_.push_back("InputLen=" + std::to_string(length));
    }
    void setPortOpen(bool open) override {
        log_.push_back(open ? "open" : "close");
        if (open && busy)
            throw CaptureError(QStringLiteral("Serial port COM1: busy"));
        isOpen = open;
        if (open)
            waiting.clear(); // bytes from before the open are not seen
    }
    bool portOpen() const override { return isOpen; }
    bool openedMidStream() const override { return midStream; }
    qint64 inBufferCount() override {
        EXPECT_TRUE(isOpen) << "polled a closed port";
        ++polls;
        if (readError)
            throw CaptureError(*readError);
        return waiting.size();
    }
    QByteArray input() override {
        EXPECT_TRUE(isOpen) << "read a closed port";
        if (outOfMemory)
            throw std::bad_alloc();
        return std::exchange(waiting, QByteArray());
    }
    talvern::LineErrors lineErrors() override { return errors; }
    void setOutput(const QByteArray& bytes) override {
        EXPECT_TRUE(bytes.isEmpty());
        log_.push_back("Output");
    }

    int ports = 4;
    bool busy = false;
    bool isOpen = false;
    bool outOfMemory = false; // a read fails for want of memory
    bool midStream = false;   // the line was sending as the port opened
    int polls = 0;
    QByteArray waiting;
    talvern::LineErrors errors; // what the receiver has counted so far
    std::optional<QString> readError;
    std::function<void()> beforeOpen;

private:
    Log& log_;
};

// A window whose event processing runs the test's script, one step per call, as
// if each step were a user's action or bytes arriving.
class ScriptedView : public CaptureView {
public:
    explicit ScriptedView(Log& log)
        : log_(log) {}

    void setStatusText(const QString& text) override {
        status = text;
        log_.push_back("status=" + text.toStdString());
    }
    void setAbortEnabled(bool enabled) override {
        abortEnabled = enabled;
        log_.push_back(enabled ? "abort on" : "abort off");
    }
    void beep() override { log_.push_back("beep"); }
    void processEvents() override {
        ++rounds;
        if (script.empty()) {
            // A loop that outlives its script would never end: stop it and say so.
            ADD_FAILURE() << "the capture loop kept running after the script ended";
            if (onRunaway)
                onRunaway();
            return;
        }
        auto step = std::move(script.front());
        script.pop_front();
        step();
    }
    void waitForSave(const talvern::CaptureFile& file) override {
        ++waits;
        while (file.syncing())
            processEvents();
    }

    QString status;
    bool abortEnabled = false;
    int rounds = 0;
    int waits = 0; // for the drive, with the window's events running
    std::deque<std::function<void()>> script;
    std::function<void()> onRunaway;

private:
    Log& log_;
};

// Alarms and a clock that move only when the test moves them.
struct HandClock {
    struct HandAlarm : talvern::Alarm {
        explicit HandAlarm(const qint64& now)
            : now(now) {}
        void set(int ms, std::function<void()> call) override {
            due = now + ms;
            then = std::move(call);
        }
        void cancel() override { then = nullptr; }
        bool isSet() const override { return bool(then); }
        const qint64& now;
        qint64 due = 0;
        std::function<void()> then;
    };
    talvern::Alarms alarms() {
        return [this] {
            return std::unique_ptr<talvern::Alarm>(made.emplace_back(new HandAlarm(now)));
        };
    }
    talvern::Clock clock() {
        return [this] {
            return now;
        };
    }
    // Moves the time on to `to`, ringing each alarm whose time comes.
    void advanceTo(qint64 to) {
        for (HandAlarm* alarm : made)
            while (alarm->then && alarm->due <= to) {
                now = alarm->due;
                std::exchange(alarm->then, nullptr)();
            }
        now = to;
    }
    bool anySet() const {
        return std::any_of(made.begin(), made.end(), [](auto* a) { return a->isSet(); });
    }
    qint64 now = 0;
    std::vector<HandAlarm*> made;
};

class CaptureRunTest : public ::testing::Test {
protected:
    CaptureRunTest() {
        view.onRunaway = [this] {
            (void)run.exit();
        };
        // As typed on the system: the file's messages name it as the system does.
        settings.CaptureFileName = QDir::toNativeSeparators(dir.filePath("capture.txt"));
    }

    QByteArray fileContents() const { return contents(settings.CaptureFileName); }
    // Script steps.
    std::function<void()> arrive(QByteArray bytes) {
        return [this, bytes] {
            port.waiting += bytes;
        };
    }
    std::function<void()> clickAbort() {
        return [this] {
            EXPECT_FALSE(run.abort());
        };
    }
    std::function<void()> clickExit() {
        return [this] {
            EXPECT_FALSE(run.exit());
        };
    }
    std::function<void()> expectFile(QByteArray expected) {
        return [this, expected] {
            EXPECT_EQ(fileContents(), expected);
        };
    }

    QTemporaryDir dir;
    Log log;
    UploadSettings settings;
    FakePort port{log};
    ScriptedView view{log};
    SystemCaptureFile file{kInPlace};
    CaptureRun run{settings, port, file, view};
};

} // namespace

TEST_F(CaptureRunTest, EmptyNameOpensNothing) {
    settings.CaptureFileName.clear();
    view.status = "old";
    EXPECT_FALSE(run.start());
    EXPECT_EQ(run.state(), State::NoName);
    EXPECT_EQ(log, (Log{"status=", "status=Please enter file name", "beep", "abort off"}));
    EXPECT_FALSE(port.isOpen);
}

TEST_F(CaptureRunTest, NameOfOneSpaceIsAName) {
    settings.CaptureFileName = dir.filePath(" ");
    view.script = {clickAbort()};
    EXPECT_FALSE(run.start());
    EXPECT_TRUE(QFile::exists(dir.filePath(" ")));
}

TEST_F(CaptureRunTest, StartStepsInOrderThenRecordsReachTheFileBeforeTheNextPoll) {
    port.beforeOpen = [this] {
        // The file exists, empty, before the port is touched.
        EXPECT_EQ(fileContents(), "");
    };
    view.script = {
        arrive("12."),          expectFile(""),     arrive("5\r"),
        expectFile("12.5\r\n"), arrive("A\rB\r\n"), expectFile("12.5\r\nA\r\nB\r\n"),
        clickAbort(),
    };
    EXPECT_FALSE(run.start());

    const Log expectedStart{"status=",    "CommPort=1", "Settings=9600,N,8,1",
                            "InputLen=0", "open",       "abort on"};
    ASSERT_GE(log.size(), expectedStart.size());
    EXPECT_EQ(Log(log.begin(), log.begin() + long(expectedStart.size())), expectedStart);
    EXPECT_EQ(Log(log.end() - 4, log.end()),
              (Log{"status=B", "Output", "close", "status=Upload Abort"}));
    EXPECT_EQ(run.state(), State::Aborted);
    EXPECT_TRUE(view.abortEnabled);
    EXPECT_FALSE(port.isOpen);
    EXPECT_EQ(fileContents(), "12.5\r\nA\r\nB\r\n");
}

TEST_F(CaptureRunTest, PortNumberIsReadAtStartOnly) {
    settings.PortNumber = 3;
    view.script = {[this] { settings.PortNumber = 2; }, clickAbort()};
    EXPECT_FALSE(run.start());
    EXPECT_EQ(log[1], "CommPort=3");
    view.script = {clickAbort()};
    EXPECT_FALSE(run.start());
    EXPECT_NE(std::find(log.begin(), log.end(), "CommPort=2"), log.end());
}

TEST_F(CaptureRunTest, AbortBeforeDataLeavesAnEmptyFileAndStopsPolling) {
    QFile existing(settings.CaptureFileName);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old lines\r\n");
    existing.close();

    view.script = {clickAbort()};
    EXPECT_FALSE(run.start());
    EXPECT_EQ(fileContents(), "");
    EXPECT_EQ(view.status, "Upload Abort");
    EXPECT_EQ(port.polls, 1) << "one last look when Abort closes the port, and no poll after";
}

TEST_F(CaptureRunTest, SecondAbortOnlySaysUploadAbortAgain) {
    view.script = {clickAbort()};
    EXPECT_FALSE(run.start());
    log.clear();
    view.status.clear();
    EXPECT_FALSE(run.abort());
    EXPECT_EQ(log, Log{"status=Upload Abort"});
    EXPECT_EQ(run.state(), State::Aborted);
}

TEST_F(CaptureRunTest, StartAfterAbortWithSameNameCapturesAnew) {
    view.script = {arrive("first\r"), clickAbort()};
    EXPECT_FALSE(run.start());
    EXPECT_EQ(fileContents(), "first\r\n");

    port.waiting = "stale\r"; // arrived while the port was closed
    view.script = {expectFile(""), arrive("second\r"), clickAbort()};
    EXPECT_FALSE(run.start());
    EXPECT_EQ(fileContents(), "second\r\n");
}

TEST_F(CaptureRunTest, PartialRecordIsNotCarriedIntoTheNextCapture) {
    view.script = {arrive("half"), clickAbort()};
    EXPECT_FALSE(run.start());
    view.script = {arrive("whole\r"), clickAbort()};
    EXPECT_FALSE(run.start());
    EXPECT_EQ(fileContents(), "whole\r\n");
}

TEST_F(CaptureRunTest, StartDuringACaptureIsRefusedAndTheCaptureGoesOn) {
    view.script = {
        arrive("one\r"),
        [this] {
            settings.CaptureFileName.clear(); // even with the name cleared
            log.clear();
            EXPECT_FALSE(run.start());
            EXPECT_TRUE(log.empty()) << log.front();
            settings.CaptureFileName = dir.filePath("other.txt");
            EXPECT_FALSE(run.start());
            EXPECT_TRUE(log.empty());
        },
        arrive("two\r"),
        clickAbort(),
    };
    EXPECT_FALSE(run.start());
    EXPECT_FALSE(QFile::exists(dir.filePath("other.txt")));
    settings.CaptureFileName = dir.filePath("capture.txt");
    EXPECT_EQ(fileContents(), "one\r\ntwo\r\n");
    EXPECT_TRUE(view.abortEnabled);
}

TEST_F(CaptureRunTest, ExitKeepsCompleteRecordsDropsThePartialOneAndEndsTheLoop) {
    view.script = {arrive("a\rb\rpart"), clickExit()};
    EXPECT_FALSE(run.start());
    EXPECT_EQ(run.state(), State::Ended);
    EXPECT_EQ(fileContents(), "a\r\nb\r\n");
    EXPECT_FALSE(port.isOpen);
    // Nothing runs after Exit.
    log.clear();
    EXPECT_FALSE(run.start());
    EXPECT_FALSE(run.abort());
    EXPECT_TRUE(log.empty());
}

TEST_F(CaptureRunTest, ExitWhenIdleEndsWithNothingToClose) {
    EXPECT_FALSE(run.exit());
    EXPECT_EQ(run.state(), State::Ended);
    EXPECT_TRUE(log.empty());
}

TEST_F(CaptureRunTest, PortThatFailsLeavesANewFileEmptyAndAnEarlierOneAsItWas) {
    for (const QByteArray& before : {QByteArray(), QByteArray("yesterday\r\n")}) {
        settings.CaptureFileName = dir.filePath(before.isEmpty() ? "new.txt" : "earlier.txt");
        QFile earlier(settings.CaptureFileName);
        if (!before.isEmpty()) {
            ASSERT_TRUE(earlier.open(QIODevice::WriteOnly) && earlier.write(before) > 0);
        }
        earlier.close();
        FakePort port(log);
        port.busy = true;
        SystemCaptureFile file{kInPlace};
        CaptureRun run(settings, port, file, view);
        const Outcome outcome = run.start();
        ASSERT_TRUE(outcome && outcome->message.contains("busy"));
        EXPECT_TRUE(QFile::exists(settings.CaptureFileName));
        EXPECT_EQ(fileContents(), before);
        EXPECT_FALSE(view.abortEnabled || file.isOpen());
    }
}

TEST_F(CaptureRunTest, FileThatCannotBeCreatedFailsBeforeThePort) {
    settings.CaptureFileName = QDir::toNativeSeparators(dir.filePath("missing/capture.txt"));
    const Outcome outcome = run.start();
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->message.contains(settings.CaptureFileName));
    EXPECT_EQ(std::count(log.begin(), log.end(), "open"), 0);
    EXPECT_FALSE(QFile::exists(settings.CaptureFileName));
}

TEST_F(CaptureRunTest, ReadFailureKeepsEveryRecordAndReleasesThePort) {
    view.script = {arrive("kept\r"), [this] {
                       port.readError = "Serial port COM1: unplugged";
                   }};
    const Outcome outcome = run.start();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->message, "Serial port COM1: unplugged");
    EXPECT_EQ(fileContents(), "kept\r\n");
    EXPECT_FALSE(port.isOpen);
    EXPECT_EQ(run.state(), State::Ended);
}

TEST_F(CaptureRunTest, OutOfMemoryNamesThePortAndTheFileWhereverItHappens) {
    for (const char* when : {"capturing", "Abort", "Exit"}) {
        SCOPED_TRACE(when);
        FakePort port(log);
        SystemCaptureFile file{kInPlace};
        CaptureRun run(settings, port, file, view);
        Outcome ending; // Abort's or Exit's
        view.script = {[&] { port.waiting = "kept\r"; },
                       [&] {
                           port.waiting = "more\r";
                           port.outOfMemory = true;
                           if (when[0] != 'c')
                               ending = when[0] == 'A' ? run.abort() : run.exit();
                       }};
        const Outcome outcome = run.start();
        const Outcome& failure = when[0] == 'c' ? outcome : ending;
        ASSERT_TRUE(failure);
        for (const QString& part :
             {QString("COM1"), settings.CaptureFileName, QString("ran out of memory")})
            EXPECT_TRUE(failure->message.contains(part)) << failure->message.toStdString();
        EXPECT_EQ(fileContents(), "kept\r\n");
        EXPECT_FALSE(port.isOpen || file.isOpen());
    }
}

TEST_F(CaptureRunTest, WrittenRecordsReachTheDiskWithinASecondAndAQuietLineCostsNothing) {
    for (const bool failing : {false, true}) {
        HandClock time;
        FakePort port(log);
        SyncCountingFile file{kInPlace};
        file.fail = failing;
        CaptureRun run(settings, port, file, view, time.alarms(), time.clock());
        std::vector<int> syncs; // at each check
        const auto at = [&](qint64 ms, QByteArray bytes = {}) {
            return [&, ms, bytes] {
                time.advanceTo(ms);
                syncs.push_back(file.syncs);
                port.waiting = bytes;
            };
        };
        view.script = {
            // The first record after a quiet while is synced in its own wake-up;
            // records soon after wait for one sync, a second after the last; a
            // quiet line has nothing set to wake it.
            at(0, "a\r"),
            [&] { EXPECT_FALSE(time.anySet()); },
            at(0),
            at(100, "b\r"),
            at(900, "c\r"),
            at(999),
            at(1000),
            [&] { EXPECT_FALSE(time.anySet()); },
            at(60000, "d\r"),
            at(60000),
            [&] { EXPECT_FALSE(run.exit()); },
        };
        view.onRunaway = [&] {
            (void)run.exit();
        };
        const Outcome outcome = run.start();
        EXPECT_FALSE(file.isOpen());
        if (failing) {
            // The failure path, the file named, its records kept.
            ASSERT_TRUE(outcome && outcome->message.contains(settings.CaptureFileName));
            EXPECT_EQ(fileContents(), "a\r\n");
            view.script.clear();
            continue;
        }
        EXPECT_FALSE(outcome);
        EXPECT_EQ(syncs, (std::vector<int>{0, 1, 1, 1, 1, 2, 2, 3}));
        EXPECT_EQ(fileContents(), "a\r\nb\r\nc\r\nd\r\n");
    }
}

TEST_F(CaptureRunTest, NoticeOfAMissingCrGoesOnceACrComesEvenIfNoRecordIsKept) {
    // Joined mid-record: the tail is dropped at its CR, and that CR ends the
    // notice all the same; a later stretch as long is told of again.
    HandClock time;
    port.midStream = true;
    CaptureRun timed(settings, port, file, view, time.alarms(), time.clock());
    std::vector<QString> shown;
    const auto at = [&](qint64 ms, QByteArray bytes = {}) {
        return [&, ms, bytes] {
            time.advanceTo(ms);
            port.waiting = bytes;
        };
    };
    const auto look = [&] {
        shown.push_back(view.status);
    };
    view.script = {at(0, "tail"),
                   at(3000),
                   look,
                   at(3500, "end\r"),
                   at(3500),
                   look,
                   at(4000, "more"),
                   at(7000),
                   look,
                   [&] {
                       EXPECT_FALSE(timed.exit());
                   }};
    EXPECT_FALSE(timed.start());
    const QString notice = "4 bytes received but no CR (13) to end a record: \"%1\"";
    EXPECT_EQ(shown, (std::vector<QString>{notice.arg("tail"), "", notice.arg("more")}));
}

TEST_F(CaptureRunTest, ASlowDriveHoldsUpNeitherTheRecordsNorTheirEnd) {
    // A sync under way keeps nothing waiting: records go on to the status box,
    // and to the file behind the sync. Abort and Exit let the window wait for
    // the drive, and keep every record; a sync that fails late still ends the
    // capture with the file named, once the window has waited for the records
    // behind it to reach the file.
    for (const char* end : {"Abort", "Exit", "late failure"}) {
        SCOPED_TRACE(end);
        HandClock time;
        FakePort port(log);
        HeldDrive drive;
        SystemCaptureFile slowFile(talvern::DiskWorker::Runs::OnItsThread, [&] { drive.flush(); });
        CaptureRun slow(settings, port, slowFile, view, time.alarms(), time.clock());
        view.onRunaway = [&] {
            (void)slow.exit();
        };
        // From now on every flush ends, or fails; returns once the syncs have.
        const auto answer = [&](bool fail) {
            if (fail)
                drive.failure = talvern::captureFileError("Cannot save", settings.CaptureFileName,
                                                          "Input/output error")
                                    .message();
            drive.release();
            while (slowFile.syncing())
                std::this_thread::yield();
        };
        Outcome ended;
        view.script = {
            [&] { port.waiting = "a\r"; },
            [&] {
                time.advanceTo(100);
                port.waiting = "b\r";
            },
            [&] {
                // Shown at once; in the file once the drive has the one before.
                EXPECT_EQ(view.status, "b");
                EXPECT_TRUE(slowFile.syncing());
            },
        };
        if (end[0] == 'l') {
            view.script.push_back([&] {
                answer(true);
                QCoreApplication::sendPostedEvents(); // the worker's word that it ended
            });
        } else {
            view.script.push_back([&] { ended = end[0] == 'A' ? slow.abort() : slow.exit(); });
            // Inside Abort or Exit, while the drive takes its time.
            view.script.push_back([&] {
                EXPECT_EQ(slow.state(), State::Saving);
                EXPECT_FALSE(slow.abort() || slow.exit() || slow.start());
            });
            view.script.push_back([&] { answer(false); });
        }
        const int waitsBefore = view.waits;
        const Outcome outcome = slow.start();
        EXPECT_EQ(fileContents(), "a\r\nb\r\n");
        EXPECT_FALSE(slowFile.isOpen() || port.isOpen);
        EXPECT_EQ(view.waits, waitsBefore + 1);
        if (end[0] == 'l') {
            ASSERT_TRUE(outcome && outcome->message.contains(settings.CaptureFileName) &&
                        outcome->message.contains("Input/output error"));
            continue;
        }
        EXPECT_FALSE(outcome || ended);
        EXPECT_EQ(slow.state(), end[0] == 'A' ? State::Aborted : State::Ended);
    }
}

TEST_F(CaptureRunTest, ReadingsEndedByLfAreKeptAtTheEndAndACutRecordIsNot) {
    // An instrument that ends its readings with LF only: Abort and Exit keep
    // what waits up to its last LF as a last line, before or after the status
    // box has said that no CR comes, and after a 64 KiB cut too. A record cut
    // off by the end, with no line end at all, is dropped unless the box told
    // of it; the LF of a CR LF line end is no reading.
    const QByteArray many = QByteArray("12.50 g\n").repeated(8192); // 64 KiB
    const QByteArray fifty = QByteArray("12.51 g\n").repeated(50);
    const QByteArray readings = "12.50 g\n12.50 g\n" + many + fifty;
    const struct {
        const char* what;
        std::vector<QByteArray> reads; // two seconds apart
        qint64 endAfter;               // the last; the notice shows 3 s after the first byte
        QByteArray saved;
    } cases[] = {
        {"one reading after a record",
         {"A1\rlast reading 12.5 g\n"},
         1000,
         "A1\r\nlast reading 12.5 g\n\r\n"},
        {"a cut reading after whole ones", {"kept\r12.50 g\n12.5"}, 2999, "kept\r\n12.50 g\n\r\n"},
        {"told of, no line end at all", {"kept\r12.5"}, 3000, "kept\r\n12.5\r\n"},
        {"CR LF line ends", {"A1\r\n", "A2\r", "\n"}, 1000, "A1\r\nA2\r\n"},
        {"told of, then past the 64 KiB cut",
         {"kept\r12.50 g\n", "12.50 g\n", many + fifty},
         1000,
         "kept\r\n" + readings.first(65536) + "\r\n" + readings.sliced(65536) + "\r\n"},
    };
    for (const auto& c : cases)
        for (const bool abort : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.what << (abort ? ", Abort" : ", Exit"));
            HandClock time;
            FakePort port(log);
            SystemCaptureFile file(kInPlace);
            CaptureRun run(settings, port, file, view, time.alarms(), time.clock());
            view.script.clear();
            qint64 at = 0;
            for (const QByteArray& read : c.reads) {
                view.script.push_back([&, read, now = at] {
                    time.advanceTo(now);
                    port.waiting = read;
                });
                at += 2000;
            }
            view.script.push_back([&, end = at - 2000 + c.endAfter] {
                time.advanceTo(end);
                EXPECT_FALSE(abort ? run.abort() : run.exit());
            });
            EXPECT_FALSE(run.start());
            EXPECT_EQ(fileContents(), c.saved);
        }
}

TEST_F(CaptureRunTest, LineErrorsAreToldAsTheyRiseStayReadableAndAreToldAgainAtTheEnd) {
    using talvern::LineErrors;
    const auto counts = [](quint64 framing, quint64 parity = 0, quint64 overrun = 0,
                           quint64 bufferOverrun = 0, quint64 breaks = 0) {
        return LineErrors{true, framing, parity, overrun, bufferOverrun, breaks};
    };
    const QString errors = "Line errors since Start: ";
    const QString check =
        " — check that the instrument sends 9600 baud, 8 data bits, no parity, 1 stop bit";
    const QString lost = "2 overruns: bytes were lost before the program could read them";
    struct Step {
        qint64 at; // ms after Start
        LineErrors counts;
        QByteArray arriving;
        QString shown; // in the status box then
    };
    const struct {
        const char* what;
        LineErrors atStart;
        std::vector<Step> steps;
        QString atEnd; // told at Abort and at Exit
    } cases[] = {
        {"framing and parity errors, told again while they rise",
         counts(0),
         {{500, counts(12, 3), "x", errors + "12 framing, 3 parity" + check},
          // Held for three seconds while records keep coming, so it can be read.
          {1000, counts(12, 3), "\r", errors + "12 framing, 3 parity" + check},
          {1500, counts(13, 3), "y", errors + "13 framing, 3 parity" + check},
          {4499, counts(13, 3), "\r", errors + "13 framing, 3 parity" + check},
          {4500, counts(13, 3), "\r", ""}},
         errors + "13 framing, 3 parity" + check},
        {"looked at a few times a second, and a rise is told within one",
         counts(0),
         {{100, counts(1), "x", ""}, {300, counts(1), "", errors + "1 framing" + check}},
         errors + "1 framing" + check},
        {"overruns of the receiver and of the system's queue",
         counts(0),
         {{500, counts(0, 0, 1, 1), "x", lost}},
         lost},
        {"counts from before Start", counts(5, 1, 2), {{500, counts(5, 1, 2), "x", ""}}, ""},
        {"a counter that went back is a new base",
         counts(4000000000),
         {{500, counts(7), "x", ""}, {1000, counts(9), "x", errors + "2 framing" + check}},
         errors + "2 framing" + check},
        {"a break ends nothing",
         counts(0),
         {{500, counts(0, 0, 0, 0, 1), "x",
           errors + "1 break — check the cable and that the instrument is on"}},
         errors + "1 break — check the cable and that the instrument is on"},
        {"a port without counters",
         LineErrors{},
         {{500, LineErrors{false, 9, 9, 9, 9, 9}, "x", ""}},
         ""},
    };
    for (const auto& c : cases)
        for (const bool byExit : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (byExit ? ", Exit" : ", Abort"));
            HandClock time;
            FakePort port(log);
            SystemCaptureFile file(kInPlace);
            CaptureRun run(settings, port, file, view, time.alarms(), time.clock());
            port.errors = c.atStart;
            view.script.clear();
            for (const Step& step : c.steps) {
                view.script.push_back([&] {
                    port.errors = step.counts;
                    time.advanceTo(step.at);
                    port.waiting += step.arriving;
                });
                view.script.push_back(
                    [&] { EXPECT_EQ(view.status.toStdString(), step.shown.toStdString()); });
            }
            view.script.push_back([&] { EXPECT_FALSE(byExit ? run.exit() : run.abort()); });
            view.onRunaway = [&] {
                (void)run.exit();
            };
            EXPECT_FALSE(run.start());
            if (byExit)
                EXPECT_EQ(run.lineErrorsAtExit().toStdString(), c.atEnd.toStdString());
            else
                EXPECT_EQ(
                    view.status.toStdString(),
                    ("Upload Abort" + (c.atEnd.isEmpty() ? "" : " — " + c.atEnd)).toStdString());
        }
}

TEST_F(CaptureRunTest, ADriveThatFailsTheSyncAndTheCloseAlikeIsToldOnce) {
    SyncCountingFile file{kInPlace};
    file.fail = true;
    file.closeFails = "Input/output error";
    CaptureRun run(settings, port, file, view);
    view.script = {arrive("12.5\r")};
    const Outcome outcome = run.start();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->message.count("Input/output error"), 1) << outcome->message.toStdString();
}

TEST_F(CaptureRunTest, WriteFailureEndsTheCaptureWithTheSystemsReason) {
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    settings.CaptureFileName = "/dev/full";
    view.script = {arrive("12.5\r")};
    const Outcome outcome = run.start();
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->message.contains("/dev/full"));
    EXPECT_TRUE(outcome->message.contains("No space left on device"));
    EXPECT_FALSE(port.isOpen);
    EXPECT_EQ(port.polls, 1);
    EXPECT_EQ(view.status, "") << "a record that was not saved must not show";
}

TEST_F(CaptureRunTest, StatusShowsRecordBytesOneCharacterEach) {
    view.script = {arrive(QByteArray("\xb5g\x00x\r", 5)), clickAbort()};
    QString shown;
    view.script.insert(view.script.begin() + 1, [&] { shown = view.status; });
    EXPECT_FALSE(run.start());
    EXPECT_EQ(shown, QString::fromLatin1(QByteArray("\xb5g\x00x", 4)));
    EXPECT_EQ(shown.size(), 4);
}

TEST_F(CaptureRunTest, LeadingTildeIsTheHomeFolderAndNothingElseIsExpanded) {
    const QString home = dir.filePath("home");
    const MovedHome moved(home, dir.path());

    // The name typed, and the file created or named in the failure.
    const struct {
        const char* typed;
        QString file;
        bool created;
    } cases[] = {
        {"~/a b.txt", home + "/a b.txt", true},
        {"~/missing/x.txt", home + "/missing/x.txt", false},
        {"~", home, false}, // a folder
        {"~x.txt", dir.filePath("~x.txt"), true},
        {"$HOME/x.txt", "\"$HOME/x.txt\"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        settings.CaptureFileName = c.typed;
        SystemCaptureFile eachFile{kInPlace};
        CaptureRun each(settings, port, eachFile, view);
        view.script = {[&] {
            EXPECT_FALSE(each.abort());
        }};
        const Outcome outcome = each.start();
        if (c.created) {
            EXPECT_FALSE(outcome);
            EXPECT_TRUE(QFile::exists(c.file));
        } else {
            ASSERT_TRUE(outcome);
            EXPECT_TRUE(outcome->message.contains(c.file)) << outcome->message.toStdString();
            view.script.clear();
        }
    }
}

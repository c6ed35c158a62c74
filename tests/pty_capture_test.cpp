// Captures through the real serial port adapter from a pseudo-terminal, with the
// capture loop waiting on Qt's event loop as it does under the window.
#include "capture_run.h"
#include "serial_port_adapter.h"
#include "support/event_loop_view.h"
#include "support/file_contents.h"
#include "support/pseudo_terminal.h"
#include "system_capture_file.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

using talvern::CaptureRun;
using talvern::Outcome;
using talvern::SerialPortAdapter;
using talvern::UploadSettings;

namespace {

class PtyCaptureTest : public ::testing::Test {
protected:
    PtyCaptureTest() {
        settings.CaptureFileName = dir.filePath("capture.txt");
        limit.setSingleShot(true);
        limit.callOnTimeout([this] {
            ADD_FAILURE() << "timed out; last status: " << view.status.toStdString();
            EXPECT_FALSE(run.abort());
        });
    }

    QByteArray fileContents() const { return contents(settings.CaptureFileName); }

    // Runs `action` as an event of the loop, the way a click arrives. Posted
    // before Start, it runs at the capture's first round of events, port open.
    static void later(std::function<void()> action) { QTimer::singleShot(0, std::move(action)); }

    // Aborts once the status box shows `last`; fails after a time limit.
    void abortWhenShown(const QString& last) {
        view.onStatus = [this, last](const QString& text) {
            if (text == last)
                later([this] { EXPECT_FALSE(run.abort()); });
        };
        failAfterTimeLimit();
    }
    void failAfterTimeLimit() { limit.start(60000); }

    QTemporaryDir dir;
    PseudoTerminal line;
    UploadSettings settings;
    SerialPortAdapter port{[this] {
        return QStringList{line.slavePath()};
    }};
    EventLoopView view;
    talvern::SystemCaptureFile file;
    CaptureRun run{settings, port, file, view};
    QTimer limit; // stops with the test
};

} // namespace

TEST_F(PtyCaptureTest, TenThousandRecordsInRandomPiecesReachTheFileByteExact) {
    std::mt19937 random(7);
    QByteArray stream;
    QByteArray expected;
    std::uniform_int_distribution<int> length(0, 30), byte(0, 255), coin(0, 3);
    for (int i = 0; i < 10000; ++i) {
        QByteArray record;
        const int n = length(random);
        for (int k = 0; k < n; ++k) {
            char c = char(byte(random));
            record.append(c == '\r' || c == '\n' ? 'x' : c);
        }
        expected += record + "\r\n";
        stream += record + (coin(random) == 0 ? "\r\n" : "\r");
    }
    stream += "END\r";
    expected += "END\r\n";

    // The instrument: random piece sizes, now and then a pause. It starts at the
    // capture's first round of events, once the port is open.
    std::thread instrument;
    auto send = [&] {
        std::mt19937 timing(11);
        std::uniform_int_distribution<int> piece(1, 300), pause(0, 20);
        for (qsizetype at = 0; at < stream.size();) {
            const qsizetype size = std::min<qsizetype>(piece(timing), stream.size() - at);
            line.send(stream.mid(at, size));
            at += size;
            if (pause(timing) == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    };
    abortWhenShown("END");
    later([&] { instrument = std::thread(send); });

    const Outcome outcome = run.start();
    instrument.join();
    ASSERT_FALSE(outcome) << outcome->message.toStdString();
    EXPECT_EQ(run.state(), CaptureRun::State::Aborted);
    const QByteArray file = fileContents();
    EXPECT_EQ(file.size(), expected.size());
    EXPECT_TRUE(file == expected) << "the file differs from what was sent";
}

TEST_F(PtyCaptureTest, AbortReleasesThePortAndStartCapturesAgain) {
    abortWhenShown("first");
    later([this] { line.send("first\r"); });
    ASSERT_FALSE(run.start());
    EXPECT_FALSE(port.portOpen());

    // Another program can have the port now.
    SerialPortAdapter other([this] { return QStringList{line.slavePath()}; });
    other.setCommPort(1);
    other.setPortOpen(true);
    other.setPortOpen(false);

    abortWhenShown("second");
    later([this] { line.send("second\r"); });
    ASSERT_FALSE(run.start());
    EXPECT_EQ(fileContents(), "second\r\n");
}

TEST_F(PtyCaptureTest, MissingDeviceFailsNamingItAfterCreatingTheFile) {
    SerialPortAdapter gone([] { return QStringList{"/dev/ttyGONE7"}; });
    CaptureRun failing(settings, gone, file, view);
    const Outcome outcome = failing.start();
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->message.contains("/dev/ttyGONE7")) << outcome->message.toStdString();
    EXPECT_EQ(fileContents(), "");
}

TEST_F(PtyCaptureTest, FileInMissingFolderFailsAndLeavesThePortAlone) {
    settings.CaptureFileName = dir.filePath("absent/capture.txt");
    const Outcome outcome = run.start();
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->message.contains(settings.CaptureFileName));
    EXPECT_FALSE(QFile::exists(settings.CaptureFileName));
    EXPECT_FALSE(port.portOpen());
}

TEST_F(PtyCaptureTest, HangUpEndsTheCaptureKeepingEveryRecord) {
    view.onStatus = [this](const QString& text) {
        if (text == "two")
            later([this] { line.closeMaster(); });
    };
    later([this] { line.send("one\rtwo\r"); });
    failAfterTimeLimit();
    const Outcome outcome = run.start();
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->message.contains(line.slavePath())) << outcome->message.toStdString();
    EXPECT_EQ(fileContents(), "one\r\ntwo\r\n");
    EXPECT_FALSE(port.portOpen());
}

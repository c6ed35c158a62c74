#include "failure.h"
#include "line_settings.h"
#include "port_access.h"
#include "port_mapping.h"
#include "serial_port_adapter.h"
#include "support/error_of.h"
#include "support/pseudo_terminal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryFile>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <grp.h>
#include <unistd.h>

using talvern::CaptureError;
using talvern::LineSettings;
using talvern::parseLineSettings;
using talvern::SerialPortAdapter;

namespace {

// Processes events until `count` bytes wait at the port, or two seconds pass.
qint64 waitForBytes(SerialPortAdapter& port, qint64 count) {
    const QDeadlineTimer deadline(2000);
    while (port.inBufferCount() < count && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return port.inBufferCount();
}

} // namespace

TEST(LineSettings, ReadsTheUsualForms) {
    const auto line = parseLineSettings("9600,N,8,1");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->baudRate, 9600);
    EXPECT_EQ(line->parity, LineSettings::Parity::None);
    EXPECT_EQ(line->dataBits, 8);
    EXPECT_EQ(line->stopBits, LineSettings::StopBits::One);

    const auto other = parseLineSettings("19200,e,7,2");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->parity, LineSettings::Parity::Even);
    EXPECT_EQ(other->dataBits, 7);
    EXPECT_EQ(other->stopBits, LineSettings::StopBits::Two);
    EXPECT_EQ(parseLineSettings("300,M,5,1.5")->stopBits, LineSettings::StopBits::OneAndHalf);
    EXPECT_EQ(parseLineSettings("300,S,6,1")->parity, LineSettings::Parity::Space);
    EXPECT_EQ(parseLineSettings("300,O,6,1")->parity, LineSettings::Parity::Odd);
}

TEST(LineSettings, RefusesAnythingElse) {
    for (const char* bad :
         {"", "9600", "9600,N,8", "9600,N,8,1,1", "fast,N,8,1", "0,N,8,1", "-9600,N,8,1",
          "9600,X,8,1", "9600,N,9,1", "9600,N,4,1", "9600,N,8,3", "9600,NN,8,1"})
        EXPECT_FALSE(parseLineSettings(bad)) << bad;
}

TEST(PortMapping, OnBoardThenUsbThenAcmThenOthersByNumberNotText) {
    const QStringList ordered =
        talvern::orderComDevices({"/dev/ttyACM0", "/dev/ttyUSB10", "/dev/rfcomm0", "/dev/ttyS10",
                                  "/dev/ttyUSB2", "/dev/ttyS2", "/dev/ttyAMA0"});
    EXPECT_EQ(ordered, (QStringList{"/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB2", "/dev/ttyUSB10",
                                    "/dev/ttyACM0", "/dev/rfcomm0", "/dev/ttyAMA0"}));
    EXPECT_EQ(talvern::comDevice(ordered, 1), "/dev/ttyS2");
    EXPECT_EQ(talvern::comDevice(ordered, 7), "/dev/ttyAMA0");
    EXPECT_EQ(talvern::comDevice(ordered, 8), "");
    EXPECT_EQ(talvern::comDevice(ordered, 0), "");
}

class SerialPortAdapterTest : public ::testing::Test {
protected:
    PseudoTerminal line;
    SerialPortAdapter port{[this] {
        return QStringList{line.slavePath()};
    }};

    void open() {
        port.setCommPort(1);
        port.setSettings("9600,N,8,1");
        port.setInputLen(0);
        port.setPortOpen(true);
    }
};

TEST_F(SerialPortAdapterTest, ReadsWhatArrivesAfterOpenUnchanged) {
    line.send("before open\r");
    open();
    EXPECT_TRUE(port.portOpen());
    QByteArray sent;
    for (int b = 0; b < 256; ++b)
        sent.append(char(b));
    line.send(sent);
    EXPECT_EQ(waitForBytes(port, sent.size()), sent.size());
    EXPECT_EQ(port.input(), sent);
    EXPECT_EQ(port.inBufferCount(), 0);
}

TEST_F(SerialPortAdapterTest, InputLenLimitsOneRead) {
    open();
    port.setInputLen(3);
    line.send("abcdef");
    waitForBytes(port, 6);
    EXPECT_EQ(port.input(), "abc");
    EXPECT_EQ(port.input(), "def");
}

TEST_F(SerialPortAdapterTest, CloseReleasesThePortForAnotherOpener) {
    open();
    SerialPortAdapter other([this] { return QStringList{line.slavePath()}; });
    other.setCommPort(1);
    const QString busy = errorOf([&] { other.setPortOpen(true); });
    EXPECT_TRUE(busy.contains(line.slavePath())) << busy.toStdString();
    EXPECT_TRUE(busy.contains("COM1")) << busy.toStdString();

    port.setOutput(QByteArray());
    port.setPortOpen(false);
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(errorOf([&] { other.setPortOpen(true); }), "<no error>");
    // Closing and emptying output on a closed port do nothing.
    port.setPortOpen(false);
    port.setOutput(QByteArray());
}

TEST_F(SerialPortAdapterTest, MissingDeviceAndMissingComNumberAreNamed) {
    SerialPortAdapter gone([] { return QStringList{"/dev/no-such-tty"}; });
    gone.setCommPort(1);
    const QString message = errorOf([&] { gone.setPortOpen(true); });
    EXPECT_TRUE(message.contains("/dev/no-such-tty")) << message.toStdString();
    EXPECT_FALSE(gone.portOpen());

    const QString noCom3 = errorOf([&] { port.setCommPort(3); });
    EXPECT_TRUE(noCom3.contains("COM3")) << noCom3.toStdString();
    EXPECT_TRUE(noCom3.contains(line.slavePath())) << noCom3.toStdString();

    SerialPortAdapter none([] { return QStringList(); });
    EXPECT_TRUE(errorOf([&] { none.setCommPort(1); }).contains("no serial ports"));
}

TEST_F(SerialPortAdapterTest, InvalidSettingsAreRefusedWithTheText) {
    const QString message = errorOf([&] { port.setSettings("9600,Q,8,1"); });
    EXPECT_TRUE(message.contains("9600,Q,8,1")) << message.toStdString();
}

TEST_F(SerialPortAdapterTest, PortCannotBeSwitchedWhileOpen) {
    open();
    EXPECT_NE(errorOf([&] { port.setCommPort(1); }), "<no error>");
    EXPECT_NE(errorOf([&] { port.setPortOpen(true); }), "<no error>");
    EXPECT_TRUE(port.portOpen());
}

TEST_F(SerialPortAdapterTest, HangUpIsReportedOnceWithThePort) {
    open();
    line.send("last\r");
    waitForBytes(port, 5);
    line.closeMaster();

    // The error surfaces at a poll once the event loop has seen it, and only
    // after the bytes received before it have been taken.
    QString message = "<no error>";
    QByteArray taken;
    const QDeadlineTimer deadline(2000);
    while (message == "<no error>" && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        message = errorOf([&] {
            if (port.inBufferCount() > 0)
                taken += port.input();
        });
    }
    EXPECT_EQ(taken, "last\r");
    EXPECT_TRUE(message.contains("COM1") && message.contains(line.slavePath()))
        << message.toStdString();
    port.setPortOpen(false);
    EXPECT_FALSE(port.portOpen());
}

// A trickle is read in batches a pause apart: what comes during a pause waits
// in the system until it ends, or until the capture collects it as it ends.
// A quiet line, a flood and a flood's start are read as soon as bytes come.
TEST(SerialPortPacing, ATrickleWaitsOutThePauseAndNothingElseDoes) {
    struct Reader {
        PseudoTerminal line;
        SerialPortAdapter port;
        QByteArray got;
        std::function<void()> meanwhile; // while the next read is handled

        explicit Reader(int pauseMs)
            : port([this] { return QStringList{line.slavePath()}; }, {}, pauseMs) {
            port.setCommPort(1);
            port.setPortOpen(true);
            port.setReceiveHandler([this] {
                got += port.input();
                if (meanwhile)
                    std::exchange(meanwhile, nullptr)();
            });
        }
        // Sends `bytes`, then processes events until all sent so far has been
        // read, or for `ms`.
        bool read(const QByteArray& bytes, const QByteArray& wanted, int ms = 2000) {
            line.send(bytes);
            const QDeadlineTimer deadline(ms);
            while (got != wanted && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
            return got == wanted;
        }
    };
    constexpr int kLong = 60000; // a pause that no step here waits out
    const QByteArray much(3000, 'x');

    Reader trickle(kLong); // the first read of a stretch is not followed by a pause
    ASSERT_TRUE(trickle.read("a", "a") && trickle.read("b", "ab"));
    EXPECT_FALSE(trickle.read("c", "abc", 100));
    trickle.port.collectReceived();
    EXPECT_EQ(trickle.got, "abc");

    Reader quiet(20); // a pause that found nothing: the next byte is read at once
    ASSERT_TRUE(quiet.read("a", "a") && quiet.read("bc", "abc"));
    quiet.read({}, "", 100); // the pause ends, finding nothing
    EXPECT_TRUE(quiet.read("d", "abcd"));

    Reader flood(kLong); // caught up with a flood, a small read is not paused
    flood.line.send(much);
    QThread::msleep(100); // all of it in the system's buffer, for one read
    ASSERT_TRUE(flood.read({}, much));
    EXPECT_TRUE(flood.read("y", much + "y") && flood.read("z", much + "yz"));

    Reader start(kLong); // nor one after which much waits already
    ASSERT_TRUE(start.read("a", "a"));
    start.meanwhile = [&] {
        start.line.send(much.first(100));
        QThread::msleep(100);
    };
    EXPECT_TRUE(start.read("b", "ab" + much.first(100)));
}

TEST(PortAccess, PermissionErrorsSayWhichGroupToJoin) {
    QTemporaryFile device;
    ASSERT_TRUE(device.open());
    // Give the stand-in device to the group that owns serial ports on Debian.
    const group* dialout = ::getgrnam("dialout");
    if (!dialout ||
        ::chown(QFile::encodeName(device.fileName()).constData(), ::getuid(), dialout->gr_gid) != 0)
        GTEST_SKIP() << "cannot give a file to the group dialout here";

    const QString reason = talvern::permissionAdvice("Permission denied", device.fileName());
    EXPECT_TRUE(reason.startsWith("Permission denied")) << reason.toStdString();
    EXPECT_TRUE(reason.contains("\"dialout\"")) << reason.toStdString();
    EXPECT_TRUE(reason.contains("sudo usermod -a -G dialout ")) << reason.toStdString();
    EXPECT_TRUE(reason.contains(device.fileName())) << reason.toStdString();
}

TEST(PortAccess, OtherErrorsGetNoHint) {
    for (const QSerialPort::SerialPortError error :
         {QSerialPort::DeviceNotFoundError, QSerialPort::OpenError, QSerialPort::ResourceError,
          QSerialPort::UnknownError})
        EXPECT_EQ(talvern::openFailureReason(error, "Device or resource busy", "/dev/ttyS0"),
                  "Device or resource busy");

    // A port that is missing says so, with no word of groups.
    SerialPortAdapter gone([] { return QStringList{"/dev/ttyGONE3"}; });
    gone.setCommPort(1);
    const QString message = errorOf([&] { gone.setPortOpen(true); });
    EXPECT_FALSE(message.contains("usermod")) << message.toStdString();
}

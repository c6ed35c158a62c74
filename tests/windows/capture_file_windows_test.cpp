#include "support/error_of.h"
#include "support/file_contents.h"
#include "system_capture_file.h"
#include "system_error.h"

#include <windows.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using talvern::SystemCaptureFile;

namespace {

class CaptureFileWindowsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
};

} // namespace

TEST_F(CaptureFileWindowsTest, UnicodeNamesAndLineEndsReachTheDiskUnchanged) {
    // Names outside the ANSI code page, and bytes a text-mode file would change.
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"plain.txt", QByteArray("12.5 g\r\n12.6 g\r\n")},
        {"Messwerte Waage \xc3\x84\xc3\x96 \xe2\x82\xac.txt", QByteArray("a\r\nb\nc\r\r\n")},
        {"\xe6\xb8\xac\xe5\xae\x9a \xce\xb1\xce\xb2.txt", QByteArray("\x80\xff\x1a\r\n", 5)},
    };
    for (const auto& c : cases) {
        const QString name = dir.filePath(QString::fromUtf8(c.name));
        SystemCaptureFile file;
        file.open(name);
        file.write(c.bytes);
        file.close();
        EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).contains(QString::fromUtf8(c.name)))
            << c.name;
        EXPECT_EQ(contents(name), c.bytes) << c.name;
    }
}

TEST_F(CaptureFileWindowsTest, WhileOpenOthersMayReadButNotWriteTheFile) {
    const QString name = QDir::toNativeSeparators(dir.filePath("held.txt"));
    SystemCaptureFile file;
    file.open(name);
    file.write("one\r\n");

    QFile reader(name);
    EXPECT_TRUE(reader.open(QIODevice::ReadOnly));
    EXPECT_EQ(reader.readAll(), "one\r\n");
    reader.close();

    // A second capture into the same file is refused, naming it and the reason.
    SystemCaptureFile second;
    const QString message = errorOf([&] { second.open(name); });
    EXPECT_TRUE(message.startsWith("Cannot create capture file \"" + name + "\": "))
        << message.toStdString();
    EXPECT_GT(message.size(), QString("Cannot create capture file \"" + name + "\": ").size());
    QFile writer(name);
    EXPECT_FALSE(writer.open(QIODevice::Append));
    EXPECT_FALSE(QFile::remove(name));

    file.close();
    EXPECT_EQ(contents(name), "one\r\n");
    EXPECT_TRUE(writer.open(QIODevice::Append));
}

TEST_F(CaptureFileWindowsTest, FailuresNameTheFileAndTheSystemsReason) {
    const QString missing = QDir::toNativeSeparators(dir.filePath("no-such-folder/out.txt"));
    SystemCaptureFile file;
    const QString message = errorOf([&] { file.open(missing); });
    // The system's own words for the error, as FormatMessage gives them.
    const QString reason = talvern::systemErrorText(ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(reason.startsWith("system error")) << reason.toStdString();
    EXPECT_EQ(message, "Cannot create capture file \"" + missing + "\": " + reason)
        << message.toStdString();
    EXPECT_FALSE(file.isOpen());
}

TEST_F(CaptureFileWindowsTest, DeviceNamesAreRefusedBeforeAnythingIsOpened) {
    // Windows takes these names for its devices in any folder, with or without
    // an extension or a colon after the name: a capture into "com2.log" would
    // send every record out of COM2, one into "nul:" would keep nothing. A path
    // into the device space names the device. Names that only look alike are
    // files, and so are paths into the device space that name a file on a drive.
    const QString native = QDir::toNativeSeparators(dir.path());
    const struct {
        QString name;
        QString device; // empty: a file
    } cases[] = {
        {dir.filePath("nul.txt"), "NUL"},
        {dir.filePath("COM2.log"), "COM2"},
        {dir.filePath("aux"), "AUX"},
        {dir.filePath("prn.csv"), "PRN"},
        {dir.filePath("Lpt1.txt"), "LPT1"},
        {dir.filePath("con"), "CON"},
        {dir.filePath("nul .txt"), "NUL"},
        {"\\\\.\\COM2", "\\\\.\\COM2"},
        {native + "\\com1:", "COM1"},
        {dir.filePath("nul:"), "NUL"},
        {dir.filePath("nul:x"), "NUL"},
        {dir.filePath("Aux:"), "AUX"},
        {"com1:", "COM1"},
        {"\\\\?\\GLOBALROOT\\Device\\Null", "\\\\?\\GLOBALROOT\\Device\\Null"},
        {"\\\\?\\" + native + "\\nul.txt", "NUL"},
        {native + "\\nul\\.", "NUL"},
        {dir.filePath("com10.txt"), {}},
        {dir.filePath("nullable.txt"), {}},
        {dir.filePath("console.txt"), {}},
        {dir.filePath("com.txt"), {}},
        {"\\\\?\\" + native + "\\long.txt", {}},
        {"\\\\.\\" + native + "\\dotted.txt", {}},
    };
    for (const auto& c : cases) {
        const QString before =
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::System).join(", ");
        SystemCaptureFile file;
        const QString message = errorOf([&] { file.open(c.name); });
        if (c.device.isEmpty()) {
            EXPECT_EQ(message.toStdString(), "<no error>") << c.name.toStdString();
            file.close();
            continue;
        }
        // Refused by its name, not by what opening it found.
        EXPECT_TRUE(message.startsWith("Cannot create capture file \"") &&
                    message.endsWith("\": Windows takes \"" + c.device +
                                     "\" for a device, not a file; choose another name"))
            << c.name.toStdString() << ": " << message.toStdString();
        EXPECT_FALSE(file.isOpen());
        EXPECT_EQ(
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::System).join(", ").toStdString(),
            before.toStdString())
            << c.name.toStdString();
    }
}

TEST_F(CaptureFileWindowsTest, StreamNamesAreRefusedBeforeAnythingIsOpened) {
    // A colon after the drive's names a stream of the file: on NTFS the
    // records would go into a part of it that Explorer shows as empty.
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const QString native = QDir::toNativeSeparators(dir.path());
    const struct {
        QString name;
        bool stream;
    } cases[] = {
        {dir.filePath("data.txt:stream"), true},
        {dir.filePath("data.txt:stream:$DATA"), true},
        {native + "\\data.txt:", true},
        {"\\\\?\\" + native + "\\data.txt:stream", true},
        {"data.txt:stream", true},
        {dir.filePath("plain.txt"), false},
    };
    for (const auto& c : cases) {
        SystemCaptureFile file;
        const QString message = errorOf([&] { file.open(c.name); });
        if (!c.stream) {
            EXPECT_EQ(message.toStdString(), "<no error>") << c.name.toStdString();
            file.close();
            continue;
        }
        EXPECT_TRUE(message.startsWith("Cannot create capture file \"" + c.name + "\": ") &&
                    message.contains("hidden part of the file"))
            << c.name.toStdString() << ": " << message.toStdString();
        EXPECT_FALSE(file.isOpen());
        EXPECT_EQ(QDir(dir.path())
                      .entryList({"data*"}, QDir::AllEntries | QDir::System)
                      .join(", ")
                      .toStdString(),
                  "")
            << c.name.toStdString();
    }
    QDir::setCurrent(before);
}

TEST_F(CaptureFileWindowsTest, TheFileIsNamedByTheFullPathWindowsKeeps) {
    // Windows makes a relative name absolute and drops the trailing dots and
    // spaces of a name: the file and every message name what it writes.
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const struct {
        QString name;
        const char* kept;
    } cases[] = {
        {"relative.txt", "relative.txt"},
        {"dot.txt.", "dot.txt"},
        {"space.txt ", "space.txt"},
        {dir.filePath("both.txt. ."), "both.txt"},
    };
    for (const auto& c : cases) {
        const QString full = QDir::toNativeSeparators(dir.filePath(c.kept));
        SystemCaptureFile file;
        file.open(c.name);
        EXPECT_EQ(file.name().toStdString(), full.toStdString()) << c.name.toStdString();
        SystemCaptureFile second;
        const QString message = errorOf([&] { second.open(c.name); });
        EXPECT_TRUE(message.startsWith("Cannot create capture file \"" + full + "\": "))
            << c.name.toStdString() << ": " << message.toStdString();
        file.close();
        EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).contains(c.kept))
            << c.name.toStdString();
    }
    QDir::setCurrent(before);
}

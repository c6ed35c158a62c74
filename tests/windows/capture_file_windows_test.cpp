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

TEST_F(CaptureFileWindowsTest, NamesAreRefusedOrTakenAsWindowsKeepsThem) {
    // Refused before anything is opened: a device's name in any folder, with
    // an extension or a colon after it ("com2.log" would send every record out
    // of COM2, "nul:" keep nothing), a path into the device space that names
    // no file on a drive, and a stream (a colon after the drive's: on NTFS the
    // records would go where Explorer shows nothing). Any other name is a
    // file, named by the full path Windows keeps it under: absolute, trailing
    // dots and spaces dropped.
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const QString native = QDir::toNativeSeparators(dir.path());
    const auto device = [](const QString& name) {
        return QStringLiteral("Windows takes \"%1\" for a device, not a file; choose another name")
            .arg(name);
    };
    const QString stream = "hidden part of the file";
    const auto kept = [&](const char* name) {
        return native + '\\' + name;
    };
    const struct {
        QString name;
        QString refused; // a part of the message; empty: a file, kept as `full`
        QString full;
    } cases[] = {
        {dir.filePath("nul.txt"), device("NUL"), {}},
        {dir.filePath("COM2.log"), device("COM2"), {}},
        {dir.filePath("aux"), device("AUX"), {}},
        {dir.filePath("nul .txt"), device("NUL"), {}},
        {native + "\\com1:", device("COM1"), {}},
        {dir.filePath("nul:x"), device("NUL"), {}},
        {native + "\\nul\\.", device("NUL"), {}},
        {"\\\\?\\" + native + "\\nul.txt", device("NUL"), {}},
        {"\\\\.\\COM2", device("\\\\.\\COM2"), {}},
        {"\\\\?\\GLOBALROOT\\Device\\Null", device("\\\\?\\GLOBALROOT\\Device\\Null"), {}},
        {dir.filePath("data.txt:stream"), stream, {}},
        {native + "\\data.txt:", stream, {}},
        {"\\\\?\\" + native + "\\data.txt:stream", stream, {}},
        {dir.filePath("com10.txt"), {}, kept("com10.txt")},
        {dir.filePath("nullable.txt"), {}, kept("nullable.txt")},
        {"relative.txt", {}, kept("relative.txt")},
        {"dot.txt.", {}, kept("dot.txt")},
        {dir.filePath("both.txt. ."), {}, kept("both.txt")},
        {"\\\\?\\" + native + "\\long.txt", {}, "\\\\?\\" + native + "\\long.txt"},
        {"\\\\.\\" + native + "\\dotted.txt", {}, "\\\\.\\" + native + "\\dotted.txt"},
    };
    for (const auto& c : cases) {
        const auto entries = [&] {
            return QDir(dir.path()).entryList(QDir::AllEntries | QDir::System).join(", ");
        };
        const QString listed = entries();
        SystemCaptureFile file;
        const QString message = errorOf([&] { file.open(c.name); });
        if (c.refused.isEmpty()) {
            EXPECT_EQ(message.toStdString(), "<no error>") << c.name.toStdString();
            EXPECT_EQ(file.name().toStdString(), c.full.toStdString());
            file.close();
            continue;
        }
        EXPECT_TRUE(message.startsWith("Cannot create capture file \"") &&
                    message.contains(c.refused))
            << c.name.toStdString() << ": " << message.toStdString();
        EXPECT_FALSE(file.isOpen());
        EXPECT_EQ(entries().toStdString(), listed.toStdString()) << c.name.toStdString();
    }
    QDir::setCurrent(before);
}

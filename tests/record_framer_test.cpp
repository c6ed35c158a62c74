#include "record_framer.h"
#include "support/reference_framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using talvern::RecordFramer;

namespace {

struct Result {
    std::vector<QByteArray> records;
    QByteArray file;
    std::vector<QByteArray> shown; // the status box after each piece that completed records
};

Result feed(const std::vector<QByteArray>& chunks, qsizetype longest = RecordFramer::kLongestRecord,
            bool skip = false) {
    RecordFramer framer(longest);
    if (skip)
        framer.skipRecord();
    Result result;
    for (const QByteArray& chunk : chunks) {
        const RecordFramer::Completed done = framer.take(chunk);
        result.file += done.lines;
        if (done.records > 0)
            result.shown.push_back(done.lastRecord);
        // Split the piece's lines back into records to count them independently.
        QByteArray lines = done.lines;
        qsizetype counted = 0;
        while (!lines.isEmpty()) {
            const qsizetype end = lines.indexOf("\r\n");
            EXPECT_GE(end, 0) << "lines must end in CR LF";
            if (end < 0)
                break;
            result.records.push_back(lines.left(end));
            lines.remove(0, end + 2);
            ++counted;
        }
        EXPECT_EQ(counted, done.records);
    }
    return result;
}

QByteArray bytes(const char* text) {
    return QByteArray(text);
}

} // namespace

TEST(RecordFramer, OneRecordInOneRead) {
    const Result r = feed({bytes("12.5\r")});
    EXPECT_EQ(r.records, std::vector<QByteArray>{"12.5"});
    EXPECT_EQ(r.file, "12.5\r\n");
    EXPECT_EQ(r.shown, std::vector<QByteArray>{"12.5"});
}

TEST(RecordFramer, RecordSplitOverReadsWaitsForItsCr) {
    RecordFramer framer;
    const RecordFramer::Completed first = framer.take("12.");
    EXPECT_EQ(first.records, 0);
    EXPECT_TRUE(first.lines.isEmpty());
    EXPECT_EQ(framer.pending(), "12.");
    const RecordFramer::Completed second = framer.take("5\r");
    EXPECT_EQ(second.records, 1);
    EXPECT_EQ(second.lines, "12.5\r\n");
    EXPECT_EQ(second.lastRecord, "12.5");
    EXPECT_TRUE(framer.pending().isEmpty());
}

TEST(RecordFramer, LoneCrIsAnEmptyRecord) {
    const Result r = feed({bytes("\r")});
    EXPECT_EQ(r.records, std::vector<QByteArray>{""});
    EXPECT_EQ(r.file, "\r\n");
}

TEST(RecordFramer, RecordsInOneReadStaySeparate) {
    const Result r = feed({bytes("A\rB\r")});
    EXPECT_EQ(r.records, (std::vector<QByteArray>{"A", "B"}));
    EXPECT_EQ(r.file, "A\r\nB\r\n");
    // The status box ends on the last record of the read.
    EXPECT_EQ(r.shown, std::vector<QByteArray>{"B"});
}

TEST(RecordFramer, TailAfterLastCrWaitsForNextRead) {
    const Result r = feed({bytes("A\rB"), bytes("C\r")});
    EXPECT_EQ(r.records, (std::vector<QByteArray>{"A", "BC"}));
    EXPECT_EQ(r.shown, (std::vector<QByteArray>{"A", "BC"}));
}

TEST(RecordFramer, CrLfLineEndsGiveOneRecordEach) {
    EXPECT_EQ(feed({bytes("A\r\n"), bytes("B\r")}).records, (std::vector<QByteArray>{"A", "B"}));
    // The LF arriving as the first byte of the next read still belongs to the CR.
    EXPECT_EQ(feed({bytes("A\r"), bytes("\nB\r"), bytes("\n")}).records,
              (std::vector<QByteArray>{"A", "B"}));
    EXPECT_EQ(feed({bytes("A\r\nB\r\n")}).file, "A\r\nB\r\n");
}

TEST(RecordFramer, OnlyOneLfIsDroppedAfterCr) {
    EXPECT_EQ(feed({bytes("A\r\n\nB\r")}).records, (std::vector<QByteArray>{"A", "\nB"}));
    // An LF not right after a CR is record text, also at the start of a read.
    EXPECT_EQ(feed({bytes("A"), bytes("\nB\r")}).records, std::vector<QByteArray>{"A\nB"});
    EXPECT_EQ(feed({bytes("\n\r")}).records, std::vector<QByteArray>{"\n"});
}

TEST(RecordFramer, EmptyReadKeepsAPendingLineEnd) {
    EXPECT_EQ(feed({bytes("A\r"), QByteArray(), bytes("\nB\r")}).records,
              (std::vector<QByteArray>{"A", "B"}));
}

TEST(RecordFramer, EveryByteValuePassesUnchanged) {
    QByteArray record;
    for (int b = 0; b < 256; ++b)
        if (b != '\r')
            record.append(char(b));
    const Result r = feed({record + '\r'});
    ASSERT_EQ(r.records.size(), 1u);
    EXPECT_EQ(r.records[0], record);
    EXPECT_EQ(r.file, record + "\r\n");
}

TEST(RecordFramer, ReadsWithoutCrWriteNothingUntilReset) {
    RecordFramer framer;
    EXPECT_EQ(framer.take("abc").records, 0);
    EXPECT_EQ(framer.take("def").records, 0);
    EXPECT_EQ(framer.pending(), "abcdef");
    framer.reset();
    EXPECT_TRUE(framer.pending().isEmpty());
    EXPECT_EQ(framer.take("x\r").lastRecord, "x");
    // A reset also forgets a CR that waited for its LF.
    framer.take("y\r");
    framer.reset();
    EXPECT_EQ(framer.take("\nz\r").lastRecord, "\nz");
}

TEST(RecordFramer, LongRecordsAreCutAtTheLimitAndASkippedRecordIsDropped) {
    // With a limit of 4, the limit's worth is a line once a fifth byte comes
    // that is not its CR. A skipped record (the tail of one the capture joined)
    // is dropped up to its line end, however the reads fall.
    const struct {
        bool skip;
        std::vector<QByteArray> chunks;
        std::vector<QByteArray> records;
    } cases[] = {
        {false, {"abcd\r"}, {"abcd"}},
        {false, {"ab", "cde\r"}, {"abcd", "e"}},
        {false, {"abcd\nefgh"}, {"abcd", "\nefg"}},
        {true, {"yy", "yy\r", "\n12.5\r"}, {"12.5"}},
        {true, {"\r"}, {}},
        {true, {"\n\r\n\r"}, {""}},
        // No record is that long: a "tail" past the limit is a line without
        // CRs, and is kept like one.
        {true, {"yyyyyy", "yyyyy\r12.5\r"}, {"yyyy", "yyyy", "yyy", "12.5"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(feed(c.chunks, 4, c.skip).records, c.records) << c.chunks.back().constData();

    // A line that never sends a CR: what waits stays within the limit.
    RecordFramer framer;
    for (int n = 0; n < 16 * 1024; ++n) { // 64 MiB
        framer.take(QByteArray(4096, 'x'));
        ASSERT_LE(framer.pending().capacity(), 2 * RecordFramer::kLongestRecord);
    }
}

TEST(RecordFramer, SameRecordsHoweverTheStreamIsCut) {
    std::mt19937 random(20261207);
    // Line-end bytes are common so that CR, LF, CR LF and LF CR fall on every kind
    // of read boundary; a byte sometimes comes as a run, so that long records and
    // floods of bare CRs come too.
    const char alphabet[] = {'\r', '\n', '\0', 'a', 'b', '\x80', '\xff', '\r', '\n'};
    std::uniform_int_distribution<int> pick(0, int(sizeof alphabet) - 1);
    std::uniform_int_distribution<int> length(0, 400);
    std::uniform_int_distribution<int> run(-40, 40); // 1 byte when not positive

    for (int round = 0; round < 2000; ++round) {
        QByteArray stream;
        const int n = length(random);
        while (stream.size() < n)
            stream.append(std::max(1, run(random)), alphabet[pick(random)]);

        // Every other round with a limit on a record's length that the runs reach.
        const qsizetype longest = round % 2 ? 7 : RecordFramer::kLongestRecord;
        const std::vector<QByteArray> expected = referenceRecords(stream, longest);
        const QByteArray expectedFile = referenceFile(expected);

        // Cut into random reads, empty ones included: sometimes byte by byte,
        // sometimes in a few large pieces.
        const qsizetype cuts[] = {1, 3, 16, stream.size()};
        const qsizetype largest = cuts[round / 2 % 4];
        std::vector<QByteArray> chunks;
        for (qsizetype at = 0; at < stream.size();) {
            const qsizetype size = std::uniform_int_distribution<qsizetype>(
                0, std::min(largest, stream.size() - at))(random);
            chunks.push_back(stream.mid(at, size));
            at += size;
        }

        const Result r = feed(chunks, longest);
        ASSERT_EQ(r.records, expected) << "round " << round;
        ASSERT_EQ(r.file, expectedFile) << "round " << round;
        if (!expected.empty()) {
            ASSERT_EQ(r.shown.back(), expected.back()) << "round " << round;
        }
    }
}

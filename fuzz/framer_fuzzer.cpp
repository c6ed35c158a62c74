// libFuzzer target: random bytes, cut into random reads, through the record
// framer; the records and file bytes must match the plain reference rule.
//
// The first bytes of the input choose the cuts: each read takes the next cut
// length (1 to 64) from a cursor over the input's head, so the fuzzer controls
// both the data and how it is split. The first byte's high half also chooses
// the longest a record may be: short enough to be reached, or the program's own.
#include "record_framer.h"
#include "support/reference_framing.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const size_t cutBytes = std::min<size_t>(data[0] % 16 + 1, size - 1);
    const uint8_t* cuts = data + 1;
    const QByteArray stream(reinterpret_cast<const char*>(data + 1 + cutBytes),
                            qsizetype(size - 1 - cutBytes));

    const int choice = data[0] >> 4;
    const qsizetype longest = choice == 15 ? talvern::RecordFramer::kLongestRecord : 1 + 4 * choice;
    talvern::RecordFramer framer(longest);
    QByteArray file;
    QByteArray last;
    qsizetype records = 0;
    size_t cut = 0;
    for (qsizetype at = 0; at < stream.size();) {
        qsizetype length = cutBytes == 0 ? stream.size() : qsizetype(cuts[cut++ % cutBytes] % 64);
        if (length == 0) {
            // An empty read, then at least one byte so the stream moves on.
            if (framer.take(QByteArrayView()).records != 0)
                std::abort();
            length = 1;
        }
        const qsizetype taken = std::min(length, stream.size() - at);
        const talvern::RecordFramer::Completed done = framer.take(stream.mid(at, taken));
        file += done.lines;
        records += done.records;
        if (done.records > 0)
            last = done.lastRecord;
        at += taken;
    }

    const std::vector<QByteArray> expected = referenceRecords(stream, longest);
    if (file != referenceFile(expected) || records != qsizetype(expected.size()) ||
        (!expected.empty() && last != expected.back()))
        std::abort();
    return 0;
}

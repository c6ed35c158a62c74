#include "record_framer.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace talvern {

namespace {

constexpr std::uint64_t kCrs = 0x0d0d0d0d0d0d0d0dULL; // eight CRs
constexpr char kCrLfs[] = "\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n";

std::uint64_t word(const char* p) {
    std::uint64_t bytes;
    std::memcpy(&bytes, p, 8);
    return bytes;
}

// Copies the bytes from `p` up to the next CR, or to `end`, to `w` and returns
// where it stopped. Records are often a few bytes, or none at all: eight bytes
// are copied and searched at a time, with no library call; once a record has
// gone on for a while, memchr and memcpy take the rest. Copies eight bytes at
// a time before knowing how many belong to the record, so `w` must have room
// for twice what is left.
const char* copyToCr(const char* p, const char* const end, char*& w) {
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    constexpr int kWordsBeforeMemchr = 4;
    for (int words = 0; end - p >= 8; ++words) {
        if (words == kWordsBeforeMemchr) {
            const auto* cr = static_cast<const char*>(std::memchr(p, '\r', size_t(end - p)));
            const char* const stop = cr ? cr : end;
            std::memcpy(w, p, size_t(stop - p));
            w += stop - p;
            return stop;
        }
        const std::uint64_t bytes = word(p);
        std::memcpy(w, p, 8);
        // The top bit of each byte that is a CR, and of no other.
        const std::uint64_t x = bytes ^ kCrs;
        const std::uint64_t crs = ~(((x & kLow7) + kLow7) | x | kLow7);
        if (crs != 0) {
            const int before =
                (std::endian::native == std::endian::little ? std::countr_zero(crs)
                                                            : std::countl_zero(crs)) /
                8;
            w += before;
            return p + before;
        }
        p += 8;
        w += 8;
    }
    while (p != end && *p != '\r')
        *w++ = *p++;
    return p;
}

} // namespace

RecordFramer::Completed RecordFramer::take(QByteArrayView chunk) {
    Completed out;
    const char* p = chunk.data();
    const char* const end = p + chunk.size();
    if (p == end)
        return out;

    // An LF that completes the CR LF begun by the previous piece.
    if (afterCr_ && *p == '\n')
        ++p;
    afterCr_ = false;

    // Where a record could grow past the limit, or one is to be dropped, the
    // plain way; the quick one below needs neither check.
    if (skipping_ || buffer_.size() + (end - p) > longest_)
        return takeLimited(p, end);

    const auto* cr = static_cast<const char*>(std::memchr(p, '\r', size_t(end - p)));
    if (!cr) {
        // No line end: everything waits for the next piece.
        buffer_.append(p, end - p);
        return out;
    }
    limited_ = 0;

    // The lines can be no longer than the waiting bytes and this piece with
    // each CR grown into CR LF: room for that, filled in place, cut to size.
    out.lines.resize(buffer_.size() + 2 * (end - p));
    char* const begin = out.lines.data();
    char* w = begin;
    if (!buffer_.isEmpty()) {
        std::memcpy(w, buffer_.constData(), size_t(buffer_.size()));
        w += buffer_.size();
        buffer_.clear();
    }

    // The first record ends at the CR found above; each one after it is copied
    // as its CR is looked for.
    std::memcpy(w, p, size_t(cr - p));
    w += cr - p;
    p = cr;
    char* recordStart = begin;
    char* lastStart = begin;
    for (;;) {
        // At a CR: the record's line ends. Eight CRs in a row (a flood of bare
        // CRs: empty records) end eight lines at once.
        if (end - p >= 8 && word(p) == kCrs) {
            std::memcpy(w, kCrLfs, 16);
            w += 16;
            p += 8;
            out.records += 8;
            lastStart = w - 2;
        } else {
            *w++ = '\r';
            *w++ = '\n';
            ++p;
            ++out.records;
            lastStart = recordStart;
        }
        recordStart = w;

        // Just after a CR: an LF there belongs to it.
        if (p == end) {
            afterCr_ = true;
            break;
        }
        if (*p == '\n' && ++p == end)
            break;
        if (*p != '\r') {
            p = copyToCr(p, end, w);
            if (p == end)
                break;
        }
    }

    // The bytes after the last CR wait for the next piece.
    if (w != recordStart) {
        buffer_.append(recordStart, w - recordStart);
        w = recordStart;
    }
    out.lastRecord = QByteArray(lastStart, recordStart - lastStart - 2);
    out.lines.truncate(w - begin);
    return out;
}

RecordFramer::Completed RecordFramer::takeLimited(const char* p, const char* const end) {
    Completed out;
    while (p != end) {
        // The record's text up to its CR, ended at the limit as often as it is
        // passed: the limit's worth becomes a line when one more byte comes.
        const auto* cr = static_cast<const char*>(std::memchr(p, '\r', size_t(end - p)));
        const char* const textEnd = cr ? cr : end;
        while (p != textEnd) {
            if (buffer_.size() == longest_) {
                skipping_ = false; // a record this long is kept, not skipped
                limited_ += longest_;
                complete(out);
            }
            const qsizetype n = std::min(qsizetype(textEnd - p), longest_ - buffer_.size());
            buffer_.append(p, n);
            p += n;
        }
        if (!cr)
            break;

        // The CR: the record is complete, or dropped if it was the skipped one.
        limited_ = 0;
        if (skipping_) {
            skipping_ = false;
            buffer_.clear();
        } else {
            complete(out);
        }
        if (++p == end) {
            afterCr_ = true;
            break;
        }
        if (*p == '\n')
            ++p;
    }
    return out;
}

void RecordFramer::complete(Completed& out) {
    out.lines.append(buffer_).append("\r\n", 2);
    ++out.records;
    out.lastRecord = buffer_;
    buffer_.clear();
}

QByteArrayView RecordFramer::keptAtEnd(bool toldOfNoCr) const {
    QByteArrayView kept = buffer_;
    const qsizetype lastLf = kept.lastIndexOf('\n');
    if (lastLf < 0)
        return toldOfNoCr && !skipping_ ? kept : QByteArrayView();
    kept = kept.first(lastLf + 1);
    // Joined mid-stream: the first reading is the tail of one sent before.
    if (skipping_)
        kept = kept.sliced(kept.indexOf('\n') + 1);
    return kept;
}

void RecordFramer::reset() {
    buffer_.clear();
    limited_ = 0;
    afterCr_ = false;
    skipping_ = false;
}

} // namespace talvern

#include "record_framer.h"

#include <cstring>

namespace talvern {

namespace {
// How far a record is copied byte by byte before memchr looks for its end.
constexpr qsizetype kNearBytes = 16;
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

    const auto* cr = static_cast<const char*>(std::memchr(p, '\r', size_t(end - p)));
    if (!cr) {
        // No line end: everything waits for the next piece.
        buffer_.append(p, end - p);
        return out;
    }

    // The lines can be no longer than the waiting bytes and this piece with
    // each CR grown into CR LF: room for that, filled in place, cut to size.
    out.lines.resize(buffer_.size() + 2 * (end - p));
    char* w = out.lines.data();
    if (!buffer_.isEmpty()) {
        std::memcpy(w, buffer_.constData(), size_t(buffer_.size()));
        w += buffer_.size();
        buffer_.clear();
    }

    char* lastStart = out.lines.data();
    std::memcpy(w, p, size_t(cr - p));
    w += cr - p;
    for (;;) {
        // A record's text is in place: end its line.
        *w++ = '\r';
        *w++ = '\n';
        ++out.records;

        p = cr + 1;
        if (p == end) {
            afterCr_ = true;
            break;
        }
        if (*p == '\n' && ++p == end)
            break;

        // The next record. Records are often a few bytes, or none at all: copy
        // the first bytes while looking for the CR, so a short one costs no
        // library call; memchr and memcpy take the rest of a longer one.
        char* const start = w;
        const char* const near = end - p > kNearBytes ? p + kNearBytes : end;
        while (p != near && *p != '\r')
            *w++ = *p++;
        cr = p;
        if (p == near) {
            cr = p == end ? nullptr
                          : static_cast<const char*>(std::memchr(p, '\r', size_t(end - p)));
            if (!cr) {
                // The rest waits for the next piece.
                buffer_.append(start, w - start);
                buffer_.append(p, end - p);
                w = start;
                break;
            }
            std::memcpy(w, p, size_t(cr - p));
            w += cr - p;
        }
        lastStart = start;
    }

    const qsizetype length = w - out.lines.constData();
    out.lastRecord = QByteArray(lastStart, w - lastStart - 2);
    out.lines.truncate(length);
    return out;
}

void RecordFramer::reset() {
    buffer_.clear();
    afterCr_ = false;
}

} // namespace talvern

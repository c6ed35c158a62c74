#include "record_framer.h"

#include <cstring>

namespace talvern {

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
    for (;;) {
        // A record: the bytes before this CR (after what waited, for the first).
        std::memcpy(w, p, size_t(cr - p));
        w += cr - p;
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
        cr = static_cast<const char*>(std::memchr(p, '\r', size_t(end - p)));
        if (!cr) {
            // The rest waits for the next piece.
            buffer_.append(p, end - p);
            break;
        }
        lastStart = w;
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

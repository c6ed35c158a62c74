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

    qsizetype lastStart = 0;
    while (p != end) {
        const auto* cr = static_cast<const char*>(std::memchr(p, '\r', size_t(end - p)));
        if (!cr) {
            // No line end: the rest waits for the next piece.
            buffer_.append(p, end - p);
            break;
        }

        // A record: what waited from earlier pieces, then the bytes before this CR.
        lastStart = out.lines.size();
        out.lines.append(buffer_).append(p, cr - p).append("\r\n", 2);
        buffer_.clear();
        ++out.records;

        p = cr + 1;
        if (p == end)
            afterCr_ = true;
        else if (*p == '\n')
            ++p;
    }

    if (out.records > 0)
        out.lastRecord = out.lines.sliced(lastStart, out.lines.size() - lastStart - 2);
    return out;
}

void RecordFramer::reset() {
    buffer_.clear();
    afterCr_ = false;
}

} // namespace talvern

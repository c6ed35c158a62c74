#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace talvern {

// Turns the pieces read from the port into records. Every CR ends a record; an
// LF straight after a CR (in the same piece or at the start of the next) is part
// of that line end and dropped; every other byte is record text, unchanged. A
// record that goes on past the longest a record may be is ended there, so what
// waits for a CR never grows without bound. The records do not depend on how
// the byte stream happened to be cut into reads.
class RecordFramer {
public:
    // 64 KiB: thousands of times the longest reading an instrument sends as one
    // line, at 9600 baud a minute of a line that never sends a CR, and what the
    // status box still lays out with a few megabytes (a mebibyte takes 75).
    static constexpr qsizetype kLongestRecord = qsizetype(64) << 10;

    explicit RecordFramer(qsizetype longest = kLongestRecord)
        : longest_(longest) {}

    struct Completed {
        qsizetype records = 0; // records completed by this piece
        QByteArray lines;      // each of them followed by CR LF: the capture file's bytes
        QByteArray lastRecord; // the last of them, for the status box
    };

    // Takes one piece as read from the port.
    Completed take(QByteArrayView chunk);

    // Forgets the partial record and any pending line end: a new capture begins.
    void reset();
    // Drops the record now being received, up to and including its CR: what
    // comes first is the tail of a record that began before the capture.
    void skipRecord() { skipping_ = true; }

    // The start of the current record, received but not yet ended by a CR.
    const QByteArray& pending() const { return buffer_; }
    // What of the pending bytes is still worth a line when the capture ends
    // (without its CR LF): the readings of an instrument that ends them with
    // LF alone, up to the last LF, but not the tail of a record begun before
    // the capture; or, when the user was told that no CR comes (`toldOfNoCr`),
    // all of it. A record cut off by the end, with no line end at all, is not.
    QByteArrayView keptAtEnd(bool toldOfNoCr) const;
    // The bytes taken since the last CR, including any already written out at
    // the limit: how long the line has gone without ending a record.
    qint64 sinceLineEnd() const { return limited_ + buffer_.size(); }

private:
    Completed takeLimited(const char* p, const char* end);
    void complete(Completed& out);

    qsizetype longest_;
    QByteArray buffer_;
    qint64 limited_ = 0;    // bytes written out at the limit since the last CR
    bool afterCr_ = false;  // the last byte taken was a CR, so a leading LF is dropped
    bool skipping_ = false; // the record in buffer_ is dropped at its CR
};

} // namespace talvern

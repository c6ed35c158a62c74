#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace talvern {

// Turns the pieces read from the port into records. Every CR ends a record; an
// LF straight after a CR (in the same piece or at the start of the next) is part
// of that line end and dropped; every other byte is record text, unchanged. So
// the records do not depend on how the byte stream happened to be cut into reads.
class RecordFramer {
public:
    struct Completed {
        qsizetype records = 0; // records completed by this piece
        QByteArray lines;      // each of them followed by CR LF: the capture file's bytes
        QByteArray lastRecord; // the last of them, for the status box
    };

    // Takes one piece as read from the port.
    Completed take(QByteArrayView chunk);

    // Forgets the partial record and any pending line end: a new capture begins.
    void reset();

    // The start of the current record, received but not yet ended by a CR.
    const QByteArray& pending() const { return buffer_; }

private:
    QByteArray buffer_;
    bool afterCr_ = false; // the last byte taken was a CR, so a leading LF is dropped
};

} // namespace talvern

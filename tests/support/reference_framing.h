#pragma once

#include <QByteArray>

#include <vector>

// The record rule stated as plainly as possible, byte by byte over a whole
// stream with no reads at all: every CR ends a record, and one LF straight
// after a CR belongs to it. The framer must agree with it however the stream
// is cut.
inline std::vector<QByteArray> referenceRecords(const QByteArray& stream) {
    std::vector<QByteArray> records;
    QByteArray current;
    for (qsizetype i = 0; i < stream.size(); ++i) {
        const char c = stream[i];
        if (c != '\r') {
            current.append(c);
            continue;
        }
        records.push_back(current);
        current.clear();
        if (i + 1 < stream.size() && stream[i + 1] == '\n')
            ++i;
    }
    return records;
}

// The capture file those records make.
inline QByteArray referenceFile(const std::vector<QByteArray>& records) {
    QByteArray file;
    for (const QByteArray& record : records)
        file += record + "\r\n";
    return file;
}

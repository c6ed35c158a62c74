#pragma once

#include "record_framer.h"

#include <QByteArray>

#include <vector>

// The record rule stated as plainly as possible, byte by byte over a whole
// stream with no reads at all: every CR ends a record, and one LF straight
// after a CR belongs to it; a record that goes on past `longest` bytes is
// ended there. The framer must agree with it however the stream is cut.
inline std::vector<QByteArray>
referenceRecords(const QByteArray& stream,
                 qsizetype longest = talvern::RecordFramer::kLongestRecord) {
    std::vector<QByteArray> records;
    QByteArray current;
    for (qsizetype i = 0; i < stream.size(); ++i) {
        const char c = stream[i];
        if (c != '\r') {
            if (current.size() == longest) {
                records.push_back(current);
                current.clear();
            }
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

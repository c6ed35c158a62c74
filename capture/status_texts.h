#pragma once

#include <QByteArrayView>
#include <QString>

namespace talvern {

// A record as the status box shows it: each byte one character; a record too
// long to lay out at every repaint (up to 64 KiB) by its first 256 bytes and
// its length, "12.50 g… (65,536 bytes)".
QString recordText(QByteArrayView record);

// "1 break", "3 breaks".
QString counted(quint64 count, const char* one, const char* many);

// A wait as a person says it: "less than a second", "8 seconds", "1 minute 5
// seconds", "2 hours 3 minutes"; the two largest units, the rest dropped.
QString durationText(qint64 ms);

} // namespace talvern

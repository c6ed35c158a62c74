#pragma once

#include <QtGlobal>

namespace talvern {

// How the port is read while bytes trickle in. A UART hands bytes over one or
// a few at a time, and waking for each would cost more than everything done
// with them. So after a read that found little, the port is left alone for a
// short pause while the system's buffer (4 KiB at the least) gathers what comes,
// and is then read once for all of it. A read that finds much (a fast or
// flooding line) is followed by reading on readiness, as a quiet line is: no
// pause runs while nothing comes.
//
// The pause bounds how late a record reaches the file (a person never sees
// it); 25 ms gathers 24 bytes at 9600 baud and 2.3 KiB at 921,600 baud.
constexpr int kReadPauseMs = 25;
// Fewer bytes than this in one read is a trickle.
constexpr qint64 kTrickleBytes = 1024;

} // namespace talvern

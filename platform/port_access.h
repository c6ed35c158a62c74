#pragma once

#include <QSerialPort>
#include <QString>
#include <QStringList>

namespace talvern {

// Why a port did not open, in the user's terms: the system's reason, and when
// that reason is a lack of permission, how to get it (join the group that owns
// the device).
QString openFailureReason(QSerialPort::SerialPortError error, const QString& systemReason,
                          const QString& device);

// The on-board serial devices (/dev/ttyS*) this user may not open for reading
// and writing. Qt does not report those at all, so they are missing from the
// COM options.
QStringList closedOnboardPorts();

// For a COM n that is missing: that on-board ports show only to users allowed
// to open them, and how to get that, as for a port that will not open. Empty
// when `closed` (from closedOnboardPorts) is.
QString hiddenPortsNote(const QStringList& closed);

} // namespace talvern

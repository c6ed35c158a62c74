#pragma once

#include <QSerialPort>
#include <QString>
#include <QStringList>

namespace talvern {

// Why a port did not open, in the user's terms: the system's reason; when the
// device's permissions refuse this user, how to get them (join the group that
// owns the device); when another program holds the port's lock, which one.
QString openFailureReason(QSerialPort::SerialPortError error, const QString& systemReason,
                          const QString& device);

// The system's reason for refusing this user the device, with how to get access.
QString permissionAdvice(const QString& systemReason, const QString& device);

// The on-board serial devices (/dev/ttyS*) this user may not open for reading
// and writing. Qt does not report those at all, so they are missing from the
// COM options.
QStringList closedOnboardPorts();

// For a COM n that is missing: that on-board ports show only to users allowed
// to open them, and how to get that, as for a port that will not open. Empty
// when `closed` (from closedOnboardPorts) is.
QString hiddenPortsNote(const QStringList& closed);

} // namespace talvern

#pragma once

#include <QSerialPort>
#include <QString>

namespace talvern {

// Why a port did not open, in the user's terms: the system's reason, and when
// that reason is a lack of permission, how to get it (join the group that owns
// the device).
QString openFailureReason(QSerialPort::SerialPortError error, const QString& systemReason,
                          const QString& device);

} // namespace talvern

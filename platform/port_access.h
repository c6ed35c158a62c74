#pragma once

#include <QSerialPort>
#include <QString>

namespace talvern {

// Why a port did not open, in the user's terms: the system's reason; when the
// device's permissions refuse this user, how to get them (join the group that
// owns the device); when another program holds the port's lock, which one.
QString openFailureReason(QSerialPort::SerialPortError error, const QString& systemReason,
                          const QString& device);

// The system's reason for refusing this user the device, with how to get access.
QString permissionAdvice(const QString& systemReason, const QString& device);

} // namespace talvern

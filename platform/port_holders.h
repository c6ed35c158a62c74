#pragma once

#include <QString>

namespace talvern {

// Who else uses a serial device, as far as this user may see: "NAME (process
// PID)", or an empty string when nobody else is seen.

// A process other than this one that has `device` open.
QString otherProcessWithDeviceOpen(const QString& device);

// The device's lock file (the UUCP-style LCK..NAME that serial programs leave
// in the lock folder) if there is one, else an empty string.
QString lockFilePath(const QString& device);

// The running process, or the process on another host, that the device's lock
// file names.
QString lockFileHolder(const QString& device);

} // namespace talvern

#pragma once

#include <QStringList>

#include <functional>

namespace talvern {

// The devices behind COM1, COM2, ... in that order: entry n-1 is what COM n
// opens, and an empty entry means there is no COM n.
using ComDevices = std::function<QStringList()>;

// On Linux: the serial ports the system reports, on-board ports (ttyS) first by
// number, then USB adapters (ttyUSB, then ttyACM) by number, then any others by
// name. On Windows: the device behind each port named COMn.
QStringList systemComDevices();

// The Linux order of the given device paths, as above.
QStringList orderComDevices(QStringList devices);

// Why a COM number cannot be selected: the ports this system does have, each
// with its device when `withDevices`.
QString noSuchPort(const QStringList& devices, bool withDevices);

// What COM n opens, or an empty string if there is none.
QString comDevice(const QStringList& devices, int number);

} // namespace talvern

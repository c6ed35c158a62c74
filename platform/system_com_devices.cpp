#include "port_mapping.h"

#include <QSerialPortInfo>

namespace talvern {

QStringList systemComDevices() {
    QStringList devices;
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts())
        devices.append(port.systemLocation());
    return orderComDevices(devices);
}

} // namespace talvern

#pragma once

#include "port_mapping.h"
#include "serial_port.h"

#include <memory>

namespace talvern {

// The serial port as the window holds it: the capture's port, which also says
// what each COM option opens.
class DescribedPort : public SerialPort {
public:
    // The device that COM n opens now, or an empty string.
    virtual QString deviceFor(int number) const = 0;
    // What to add where COM n is missing (ports this user may not open and how
    // to get access), or nothing.
    virtual QString missingPortNote() const = 0;
};

// The system's serial port, COM n looked up through `devices`.
std::unique_ptr<DescribedPort> systemSerialPort(ComDevices devices = systemComDevices);

} // namespace talvern

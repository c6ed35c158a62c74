#pragma once

#include <QString>
#include <QtGlobal>

namespace talvern {

// The two program-wide settings, one instance for the life of the program. The
// window writes them; each Start reads them once.
struct UploadSettings {
    qint16 PortNumber = 1;   // COM1 to COM4
    QString CaptureFileName; // exactly as typed or chosen, never trimmed
};

} // namespace talvern

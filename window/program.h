#pragma once

#include "capture_run.h"
#include "form1.h"
#include "system_capture_file.h"

namespace talvern {

// What a running program is made of: the window, with its port and dialog, and
// the capture its buttons drive. The platform parts can be replaced, so tests
// and the test harness build the very same program on a pseudo-terminal.
struct PlatformParts {
    ComDevices devices = systemComDevices;
    std::unique_ptr<SaveAsDialog> dialog; // the platform's own when empty
    std::unique_ptr<Desktop> desktop;     // the platform's own when empty
    std::unique_ptr<CaptureFile> file;    // the platform's own when empty
};

class Program {
public:
    Program(UploadSettings& settings, PlatformParts parts);

    Form1 form;
    std::unique_ptr<CaptureFile> file;
    CaptureRun capture;
};

} // namespace talvern

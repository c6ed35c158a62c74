#pragma once

#include "program.h"

// The start-up module: the program-wide settings and the entry procedure.
namespace COMAIN {

// The settings the window fills and each Start reads.
talvern::UploadSettings& Upload();

// The window, once Main has created it.
talvern::Form1* Form();

// Starts the program: COM1, the window created and shown. Returns at once; the
// program then lives as long as its window. `parts` replace the platform's own
// port mapping, dialog and desktop (for the test harness).
void Main(talvern::PlatformParts parts = {});

// Destroys the window; called once the event loop has ended, before the
// application object goes.
void End();

} // namespace COMAIN

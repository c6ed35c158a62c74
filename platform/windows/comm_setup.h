#pragma once

#include "line_settings.h"

#include <windows.h>

namespace talvern {

// The input queue asked of the driver for a port: at 9600 baud (960 bytes a
// second) it holds more than a minute of the line while the program does not
// read. Drivers keep a few KiB unless asked.
constexpr DWORD kInputQueueBytes = 64 * 1024;

// The Win32 calls that set a port up, the system's own unless a test puts
// others in to see them made, or refused.
struct CommSetupCalls {
    BOOL(WINAPI* setupComm)(HANDLE, DWORD, DWORD) = ::SetupComm;
    BOOL(WINAPI* getCommState)(HANDLE, LPDCB) = ::GetCommState;
    BOOL(WINAPI* setCommState)(HANDLE, LPDCB) = ::SetCommState;
};

// Sets the line as the settings say, with no flow control and every byte passed
// on as it came (binary, no parity replacement, NULs kept). 0 or the system's
// error.
DWORD applyLine(HANDLE handle, const LineSettings& line, const CommSetupCalls& calls = {});

// A port just opened: asks the driver for the deep input queue, then sets the
// line. A driver that refuses the queue keeps its own, which is no failure.
// 0 or the system's error of setting the line.
DWORD setUpPort(HANDLE handle, const LineSettings& line, const CommSetupCalls& calls = {});

} // namespace talvern

#include "comm_setup.h"

namespace talvern {

namespace {

BYTE dcbParity(LineSettings::Parity parity) {
    switch (parity) {
    case LineSettings::Parity::Even:
        return EVENPARITY;
    case LineSettings::Parity::Odd:
        return ODDPARITY;
    case LineSettings::Parity::Mark:
        return MARKPARITY;
    case LineSettings::Parity::Space:
        return SPACEPARITY;
    case LineSettings::Parity::None:
        break;
    }
    return NOPARITY;
}

BYTE dcbStopBits(LineSettings::StopBits stopBits) {
    switch (stopBits) {
    case LineSettings::StopBits::OneAndHalf:
        return ONE5STOPBITS;
    case LineSettings::StopBits::Two:
        return TWOSTOPBITS;
    case LineSettings::StopBits::One:
        break;
    }
    return ONESTOPBIT;
}

} // namespace

DWORD applyLine(HANDLE handle, const LineSettings& line, const CommSetupCalls& calls) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!calls.getCommState(handle, &dcb))
        return ::GetLastError();
    dcb.BaudRate = DWORD(line.baudRate);
    dcb.ByteSize = BYTE(line.dataBits);
    dcb.Parity = dcbParity(line.parity);
    dcb.StopBits = dcbStopBits(line.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = line.parity != LineSettings::Parity::None;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    return calls.setCommState(handle, &dcb) ? 0 : ::GetLastError();
}

DWORD setUpPort(HANDLE handle, const LineSettings& line, const CommSetupCalls& calls) {
    // Before any reading, as the system's documentation asks. The output queue
    // is small: the capture sends nothing.
    (void)calls.setupComm(handle, kInputQueueBytes, 4096);
    return applyLine(handle, line, calls);
}

} // namespace talvern

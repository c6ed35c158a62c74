#include "comm_setup.h"
#include "serial_port_adapter.h"
#include "support/error_of.h"
#include "system_error.h"
#include "termination_signals.h"

#include <windows.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>

#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include <vector>

using talvern::SerialPortAdapter;

namespace {

LRESULT CALLBACK plainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// A window of this thread, as the session's end reaches each of the program's
// windows. Message-only, so that it needs no display.
HWND plainWindow() {
    static const ATOM windowClass = [] {
        WNDCLASSW description{};
        description.lpfnWndProc = plainWindowProc;
        description.hInstance = ::GetModuleHandleW(nullptr);
        description.lpszClassName = L"TalvernTestWindow";
        return ::RegisterClassW(&description);
    }();
    return ::CreateWindowW(reinterpret_cast<LPCWSTR>(quintptr(windowClass)), L"test", 0, 0, 0, 0, 0,
                           HWND_MESSAGE, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

// Handles events until none is left waiting.
void handleEvents() {
    const QDeadlineTimer deadline(2000);
    while (QAbstractEventDispatcher::instance()->processEvents(QEventLoop::AllEvents) &&
           !deadline.hasExpired()) {
    }
}

// Stand-ins for the port's set-up calls: they log what they are asked and
// answer as the test says (0: yes; else no, with that error).
std::vector<std::string> setUpCalls;
DWORD queueRefusal = 0;
DWORD lineRefusal = 0;

BOOL answer(DWORD refusal) {
    ::SetLastError(refusal);
    return refusal == 0;
}
BOOL WINAPI setupComm(HANDLE, DWORD input, DWORD) {
    setUpCalls.push_back("SetupComm " + std::to_string(input));
    return answer(queueRefusal);
}
BOOL WINAPI getCommState(HANDLE, LPDCB) {
    setUpCalls.push_back("GetCommState");
    return TRUE;
}
BOOL WINAPI setCommState(HANDLE, LPDCB dcb) {
    setUpCalls.push_back("SetCommState " + std::to_string(dcb->BaudRate));
    return answer(lineRefusal);
}

} // namespace

TEST(SerialPortWindows, AsksForADeepInputQueueBeforeTheLineAndTakesARefusal) {
    const struct {
        const char* what;
        DWORD queueRefusal;
        DWORD lineRefusal;
        DWORD expected;
    } cases[] = {
        {"the driver gives the queue", 0, 0, 0},
        {"the driver keeps its own queue: no failure", ERROR_INVALID_PARAMETER, 0, 0},
        {"the line cannot be set: its error", 0, ERROR_GEN_FAILURE, ERROR_GEN_FAILURE},
    };
    const talvern::CommSetupCalls calls{setupComm, getCommState, setCommState};
    for (const auto& c : cases) {
        setUpCalls.clear();
        queueRefusal = c.queueRefusal;
        lineRefusal = c.lineRefusal;
        const talvern::LineSettings line{};
        EXPECT_EQ(talvern::setUpPort(nullptr, line, calls), c.expected) << c.what;
        EXPECT_EQ(setUpCalls, (std::vector<std::string>{"SetupComm 65536", "GetCommState",
                                                        "SetCommState 9600"}))
            << c.what;
    }
}

TEST(SessionEnd, EndsTheProgramOnceAsATerminationSignal) {
    const struct {
        const char* what;
        std::vector<WPARAM> messages; // WM_ENDSESSION's wParam, one per window
        std::vector<int> expected;
    } cases[] = {
        {"the session ends", {TRUE}, {SIGTERM}},
        {"every window hears of it; the program ends once", {TRUE, TRUE, TRUE}, {SIGTERM}},
        {"the session goes on after all", {FALSE, FALSE}, {}},
    };
    for (const auto& c : cases) {
        talvern::TerminationSignals termination;
        std::vector<int> received;
        QObject::connect(&termination, &talvern::TerminationSignals::received,
                         [&](int number) { received.push_back(number); });
        std::vector<HWND> windows;
        for (const WPARAM ending : c.messages) {
            windows.push_back(plainWindow());
            ASSERT_NE(windows.back(), nullptr);
            ::PostMessageW(windows.back(), WM_ENDSESSION, ending, ENDSESSION_LOGOFF);
        }
        handleEvents();
        EXPECT_EQ(received, c.expected) << c.what;
        for (const HWND window : windows)
            ::DestroyWindow(window);
    }
}

TEST(SerialPortWindows, FailuresNameThePortAndTheSystemsReason) {
    const auto devices = [] {
        QStringList list(200);
        list[0] = QStringLiteral("\\Device\\Serial0");
        list[199] = QStringLiteral("\\Device\\Serial199"); // listed, but nothing opens
        return list;
    };
    SerialPortAdapter port(devices);
    EXPECT_EQ(port.deviceFor(1), "\\Device\\Serial0");
    EXPECT_EQ(port.deviceFor(2), "");

    EXPECT_EQ(errorOf([&] { port.setCommPort(2); }),
              "Serial port COM2: no such port: this system has COM1, COM200");

    port.setCommPort(200);
    port.setSettings("9600,N,8,1");
    const QString message = errorOf([&] { port.setPortOpen(true); });
    EXPECT_EQ(message, "Serial port COM200: " + talvern::systemErrorText(ERROR_FILE_NOT_FOUND))
        << message.toStdString();
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(errorOf([&] { port.setSettings("9600,N,9,1"); }),
              "Serial port COM200: invalid line settings \"9600,N,9,1\" (expected baud,parity,"
              "data bits,stop bits such as \"9600,N,8,1\")");
}

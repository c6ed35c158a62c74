#include "serial_port_adapter.h"
#include "support/error_of.h"
#include "system_error.h"
#include "termination_signals.h"

#include <windows.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>

#include <csignal>

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

} // namespace

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

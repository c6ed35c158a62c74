#pragma once

#include <QObject>

#include <memory>

namespace talvern {

// Turns the system's request to end the program into a Qt signal on the event
// loop, so the program closes its capture file properly instead of dying: on
// POSIX systems SIGTERM, SIGINT and SIGHUP (a logout), on Windows the end of the
// session (log-off, shutdown: WM_ENDSESSION). On POSIX systems SIGPIPE and
// SIGXFSZ are ignored: the write that meets a closed pipe or the file-size
// limit fails and is reported instead.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    // Only one instance may exist at a time. Where the signals cannot be
    // caught, it says so on the console and they keep their default action.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    // The signal's number; SIGTERM's for the end of a Windows session, emitted
    // while the system waits for the answer, so whatever is connected has
    // finished before the system may end the process.
    void received(int signalNumber);

private:
    class Catcher; // the system's own part
    std::unique_ptr<Catcher> catcher_;
};

} // namespace talvern

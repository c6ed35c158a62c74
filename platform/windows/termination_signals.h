#pragma once

#include <QObject>

#include <memory>

namespace talvern {

// Turns the end of the Windows session (log-off, shutdown: WM_ENDSESSION) into
// the Qt signal that a termination signal gives on other systems, so the
// program closes its capture file properly before the system ends it.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    // Only one instance may exist at a time.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    // Emitted once, with SIGTERM's number, while the system waits for the
    // answer to WM_ENDSESSION: whatever is connected has finished before the
    // system may end the process.
    void received(int signalNumber);

private:
    class SessionFilter;
    std::unique_ptr<SessionFilter> filter_;
};

} // namespace talvern

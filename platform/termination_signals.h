#pragma once

#include "owned_handle.h"

#include <QObject>

class QSocketNotifier;

namespace talvern {

// Turns SIGTERM, SIGINT and SIGHUP (a logout) into a Qt signal on the event
// loop, so the program can close its capture file properly instead of dying
// with the signal. SIGPIPE and SIGXFSZ are ignored: the write that meets a
// closed pipe or the file-size limit fails and is reported instead.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    // Only one instance may exist at a time. If the signals cannot be caught,
    // it says so on the console and they keep their default action.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier* notifier_ = nullptr;
    OwnedHandle reading_; // the pipe the handler writes the signal's number to
    OwnedHandle writing_;
};

} // namespace talvern

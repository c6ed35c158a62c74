#pragma once

#include <QProcess>
#include <QStringList>

// The test harness program in a process of its own, spoken to line by line.
class HarnessProcess {
public:
    // Starts the harness with COM1, COM2, ... mapped to `devices` (which may
    // begin with the harness's options), in `workingDirectory` when one is
    // given: headless, or on the X display named by `display` (":1") when one
    // is given. Its standard error goes to `errorFile` when one is given.
    explicit HarnessProcess(const QStringList& devices, const QString& workingDirectory = {},
                            const QString& display = {}, const QString& errorFile = {});
    ~HarnessProcess();

    void send(const QString& command);
    // Types `fileName` into the file-name box and starts a capture; true once
    // the port is open (Abort enabled).
    bool startCapture(const QString& fileName);
    // The next printed line that starts with `prefix` (lines before it are
    // passed over), or a null string after `ms` milliseconds.
    QString waitFor(const QString& prefix, int ms = 10000);
    // Asks for the status box until it shows `text`; false after `ms`.
    bool waitForStatus(const QString& text, int ms = 10000);
    // The exit status once the program has ended; -1 if it has not after `ms`
    // or did not exit normally.
    int waitForExit(int ms = 10000);

    QProcess process;
};

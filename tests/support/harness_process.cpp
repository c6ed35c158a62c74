#include "harness_process.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>

#ifndef TALVERN_HARNESS
#error "TALVERN_HARNESS must name the harness program"
#endif

HarnessProcess::HarnessProcess(const QStringList& devices, const QString& workingDirectory,
                               const QString& display, const QString& errorFile) {
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", display.isEmpty() ? "offscreen" : "xcb");
    if (!display.isEmpty())
        environment.insert("DISPLAY", display);
    process.setProcessEnvironment(environment);
    if (errorFile.isEmpty())
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    else
        process.setStandardErrorFile(errorFile);
    process.start(QStringLiteral(TALVERN_HARNESS), devices);
    process.waitForStarted(10000);
}

HarnessProcess::~HarnessProcess() {
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

void HarnessProcess::send(const QString& command) {
    process.write(command.toUtf8() + '\n');
    process.waitForBytesWritten(5000);
}

bool HarnessProcess::startCapture(const QString& fileName) {
    send("type Text2 " + fileName);
    send("click Command1");
    send("enabled Command3");
    return waitFor("enabled Command3") == "enabled Command3 1";
}

QString HarnessProcess::waitFor(const QString& prefix, int ms) {
    const QDeadlineTimer deadline(ms);
    for (;;) {
        while (process.canReadLine()) {
            const QString line = QString::fromUtf8(process.readLine()).chopped(1);
            if (line.startsWith(prefix))
                return line;
        }
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return QString();
        process.waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), 200)));
    }
}

bool HarnessProcess::waitForStatus(const QString& text, int ms) {
    const QDeadlineTimer deadline(ms);
    const QString wanted = "status: " + text;
    while (!deadline.hasExpired()) {
        send("status");
        const QString line = waitFor("status: ", 2000);
        if (line == wanted)
            return true;
        if (line.isNull())
            return false;
    }
    return false;
}

int HarnessProcess::waitForExit(int ms) {
    if (!process.waitForFinished(ms) && process.state() != QProcess::NotRunning)
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

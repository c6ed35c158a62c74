#include "harness_process.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>

#include <cstdio>

#ifndef TALVERN_HARNESS
#error "TALVERN_HARNESS must name the harness program"
#endif

HarnessProcess::HarnessProcess(const QStringList& devices, const QString& workingDirectory) {
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
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
    QString answer = waitFor("enabled Command3", 5000);
    if (answer.isNull()) {
        // Under AddressSanitizer, on the first run after a build, the harness
        // has now and then stayed silent here while idle: say where it is, then
        // ask once more, so that a question that went astray is told apart from
        // a capture that did not start (that answer is still 0).
        describeSilence("enabled Command3");
        send("enabled Command3");
        answer = waitFor("enabled Command3", 5000);
        std::fprintf(stderr, "Asked again, the harness answered \"%s\".\n", qPrintable(answer));
    }
    return answer == "enabled Command3 1";
}

void HarnessProcess::describeSilence(const QString& awaited) {
    // For a failure that does not come back: what the program said last, and
    // what its main thread waits in.
    QFile stack(QStringLiteral("/proc/%1/stack").arg(process.processId()));
    const QByteArray where = stack.open(QIODevice::ReadOnly) ? stack.readAll() : "(unreadable)\n";
    std::fprintf(stderr, "The harness gave no \"%s\". Its last lines:\n  %s\nIts kernel stack:\n%s",
                 qPrintable(awaited), qPrintable(said.join("\n  ")), where.constData());
}

QString HarnessProcess::waitFor(const QString& prefix, int ms) {
    const QDeadlineTimer deadline(ms);
    for (;;) {
        while (process.canReadLine()) {
            const QString line = QString::fromUtf8(process.readLine()).chopped(1);
            said.append(line);
            if (said.size() > 20)
                said.removeFirst();
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

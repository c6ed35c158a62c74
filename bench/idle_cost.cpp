// CPU cost of a capture that mostly waits: one record a second arrives on a
// pseudo-terminal for ten seconds while the real port adapter and capture loop
// run on the Qt event loop. Prints the capture thread's CPU time as a share of
// one core.
#include "capture_run.h"
#include "serial_port_adapter.h"
#include "support/event_loop_view.h"
#include "support/pseudo_terminal.h"
#include "system_capture_file.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;

    QTemporaryDir dir;
    PseudoTerminal line;
    talvern::UploadSettings settings;
    settings.CaptureFileName = dir.filePath("idle.txt");
    talvern::SerialPortAdapter port([&] { return QStringList{line.slavePath()}; });
    EventLoopView view;
    talvern::SystemCaptureFile captureFile;
    talvern::CaptureRun run(settings, port, captureFile, view);

    // The instrument: a record a second, as events of the same loop.
    int sent = 0;
    QTimer instrument;
    instrument.callOnTimeout([&] { line.send(QByteArray::number(++sent) + " 12.5 mg\r"); });
    QTimer::singleShot(0, [&] { instrument.start(1000); });
    QTimer::singleShot(seconds * 1000 + 500, [&] { (void)run.abort(); });

    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const talvern::Outcome outcome = run.start();
    const double cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;

    if (outcome) {
        std::fprintf(stderr, "capture failed: %s\n", qPrintable(outcome->message));
        return 1;
    }
    QFile file(settings.CaptureFileName);
    const qsizetype lines = file.open(QIODevice::ReadOnly) ? file.readAll().count("\r\n") : -1;
    std::printf("idle capture: %d records sent, %d lines in the file, %.1f s, CPU %.3f s = "
                "%.3f%% of one core\n",
                sent, int(lines), elapsed, cpu, 100.0 * cpu / elapsed);
    return 0;
}

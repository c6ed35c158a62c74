// The program end to end: the real window (through the test harness, headless)
// capturing from a pseudo-terminal. Prints one table row per figure:
//   idle cost, record latency, throughput against a plain `cat`, peak memory.
//
//   bench_e2e [idle-seconds] [megabytes]
#include "support/file_contents.h"
#include "support/harness_process.h"
#include "support/pseudo_terminal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <random>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU time used so far by every thread of a process, in seconds.
double cpuSeconds(qint64 pid) {
    double total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task + "/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return total;
}

// Peak resident memory of a process, in MiB.
double peakMiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

void row(const char* measure, const QString& value, const char* target) {
    std::printf("| %-44s | %-30s | %-24s |\n", measure, qPrintable(value), target);
    std::fflush(stdout);
}

// A capture running in the real program on its own line.
struct Capture {
    explicit Capture(const QString& file)
        : program({line.slavePath()})
        , path(file) {
        ok = !program.waitFor("ready").isNull() && program.startCapture(file);
    }
    ~Capture() {
        program.send("click Command2");
        program.waitForExit();
    }
    PseudoTerminal line;
    HarnessProcess program;
    QString path;
    bool ok = false;
};

void idleCost(const QString& folder, int seconds) {
    Capture capture(folder + "/idle.txt");
    if (!capture.ok)
        return row("idle cost", "capture did not start", "");
    const qint64 pid = capture.program.process.processId();
    const double cpuBefore = cpuSeconds(pid);
    const Clock::time_point start = Clock::now();
    for (int n = 0; n < seconds; ++n) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(500 + 1000 * n));
        capture.line.send(QByteArray::number(n) + " 12.5 mg\r");
    }
    std::this_thread::sleep_until(start + std::chrono::seconds(seconds));
    const double share = 100.0 * (cpuSeconds(pid) - cpuBefore) / secondsSince(start);
    row("idle cost (1 record/s)",
        QStringLiteral("%1 % of one core over %2 s").arg(share, 0, 'f', 3).arg(seconds),
        "< 1 % (busy loop: 100 %)");
}

void latency(const QString& folder) {
    Capture capture(folder + "/latency.txt");
    if (!capture.ok)
        return row("latency", "capture did not start", "");
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    inotify_add_watch(watch, QFile::encodeName(capture.path).constData(), IN_MODIFY);

    std::mt19937 random(3);
    std::uniform_int_distribution<int> pause(200, 3000); // microseconds
    std::vector<double> ms;
    char events[4096];
    for (int n = 0; n < 1000; ++n) {
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        while (::read(watch, events, sizeof events) > 0) {
        }
        const Clock::time_point sent = Clock::now();
        capture.line.send(QByteArray::number(n).rightJustified(6, '0') + " 12.5 mg\r");
        pollfd ready{watch, POLLIN, 0};
        if (::poll(&ready, 1, 1000) != 1)
            break;
        ms.push_back(secondsSince(sent) * 1000.0);
    }
    ::close(watch);
    if (ms.size() < 1000)
        return row("latency", QStringLiteral("lost after %1 records").arg(ms.size()), "");
    std::sort(ms.begin(), ms.end());
    row("latency, CR at the line to line in file",
        QStringLiteral("p50 %1 ms, p99 %2 ms").arg(ms[500], 0, 'f', 3).arg(ms[990], 0, 'f', 3),
        "p99 < 2 ms");
}

QByteArray records(qint64 megabytes, QByteArray* file) {
    QByteArray stream;
    stream.reserve(megabytes * 1000 * 1000);
    file->reserve(stream.capacity() + stream.capacity() / 32 + 64);
    for (int n = 0; stream.size() < megabytes * 1000 * 1000; ++n) {
        const QByteArray record =
            QByteArray::number(n).rightJustified(9, '0') + " 12.5 mg ok balance A17 fine";
        stream += record.left(31) + '\r';
        *file += record.left(31) + "\r\n";
    }
    return stream;
}

void send(PseudoTerminal& line, const QByteArray& stream) {
    for (qsizetype at = 0; at < stream.size(); at += 65536)
        line.send(stream.mid(at, 65536));
}

void throughput(const QString& folder, int megabytes) {
    QByteArray expected;
    const QByteArray stream = records(megabytes, &expected);
    const double mb = double(stream.size()) / 1e6;

    double ours = 0;
    double peak = 0;
    bool exact = false;
    {
        Capture capture(folder + "/throughput.txt");
        if (!capture.ok)
            return row("throughput", "capture did not start", "");
        const Clock::time_point start = Clock::now();
        std::thread instrument([&] { send(capture.line, stream); });
        const bool complete = waitForSize(capture.path, expected.size(), 300000);
        const double seconds = secondsSince(start);
        instrument.join();
        ours = complete ? mb / seconds : 0;
        peak = peakMiB(capture.program.process.processId());
        QFile file(capture.path);
        exact = file.open(QIODevice::ReadOnly) && file.readAll() == expected;
    }

    double plain = 0;
    {
        PseudoTerminal line;
        const QString out = folder + "/cat.txt";
        QProcess cat;
        cat.setStandardInputFile(line.slavePath());
        cat.setStandardOutputFile(out);
        cat.start("cat");
        cat.waitForStarted();
        const Clock::time_point start = Clock::now();
        std::thread instrument([&] { send(line, stream); });
        const bool complete = waitForSize(out, stream.size(), 300000);
        const double seconds = secondsSince(start);
        instrument.join();
        plain = complete ? mb / seconds : 0;
        cat.kill();
        cat.waitForFinished();
    }

    row("throughput, 32-byte records",
        QStringLiteral("%1 MB/s, %2 MB, %3")
            .arg(ours, 0, 'f', 1)
            .arg(mb, 0, 'f', 0)
            .arg(exact ? "byte-exact" : "FILE DIFFERS"),
        ">= cat / 2, >= 0.96 MB/s");
    row("throughput of cat on the same line", QStringLiteral("%1 MB/s").arg(plain, 0, 'f', 1),
        "reference");
    row("share of cat", QStringLiteral("%1 %").arg(plain > 0 ? 100 * ours / plain : 0, 0, 'f', 0),
        ">= 50 %");
    row("line rates of 9600 baud (960 bytes/s)",
        QStringLiteral("%1 x").arg(ours * 1e6 / 960, 0, 'f', 0), ">= 1000 x");
    row("peak resident memory during throughput", QStringLiteral("%1 MiB").arg(peak, 0, 'f', 1),
        "");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int idleSeconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    const int megabytes = argc > 2 ? std::max(1, atoi(argv[2])) : 50;
    QTemporaryDir dir;
    idleCost(dir.path(), idleSeconds);
    latency(dir.path());
    throughput(dir.path(), megabytes);
    return 0;
}

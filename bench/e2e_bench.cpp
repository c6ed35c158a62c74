// The program end to end: the real window (through the test harness, headless)
// capturing from a pseudo-terminal, side by side with `cat` reading a line of
// its own in the same run. Each figure is the median of several runs, with the
// lowest and highest beside it. Prints one Markdown table row per figure:
//   the CPU cost of steady feeds (idle, 9600 baud, 1 MB/s), with other shapes
//   of the capture measured in the same runs; flood throughput for records of
//   1 to 4096 bytes, the latency from a CR to its line in the file, and peak
//   memory.
//
//   bench_e2e [runs] [seconds-per-steady-run] [megabytes-per-flood] [steady|flood|latency]
#include "support/harness_process.h"
#include "support/pseudo_terminal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
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

qint64 fileSize(const QString& path) {
    return QFileInfo(path).size();
}

// Waits until the file holds at least `size` bytes; false after `seconds`.
bool waitForSize(const QString& path, qint64 size, double seconds) {
    const Clock::time_point start = Clock::now();
    while (fileSize(path) < size) {
        if (secondsSince(start) > seconds)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return true;
}

// "median (lowest–highest)" of the runs; "failed" when a run failed (NaN).
QString spread(std::vector<double> runs, int decimals, const QString& unit = {}) {
    if (runs.empty() ||
        std::any_of(runs.begin(), runs.end(), [](double v) { return std::isnan(v); }))
        return QStringLiteral("failed");
    std::sort(runs.begin(), runs.end());
    const double median = runs.size() % 2 ? runs[runs.size() / 2]
                                          : (runs[runs.size() / 2 - 1] + runs[runs.size() / 2]) / 2;
    return QStringLiteral("%1%2 (%3-%4)")
        .arg(median, 0, 'f', decimals)
        .arg(unit)
        .arg(runs.front(), 0, 'f', decimals)
        .arg(runs.back(), 0, 'f', decimals);
}

void row(const QString& measure, const QString& program, const QString& cat,
         const QString& target) {
    std::printf("| %-54s | %-28s | %-26s | %-18s |\n", qPrintable(measure), qPrintable(program),
                qPrintable(cat), qPrintable(target));
    std::fflush(stdout);
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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
    qint64 pid() { return program.process.processId(); }
    PseudoTerminal line;
    HarnessProcess program;
    QString path;
    bool ok = false;
};

// Another program copying a line of its own to a file: `cat` (the line as its
// input, the file as its output), or one of the programs built beside this
// benchmark (the line and the file as arguments): the bare one-thread Qt reader
// (one_thread_floor.cpp), what waiting in Qt's event loop costs before the
// program adds anything.
struct Reader {
    Reader(const QString& program, const QString& file, const QStringList& options = {})
        : path(file) {
        if (program == "cat") {
            process.setStandardInputFile(line.slavePath());
            process.setStandardOutputFile(path);
            process.start(program);
        } else {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("QT_QPA_PLATFORM", "offscreen");
            process.setProcessEnvironment(environment);
            process.start(QCoreApplication::applicationDirPath() + "/" + program,
                          QStringList{line.slavePath(), path} + options);
        }
        ok = process.waitForStarted();
    }
    ~Reader() {
        process.kill();
        process.waitForFinished();
    }
    qint64 pid() { return process.processId(); }
    PseudoTerminal line;
    QProcess process;
    QString path;
    bool ok = false;
};

// `count` records of `size` bytes each, the CR included (1 byte: a bare CR);
// `file` gets the lines the capture file must hold.
QByteArray records(qsizetype size, qsizetype count, QByteArray* file = nullptr) {
    QByteArray stream;
    stream.reserve(size * count);
    if (file)
        file->reserve(stream.capacity() + 2 * count);
    QByteArray text;
    for (qsizetype n = 0; n < count; ++n) {
        text = (QByteArray::number(n).rightJustified(9, '0') + " 12.5 mg ok")
                   .leftJustified(size - 1, '.', true);
        stream += text;
        stream += '\r';
        if (file) {
            *file += text;
            *file += "\r\n";
        }
    }
    return stream;
}

// The programs weighed against the program at steady rates, besides `cat`: the
// program in bench/ and its options, what its row says, and whether its file
// gets CR LF line ends.
struct Alternative {
    const char* program;
    QStringList options;
    const char* measure;
    bool framed;
};

const Alternative kAlternatives[] = {
    {"bench_one_thread_floor", {}, "  the same, a bare one-thread Qt reader", false},
};
constexpr int kAlternativeCount = int(std::size(kAlternatives));

// CPU share of one core, in per cent, of the program, of `cat` and of each
// alternative while the same writes arrive on their lines at a steady pace:
// `perWrite` records of `size` bytes, each record with a text of its own, every
// `period`. Empty when a run failed.
std::vector<double> steadyCost(const QString& folder, qsizetype size, qsizetype perWrite,
                               std::chrono::microseconds period, double seconds) {
    Capture capture(folder + "/steady.txt");
    Reader cat("cat", folder + "/steady-cat.txt");
    std::vector<std::unique_ptr<Reader>> others;
    for (int i = 0; i < kAlternativeCount; ++i)
        others.push_back(std::make_unique<Reader>(kAlternatives[i].program,
                                                  folder + QStringLiteral("/steady-%1.txt").arg(i),
                                                  kAlternatives[i].options));
    if (!capture.ok || !cat.ok ||
        std::any_of(others.begin(), others.end(), [](const auto& other) { return !other->ok; }))
        return {};
    // The alternatives open their lines themselves: wait until they are up, so
    // that the first writes are not lost and their start is not counted.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const qint64 writes = qint64(seconds * 1e6 / double(period.count()));
    const QByteArray stream = records(size, writes * perWrite);
    const qsizetype chunkBytes = size * perWrite;
    std::vector<qint64> pids{capture.pid(), cat.pid()};
    std::vector<PseudoTerminal*> ends{&capture.line, &cat.line};
    for (const auto& other : others) {
        pids.push_back(other->pid());
        ends.push_back(&other->line);
    }
    std::vector<double> before;
    for (const qint64 pid : pids)
        before.push_back(cpuSeconds(pid));
    const Clock::time_point start = Clock::now();
    for (qint64 n = 0; n < writes; ++n) {
        std::this_thread::sleep_until(start + period / 2 + n * period);
        // Take turns at being first, so none always wakes first.
        const QByteArray chunk = stream.mid(n * chunkBytes, chunkBytes);
        for (size_t i = 0; i < ends.size(); ++i)
            ends[(size_t(n) + i) % ends.size()]->send(chunk);
    }
    std::this_thread::sleep_until(start + writes * period);
    const double elapsed = secondsSince(start);
    std::vector<double> cost;
    for (size_t i = 0; i < pids.size(); ++i)
        cost.push_back(100.0 * (cpuSeconds(pids[i]) - before[i]) / elapsed);
    // Every record must have reached the files, each CR grown into CR LF where
    // records are framed.
    const qint64 lines = stream.size() + writes * perWrite;
    if (!waitForSize(capture.path, lines, 10) || !waitForSize(cat.path, stream.size(), 10))
        return {};
    for (int i = 0; i < kAlternativeCount; ++i)
        if (!waitForSize(others[size_t(i)]->path, kAlternatives[i].framed ? lines : stream.size(),
                         10))
            return {};
    return cost;
}

void steadyRows(const QString& folder, int runs, double seconds) {
    struct Feed {
        const char* measure;
        qsizetype size;
        qsizetype perWrite;
        std::chrono::microseconds period;
        double seconds;
        const char* target;
    };
    const Feed feeds[] = {
        {"CPU, idle: one 10-byte record a second", 10, 1, std::chrono::seconds(1),
         std::max(seconds, 10.0), "< 0.5 %"},
        {"CPU, 960 bytes/s: one 10-byte record per write", 10, 1, std::chrono::microseconds(10417),
         seconds, "<= 1 %, <= 3x cat"},
        {"CPU, 1 MB/s: 32-byte records, 1 KiB writes", 32, 32, std::chrono::microseconds(1024),
         seconds, "<= 4 %"},
    };
    for (const Feed& feed : feeds) {
        // One list of runs per contender: the program, `cat`, the alternatives.
        std::vector<std::vector<double>> runsOf(2 + kAlternativeCount);
        for (int run = 0; run < runs; ++run) {
            std::vector<double> cost =
                steadyCost(folder, feed.size, feed.perWrite, feed.period, feed.seconds);
            cost.resize(runsOf.size(), kNaN);
            for (size_t i = 0; i < runsOf.size(); ++i)
                runsOf[i].push_back(cost[i]);
        }
        const QString plain = spread(runsOf[1], 2, " %");
        row(QStringLiteral("%1 (%2 s)").arg(feed.measure).arg(feed.seconds),
            spread(runsOf[0], 2, " %"), plain, feed.target);
        for (int i = 0; i < kAlternativeCount; ++i)
            row(kAlternatives[i].measure, spread(runsOf[size_t(2 + i)], 2, " %"), plain, "");
    }
}

// Input bytes per second, in MB/s, of the program and `cat` taking `stream` as
// fast as their lines do; `peak` gets the program's peak memory.
std::pair<double, double> flood(const QString& folder, const QByteArray& stream,
                                const QByteArray& expected, double* peak) {
    const auto send = [&](PseudoTerminal& line) {
        for (qsizetype at = 0; at < stream.size(); at += 65536)
            line.send(stream.mid(at, 65536));
    };
    const double mb = double(stream.size()) / 1e6;
    double ours = kNaN;
    {
        Capture capture(folder + "/flood.txt");
        if (!capture.ok)
            return {kNaN, kNaN};
        const Clock::time_point start = Clock::now();
        std::thread instrument([&] { send(capture.line); });
        const bool complete = waitForSize(capture.path, expected.size(), 300);
        const double seconds = secondsSince(start);
        instrument.join();
        *peak = peakMiB(capture.pid());
        QFile file(capture.path);
        if (complete && file.open(QIODevice::ReadOnly) && file.readAll() == expected)
            ours = mb / seconds;
    }
    double plain = kNaN;
    {
        Reader cat("cat", folder + "/flood-cat.txt");
        if (!cat.ok)
            return {ours, kNaN};
        const Clock::time_point start = Clock::now();
        std::thread instrument([&] { send(cat.line); });
        const bool complete = waitForSize(cat.path, stream.size(), 300);
        const double seconds = secondsSince(start);
        instrument.join();
        if (complete)
            plain = mb / seconds;
    }
    return {ours, plain};
}

void floodRows(const QString& folder, int runs, int megabytes) {
    std::vector<double> peaks;
    for (const qsizetype size : {1, 8, 32, 256, 4096}) {
        QByteArray expected;
        const QByteArray stream = records(size, megabytes * qsizetype(1000000) / size, &expected);
        std::vector<double> program, plain, share;
        for (int run = 0; run < runs; ++run) {
            double peak = kNaN;
            const auto [ours, cat] = flood(folder, stream, expected, &peak);
            program.push_back(ours);
            plain.push_back(cat);
            share.push_back(100.0 * ours / cat);
            peaks.push_back(peak);
        }
        row(QStringLiteral("flood, %1-byte records (%2 MB, byte-exact)").arg(size).arg(megabytes),
            spread(program, 1, " MB/s"), spread(plain, 1, " MB/s"), ">= 60 % of cat");
        row(QStringLiteral("flood, %1-byte records: share of cat").arg(size),
            spread(share, 0, " %"), "", ">= 60 %");
    }
    row("peak resident memory during the floods", spread(peaks, 1, " MiB"), "", "");
}

// Milliseconds from writing a record's CR at the line to its line being in the
// file (inotify), for 1,000 records at random intervals: p50 and p99.
std::pair<double, double> latency(const QString& folder, unsigned seed) {
    Capture capture(folder + "/latency.txt");
    if (!capture.ok)
        return {kNaN, kNaN};
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    inotify_add_watch(watch, QFile::encodeName(capture.path).constData(), IN_MODIFY);

    std::mt19937 random(seed);
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
        return {kNaN, kNaN};
    std::sort(ms.begin(), ms.end());
    return {ms[500], ms[990]};
}

void latencyRows(const QString& folder, int runs) {
    std::vector<double> p50, p99;
    for (int run = 0; run < runs; ++run) {
        const auto [median, high] = latency(folder, unsigned(3 + run));
        p50.push_back(median);
        p99.push_back(high);
    }
    row("latency, CR at the line to line in file: p50", spread(p50, 3, " ms"), "", "");
    row("latency, CR at the line to line in file: p99", spread(p99, 3, " ms"), "", "p99 < 2 ms");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    const double seconds = argc > 2 ? std::max(1, atoi(argv[2])) : 10;
    const int megabytes = argc > 3 ? std::max(1, atoi(argv[3])) : 20;
    const QByteArray only = argc > 4 ? QByteArray(argv[4]) : QByteArray();
    QTemporaryDir dir;
    if (only.isEmpty() || only == "steady")
        steadyRows(dir.path(), runs, seconds);
    if (only.isEmpty() || only == "flood")
        floodRows(dir.path(), runs, megabytes);
    if (only.isEmpty() || only == "latency")
        latencyRows(dir.path(), runs);
    return 0;
}

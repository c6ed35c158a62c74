// The program end to end, side by side with what a user would pick instead: the
// real window (through the test harness, headless) capturing from a
// pseudo-terminal while, in the same run and on lines of their own, the bare
// one-thread Qt reader (one_thread_floor.cpp, the least this design can cost),
// PuTTY logging its serial session to a file (on an Xvfb display this benchmark
// starts and stops), and `cat`. Every file is checked byte for byte. Each figure
// is the median of several runs, with the lowest and highest beside it. Prints
// one Markdown table row per figure, each target with its verdict:
//   steady: the CPU cost and wake-ups of steady feeds (one record a second, 960 bytes/s a
//     record per write and byte by byte, 1 MB/s);
//   startup: from exec to the window shown, and to the first record in the
//     file (Start pressed at once), the program and PuTTY on the same display;
//   flood: throughput for records of 1 to 4096 bytes, and peak memory;
//   floodcat: the same without PuTTY, for floods of hundreds of megabytes;
//   latency: from a CR at the line to its line in the file;
//   floodsync: floods (of hundreds of megabytes) into the program syncing
//     its file, beside the same program without syncs;
//   slowdrive: the longest the port goes unread and the longest the window
//     takes to answer, on a drive whose flush takes 3 s (FUSE, slow_drive.py)
//     and on the local drive while another program writes 1.5 GB to it, the
//     program syncing beside the same program without syncs;
//   sync: how often the program syncs its file to disk at steady feeds, and
//     its CPU cost at 960 bytes/s beside the same program without the sync.
//
//   bench_e2e [runs] [seconds-per-steady-run] [megabytes-per-flood]
//             [steady|startup|flood|floodcat|floodsync|latency|slowdrive|sync]
#include "support/harness_process.h"
#include "support/pseudo_terminal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <xcb/xcb.h>

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

// How often the threads of a process have gone to sleep and been woken again
// so far (each blocking wait that ended): the wake-ups that keep a processor
// out of its deep sleep states.
double wakeUps(qint64 pid) {
    double total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(task + "/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                total += line.mid(24).trimmed().toDouble();
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

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double median(std::vector<double> runs) {
    std::sort(runs.begin(), runs.end());
    return runs.size() % 2 ? runs[runs.size() / 2]
                           : (runs[runs.size() / 2 - 1] + runs[runs.size() / 2]) / 2;
}

bool anyFailed(const std::vector<double>& runs) {
    return runs.empty() ||
           std::any_of(runs.begin(), runs.end(), [](double v) { return std::isnan(v); });
}

// "median (lowest-highest)" of the runs; "failed" when a run failed (NaN).
QString spread(std::vector<double> runs, int decimals, const QString& unit = {}) {
    if (anyFailed(runs))
        return QStringLiteral("failed");
    std::sort(runs.begin(), runs.end());
    return QStringLiteral("%1%2 (%3-%4)")
        .arg(median(runs), 0, 'f', decimals)
        .arg(unit)
        .arg(runs.front(), 0, 'f', decimals)
        .arg(runs.back(), 0, 'f', decimals);
}

// A target and whether the runs meet it: "met" when every run does, "met at
// the median" when the median does but some run does not, else "not met".
// `values` are the runs' own figures (a ratio, a share, a cost), shown with
// their spread.
QString verdict(const QString& target, const std::vector<double>& values, double limit, bool atMost,
                int decimals, const QString& unit) {
    if (anyFailed(values))
        return target + ": failed";
    const auto meets = [&](double v) {
        return atMost ? v <= limit : v >= limit;
    };
    const QString said = std::all_of(values.begin(), values.end(), meets) ? "met"
                         : meets(median(values))                          ? "met at the median"
                                                                          : "not met";
    return QStringLiteral("%1: %2, %3").arg(target, said, spread(values, decimals, unit));
}

// The contenders, in the table's column order.
enum Kind { Program, Floor, Putty, Cat, kKinds };
const char* const kColumns[kKinds] = {"this program", "bare one-thread Qt reader",
                                      "PuTTY 0.78, session log", "`cat`"};

void row(const QString& measure, const QStringList& columns, const QString& target) {
    std::printf("| %-52s |", qPrintable(measure));
    for (int kind = 0; kind < kKinds; ++kind)
        std::printf(" %-24s |", qPrintable(columns.value(kind)));
    std::printf(" %s |\n", qPrintable(target));
    std::fflush(stdout);
}

// The X display PuTTY draws on: an Xvfb server of the benchmark's own, on a
// display number it picks itself among the free ones, stopped at the end.
class XDisplay {
public:
    XDisplay() {
        server_.setStandardErrorFile(QProcess::nullDevice());
        // -displayfd: Xvfb writes the number once it takes clients. -noreset:
        // it would turn clients away while it resets after each last one leaves.
        server_.start("Xvfb", {"-displayfd", "1", "-noreset", "-nolisten", "tcp", "-screen", "0",
                               "1280x1024x24"});
        if (!server_.waitForStarted(10000))
            return;
        while (!server_.canReadLine() && server_.state() == QProcess::Running)
            server_.waitForReadyRead(10000);
        const QByteArray number = server_.readLine().trimmed();
        if (!number.isEmpty())
            name_ = ":" + QString::fromLatin1(number);
    }
    ~XDisplay() {
        server_.terminate();
        if (!server_.waitForFinished(5000)) {
            server_.kill();
            server_.waitForFinished();
        }
    }
    // ":N", or empty when Xvfb did not start.
    const QString& name() const { return name_; }

private:
    QProcess server_;
    QString name_;
};

XDisplay* gDisplay = nullptr;

// A fresh file name in `folder` for every contender of every run: PuTTY asks
// before it writes over a log.
QString freshFile(const QString& folder, const char* what) {
    static int count = 0;
    return QStringLiteral("%1/%2-%3.txt").arg(folder, what).arg(++count);
}

// One contender copying a line of its own to a file: the program (a capture
// started in its window), the bare one-thread reader and PuTTY (the line and
// the file as arguments), `cat` (the line as its input, the file as its output).
struct Contender {
    // `startCapture`: for the program, start the capture and wait until the
    // port is open; else it is only started, and Start is left to the caller.
    // `noSync`: the program never syncs its file while capturing.
    Contender(Kind kind, const QString& file, bool startCapture = true,
              const QString& programDisplay = {}, bool noSync = false)
        : kind(kind)
        , path(file) {
        switch (kind) {
        case Program:
            program = std::make_unique<HarnessProcess>(
                noSync ? QStringList{"--no-sync", line.slavePath()} : QStringList{line.slavePath()},
                QString(), programDisplay);
            ok = !startCapture ||
                 (!program->waitFor("ready").isNull() && program->startCapture(file));
            return;
        case Floor: {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("QT_QPA_PLATFORM", "offscreen");
            process.setProcessEnvironment(environment);
            process.setStandardErrorFile(QProcess::nullDevice());
            process.start(QCoreApplication::applicationDirPath() + "/bench_one_thread_floor",
                          {line.slavePath(), path});
            break;
        }
        case Putty: {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("DISPLAY", gDisplay->name());
            process.setProcessEnvironment(environment);
            process.setStandardErrorFile(QProcess::nullDevice());
            process.start("putty", {"-serial", line.slavePath(), "-sercfg", "9600,8,n,1,N",
                                    "-sessionlog", path});
            break;
        }
        case Cat:
            process.setStandardInputFile(line.slavePath());
            process.setStandardOutputFile(path);
            process.start("cat");
            break;
        case kKinds:
            break;
        }
        ok = process.waitForStarted();
    }
    ~Contender() {
        if (program) {
            program->send("click Command2");
            program->waitForExit();
        } else {
            process.kill();
            process.waitForFinished();
        }
    }
    qint64 pid() const { return program ? program->process.processId() : process.processId(); }

    // Waits until the process has the line open, and a moment more for it to
    // set the line up; false after ten seconds.
    bool waitUntilListening() {
        const Clock::time_point start = Clock::now();
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid()));
        for (;;) {
            for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System))
                if (fd.symLinkTarget() == line.slavePath()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    return true;
                }
            if (secondsSince(start) > 10)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // What the file must hold once `stream` (whole records) has arrived: the
    // program ends each record with CR LF, the others copy the bytes as they
    // came.
    QByteArray expected(const QByteArray& stream) const {
        if (kind != Program)
            return stream;
        // Line by line: QByteArray::replace() moves the rest of the bytes for
        // every few thousand CRs, which takes minutes for a 200 MB flood.
        QByteArray lines;
        lines.reserve(stream.size() + stream.count('\r'));
        for (qsizetype at = 0; at < stream.size();) {
            const qsizetype cr = stream.indexOf('\r', at);
            const qsizetype end = cr < 0 ? stream.size() : cr + 1;
            lines.append(stream.constData() + at, end - at);
            if (cr >= 0)
                lines.append('\n');
            at = end;
        }
        return lines;
    }
    // Bytes of the line's data in the file so far: PuTTY's log starts with a
    // header line of its own (and is created only with the first data).
    qint64 received() const {
        const qint64 size = QFileInfo(path).size();
        if (kind != Putty || size == 0)
            return size;
        if (header_ < 0) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return 0;
            const qsizetype end = file.read(256).indexOf('\n');
            if (end < 0)
                return 0;
            header_ = end + 1;
        }
        return size - header_;
    }
    QByteArray content() const {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        if (kind == Putty && (received() <= 0 || !file.seek(header_)))
            return {};
        return file.readAll();
    }
    // Waits until `stream` has arrived in the file, then checks it byte for
    // byte; false after `seconds` or when the file differs.
    bool holds(const QByteArray& stream, double seconds) const {
        const QByteArray wanted = expected(stream);
        const Clock::time_point start = Clock::now();
        while (received() < wanted.size()) {
            if (secondsSince(start) > seconds)
                return false;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return content() == wanted;
    }

    Kind kind;
    PseudoTerminal line;
    std::unique_ptr<HarnessProcess> program;
    QProcess process;
    QString path;
    bool ok = false;

private:
    mutable qint64 header_ = -1;
};

// `count` records of `size` bytes each, the CR included (1 byte: a bare CR),
// each with a text of its own.
QByteArray records(qsizetype size, qsizetype count) {
    QByteArray stream;
    stream.reserve(size * count);
    QByteArray text;
    for (qsizetype n = 0; n < count; ++n) {
        text = (QByteArray::number(n).rightJustified(9, '0') + " 12.5 mg ok")
                   .leftJustified(size - 1, '.', true);
        stream += text;
        stream += '\r';
    }
    return stream;
}

// What a contender used while the same writes arrived on every line at a
// steady pace: its CPU, in per cent of one core, and its threads' wake-ups a
// second.
struct Cost {
    double cpu = kNaN;
    double wakeUps = kNaN;
};

// The cost of each contender while `bytesPerWrite` bytes of records of `size`
// bytes arrive every `period`. NaN for a contender whose file did not end up
// byte for byte what its line carried; all NaN when a contender did not start.
std::vector<Cost> steadyCost(const std::vector<std::unique_ptr<Contender>>& contenders,
                             qsizetype size, qsizetype bytesPerWrite,
                             std::chrono::nanoseconds period, double seconds) {
    std::vector<Cost> cost(contenders.size());
    // The others open their lines themselves: wait until they have, so that
    // the first writes are not lost and their start is not counted.
    for (const auto& contender : contenders)
        if (!contender->ok || !contender->waitUntilListening())
            return cost;
    const qint64 count = qint64(seconds * 1e9 / double(period.count())) * bytesPerWrite / size;
    const QByteArray stream = records(size, count);
    const qint64 writes = (stream.size() + bytesPerWrite - 1) / bytesPerWrite;
    std::vector<Cost> before;
    for (const auto& contender : contenders)
        before.push_back({cpuSeconds(contender->pid()), wakeUps(contender->pid())});
    const Clock::time_point start = Clock::now();
    for (qint64 n = 0; n < writes; ++n) {
        std::this_thread::sleep_until(start + period / 2 + n * period);
        // Take turns at being first, so none always wakes first.
        const QByteArray chunk = stream.mid(n * bytesPerWrite, bytesPerWrite);
        for (size_t i = 0; i < contenders.size(); ++i)
            contenders[(size_t(n) + i) % contenders.size()]->line.send(chunk);
    }
    std::this_thread::sleep_until(start + writes * period);
    const double elapsed = secondsSince(start);
    for (size_t i = 0; i < contenders.size(); ++i) {
        const qint64 pid = contenders[i]->pid();
        const Cost used{100.0 * (cpuSeconds(pid) - before[i].cpu) / elapsed,
                        (wakeUps(pid) - before[i].wakeUps) / elapsed};
        if (contenders[i]->holds(stream, 10))
            cost[i] = used;
    }
    return cost;
}

// A steady feed: `bytesPerWrite` bytes of records of `size` bytes every
// `period`, for `seconds`, with the targets of its rows (0: none).
struct Feed {
    const char* measure;
    qsizetype size;
    qsizetype bytesPerWrite;
    std::chrono::nanoseconds period;
    double seconds;
    double atMost = 0;           // per cent of a core
    double timesFloorAtMost = 0; // times the bare one-thread reader
    double timesPuttyAtMost = 0; // times PuTTY
    double wakeUpsAtMost = 0;    // the program's wake-ups a second
};

void steadyRows(const QString& folder, int runs, double seconds) {
    using std::chrono::nanoseconds;
    const Feed feeds[] = {
        {"one 10-byte record a second", 10, 10, std::chrono::seconds(1), std::max(seconds, 10.0),
         0.09, 0, 0.5, 0},
        {"960 bytes/s, one 10-byte record per write", 10, 10, nanoseconds(10416667), seconds, 0,
         1.0, 0.25, 50},
        {"960 bytes/s byte by byte, 10-byte records", 10, 1, nanoseconds(1041667), seconds, 0, 0.5,
         0.25, 50},
        {"1 MB/s, 32-byte records in 1 KiB writes", 32, 1024, nanoseconds(1024000), seconds, 0, 0,
         0.5, 0},
    };
    for (const Feed& feed : feeds) {
        std::vector<std::vector<double>> cpu(kKinds), wakes(kKinds);
        std::vector<double> timesPutty, timesFloor;
        for (int run = 0; run < runs; ++run) {
            std::vector<std::unique_ptr<Contender>> contenders;
            for (int kind = 0; kind < kKinds; ++kind)
                contenders.push_back(
                    std::make_unique<Contender>(Kind(kind), freshFile(folder, "steady")));
            const std::vector<Cost> cost =
                steadyCost(contenders, feed.size, feed.bytesPerWrite, feed.period, feed.seconds);
            for (int kind = 0; kind < kKinds; ++kind) {
                cpu[size_t(kind)].push_back(cost[size_t(kind)].cpu);
                wakes[size_t(kind)].push_back(cost[size_t(kind)].wakeUps);
            }
            timesPutty.push_back(cost[Program].cpu / cost[Putty].cpu);
            timesFloor.push_back(cost[Program].cpu / cost[Floor].cpu);
        }
        QStringList cpuColumns, wakeColumns, targets;
        for (int kind = 0; kind < kKinds; ++kind) {
            cpuColumns += spread(cpu[size_t(kind)], 2, " %");
            wakeColumns += spread(wakes[size_t(kind)], 0);
        }
        if (feed.atMost > 0)
            targets += verdict(QStringLiteral("<= %1 %").arg(feed.atMost), cpu[Program],
                               feed.atMost, true, 2, " %");
        if (feed.timesFloorAtMost > 0)
            targets +=
                verdict(QStringLiteral("<= %1x the one-thread reader").arg(feed.timesFloorAtMost),
                        timesFloor, feed.timesFloorAtMost, true, 2, "x");
        if (feed.timesPuttyAtMost > 0)
            targets += verdict(QStringLiteral("<= %1x PuTTY").arg(feed.timesPuttyAtMost),
                               timesPutty, feed.timesPuttyAtMost, true, 2, "x");
        const QString measure = QStringLiteral("%1 (%2 s)").arg(feed.measure).arg(feed.seconds);
        row("CPU, " + measure, cpuColumns, targets.join("; "));
        row("wake-ups a second, " + measure, wakeColumns,
            feed.wakeUpsAtMost > 0 ? verdict(QStringLiteral("<= %1").arg(feed.wakeUpsAtMost),
                                             wakes[Program], feed.wakeUpsAtMost, true, 0, "")
                                   : QString());
    }
}

// The program's syncs of its file: how many a second at steady feeds, and what
// they cost at 960 bytes/s beside the same program without them, in one run.
void syncRows(const QString& folder, int runs, double seconds) {
    using std::chrono::nanoseconds;
    const Feed feeds[] = {
        {"one 10-byte record a second", 10, 10, std::chrono::seconds(1), std::max(seconds, 10.0)},
        {"960 bytes/s, one 10-byte record per write", 10, 10, nanoseconds(10416667), seconds},
        {"1 MB/s, 32-byte records in 1 KiB writes", 32, 1024, nanoseconds(1024000), seconds},
    };
    const Feed& costed = feeds[1]; // the CPU with and without syncs
    for (const auto& feed : feeds) {
        std::vector<double> perSecond, with, without;
        for (int run = 0; run < runs; ++run) {
            std::vector<std::unique_ptr<Contender>> contenders;
            contenders.push_back(std::make_unique<Contender>(Program, freshFile(folder, "sync")));
            contenders.push_back(std::make_unique<Contender>(Program, freshFile(folder, "nosync"),
                                                             true, QString(), true));
            const std::vector<Cost> cost =
                steadyCost(contenders, feed.size, feed.bytesPerWrite, feed.period, feed.seconds);
            // Counted once the last sync, a second after the last record, is done.
            std::this_thread::sleep_for(std::chrono::milliseconds(1200));
            contenders[0]->program->send("syncs");
            const QString said = contenders[0]->program->waitFor("syncs: ");
            perSecond.push_back(std::isnan(cost[0].cpu) || said.isNull()
                                    ? kNaN
                                    : said.section(' ', 1).toDouble() / feed.seconds);
            with.push_back(cost[0].cpu);
            without.push_back(cost[1].cpu);
        }
        row(QStringLiteral("syncs a second, %1 (%2 s)").arg(feed.measure).arg(feed.seconds),
            {spread(perSecond, 2), "", "", ""}, "1 a second at most, and 1 after the last record");
        if (&feed == &costed) {
            row(QStringLiteral("CPU, %1, syncing").arg(feed.measure),
                {spread(with, 2, " %"), "", "", ""}, "");
            row(QStringLiteral("  the same run, the program without syncs"),
                {spread(without, 2, " %"), "", "", ""}, "");
        }
    }
}

// Watches an X display for its first top-level window to be mapped.
class MapWatch {
public:
    explicit MapWatch(const QString& display) {
        int screenNumber = 0;
        connection_ = xcb_connect(display.toLocal8Bit().constData(), &screenNumber);
        if (xcb_connection_has_error(connection_))
            return;
        xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(connection_));
        for (int i = 0; i < screenNumber; ++i)
            xcb_screen_next(&screen);
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_request_check(connection_,
                          xcb_change_window_attributes_checked(connection_, screen.data->root,
                                                               XCB_CW_EVENT_MASK, &mask));
        ok_ = true;
    }
    ~MapWatch() { xcb_disconnect(connection_); }
    // Whether a window other than a menu or tooltip has been mapped since.
    bool mapped() {
        while (ok_ && !mapped_) {
            xcb_generic_event_t* event = xcb_poll_for_event(connection_);
            if (!event)
                break;
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                !reinterpret_cast<xcb_map_notify_event_t*>(event)->override_redirect)
                mapped_ = true;
            std::free(event);
        }
        return mapped_;
    }
    bool ok() const { return ok_; }

private:
    xcb_connection_t* connection_ = nullptr;
    bool ok_ = false;
    bool mapped_ = false;
};

// Seconds from exec to the window shown and to the first record in the file,
// the program (Start pressed as soon as it takes commands) or PuTTY on the
// benchmark's display, while the line carries a 10-byte record every 5 ms.
std::pair<double, double> startup(const QString& folder, Kind kind) {
    MapWatch watch(gDisplay->name());
    if (!watch.ok())
        return {kNaN, kNaN};
    const QString file = freshFile(folder, "startup");
    const Clock::time_point start = Clock::now();
    Contender contender(kind, file, false, gDisplay->name());
    if (!contender.ok)
        return {kNaN, kNaN};
    if (kind == Program) {
        contender.program->send("type Text2 " + file);
        contender.program->send("click Command1");
    }
    std::atomic<bool> done = false;
    std::thread instrument([&] {
        const QByteArray stream = records(10, 100000);
        for (qsizetype at = 0; !done && at < stream.size(); at += 10) {
            contender.line.send(stream.mid(at, 10));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    double shown = kNaN, recorded = kNaN;
    const QByteArray end = kind == Program ? "\r\n" : "\r";
    while (secondsSince(start) < 30 && (std::isnan(shown) || std::isnan(recorded))) {
        if (std::isnan(shown) && watch.mapped())
            shown = secondsSince(start);
        if (std::isnan(recorded) && contender.received() > 0 && contender.content().contains(end))
            recorded = secondsSince(start);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    done = true;
    instrument.join();
    return {shown * 1000, recorded * 1000};
}

void startupRows(const QString& folder, int runs) {
    std::vector<std::vector<double>> shown(kKinds), recorded(kKinds);
    for (int run = 0; run < runs; ++run)
        for (const Kind kind : {Program, Putty}) {
            const auto [window, record] = startup(folder, kind);
            shown[kind].push_back(window);
            recorded[kind].push_back(record);
        }
    const auto columns = [](const std::vector<std::vector<double>>& ms) {
        return QStringList{spread(ms[Program], 0, " ms"), "", spread(ms[Putty], 0, " ms"), ""};
    };
    row("start-up, exec to the window shown", columns(shown), "");
    row("start-up, exec to the first record in the file", columns(recorded), "");
}

// Input bytes per second, in MB/s, of a contender taking `stream` as fast as its
// line does, checked byte for byte (NaN if not); `peak` gets its peak memory.
// `noSync`: the program never syncs its file while capturing.
double flood(const QString& folder, Kind kind, const QByteArray& stream, double* peak,
             bool noSync = false) {
    const QString file = freshFile(folder, "flood");
    // Removed once the contender has ended: the program, asked to exit, fails
    // on a file deleted under it and waits for its message to be dismissed.
    const auto removed = qScopeGuard([&] { QFile::remove(file); });
    Contender contender(kind, file, true, QString(), noSync);
    if (!contender.ok || !contender.waitUntilListening())
        return kNaN;
    const QByteArray wanted = contender.expected(stream);
    const Clock::time_point start = Clock::now();
    std::thread instrument([&] {
        for (qsizetype at = 0; at < stream.size(); at += 65536)
            contender.line.send(stream.mid(at, 65536));
    });
    while (contender.received() < wanted.size() && secondsSince(start) < 300)
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    const double seconds = secondsSince(start);
    instrument.join();
    *peak = peakMiB(contender.pid());
    const bool exact = contender.content() == wanted;
    return exact ? double(stream.size()) / 1e6 / seconds : kNaN;
}

void floodRows(const QString& folder, int runs, int megabytes, bool withPutty = true) {
    std::vector<std::vector<double>> peaks(kKinds);
    for (const qsizetype size : {1, 8, 32, 256, 4096}) {
        const QByteArray stream = records(size, megabytes * qsizetype(1000000) / size);
        std::vector<std::vector<double>> rate(kKinds);
        std::vector<double> share;
        for (int run = 0; run < runs; ++run) {
            for (int kind = 0; kind < kKinds; ++kind) {
                if (kind == Putty && !withPutty)
                    continue;
                double peak = kNaN;
                rate[size_t(kind)].push_back(flood(folder, Kind(kind), stream, &peak));
                peaks[size_t(kind)].push_back(peak);
            }
            share.push_back(100.0 * rate[Program].back() / rate[Cat].back());
        }
        QStringList columns;
        for (int kind = 0; kind < kKinds; ++kind)
            columns +=
                kind == Putty && !withPutty ? QString() : spread(rate[size_t(kind)], 1, " MB/s");
        row(QStringLiteral("flood, %1-byte records (%2 MB)").arg(size).arg(megabytes), columns,
            verdict(">= 80 % of cat", share, 80, false, 0, " %"));
    }
    if (!withPutty)
        return;
    QStringList columns;
    for (int kind = 0; kind < kKinds; ++kind)
        columns += spread(peaks[size_t(kind)], 1, " MiB");
    row("peak resident memory, floods", columns, "");
}

// The program as users run it, syncing its file, beside the same program without
// syncs, each alone on its line, taking floods long enough (hundreds of
// megabytes) that the syncs of a second apart weigh as they would.
void floodSyncRows(const QString& folder, int runs, int megabytes) {
    for (const qsizetype size : {1, 8, 32, 256, 4096}) {
        const QByteArray stream = records(size, megabytes * qsizetype(1000000) / size);
        std::vector<double> with, without, share;
        double peak = kNaN;
        for (int run = 0; run < runs; ++run) {
            with.push_back(flood(folder, Program, stream, &peak));
            without.push_back(flood(folder, Program, stream, &peak, true));
            share.push_back(100.0 * with.back() / without.back());
        }
        row(QStringLiteral("flood, %1-byte records (%2 MB), syncing").arg(size).arg(megabytes),
            {spread(with, 1, " MB/s"), "", "", ""},
            verdict(">= 95 % of without syncs", share, 95, false, 0, " %"));
        row(QStringLiteral("  the same runs, the program without syncs"),
            {spread(without, 1, " MB/s"), "", "", ""}, "");
    }
}

// Milliseconds from writing a record's CR at the line to the contender's file
// changing (inotify on its folder: PuTTY creates its log with the first data),
// for 1,000 records at random intervals: p50 and p99.
std::pair<double, double> latency(const QString& folder, Kind kind, unsigned seed) {
    const QString own = freshFile(folder, "latency");
    QDir().mkpath(own);
    Contender contender(kind, own + "/file.txt");
    if (!contender.ok || !contender.waitUntilListening())
        return {kNaN, kNaN};
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    inotify_add_watch(watch, QFile::encodeName(own).constData(), IN_MODIFY);

    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pause(200, 3000); // microseconds
    std::vector<double> ms;
    char events[4096];
    for (int n = 0; n < 1000; ++n) {
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        while (::read(watch, events, sizeof events) > 0) {
        }
        const Clock::time_point sent = Clock::now();
        contender.line.send(QByteArray::number(n).rightJustified(6, '0') + " 12.5 mg\r");
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
    std::vector<std::vector<double>> p50(kKinds), p99(kKinds);
    for (int run = 0; run < runs; ++run)
        for (int kind = 0; kind < kKinds; ++kind) {
            const auto [median, high] = latency(folder, Kind(kind), unsigned(3 + run));
            p50[size_t(kind)].push_back(median);
            p99[size_t(kind)].push_back(high);
        }
    QStringList median, high;
    for (int kind = 0; kind < kKinds; ++kind) {
        median += spread(p50[size_t(kind)], 3, " ms");
        high += spread(p99[size_t(kind)], 3, " ms");
    }
    row("latency, CR at the line to line in file: p50", median, "");
    row("latency, CR at the line to line in file: p99", high,
        verdict("p99 <= 30 ms", p99[Program], 30, true, 3, " ms"));
}

// A drive whose flush to disk takes `seconds`: the folder `backing` passed
// through FUSE by slow_drive.py at `mount`, unmounted at the end.
class SlowDrive {
public:
    SlowDrive(const QString& backing, const QString& mount, double seconds)
        : mount_(mount) {
        QDir().mkpath(backing);
        QDir().mkpath(mount);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("SLOW", QString::number(seconds));
        daemon_.setProcessEnvironment(environment);
        daemon_.setProcessChannelMode(QProcess::ForwardedChannels);
        daemon_.start("/usr/bin/python3", {TALVERN_SLOW_DRIVE, backing, mount});
        const Clock::time_point start = Clock::now();
        while (!mounted() && daemon_.state() != QProcess::NotRunning && secondsSince(start) < 10)
            daemon_.waitForFinished(20);
    }
    ~SlowDrive() {
        QProcess::execute("fusermount3", {"-u", mount_});
        if (!daemon_.waitForFinished(5000)) {
            daemon_.kill();
            daemon_.waitForFinished();
        }
    }
    bool mounted() const {
        QFile mounts("/proc/self/mounts");
        return mounts.open(QIODevice::ReadOnly) &&
               mounts.readAll().contains(" " + QFile::encodeName(mount_) + " fuse");
    }

private:
    QString mount_;
    QProcess daemon_;
};

// The longest time, in seconds, that bytes waited unread at each line: the
// line's terminal side opened beside the program that reads it (never read
// from here) and its input queue looked at every millisecond, on a thread of
// its own. Opened once the program has the line, which it must hold alone at
// Start.
class UnreadWatch {
public:
    explicit UnreadWatch(const QStringList& lines)
        : longest_(size_t(lines.size()), 0) {
        for (const QString& line : lines)
            lines_.push_back(::open(QFile::encodeName(line).constData(),
                                    O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        watcher_ = std::thread([this] { watch(); });
    }
    ~UnreadWatch() {
        stop();
        for (const int line : lines_)
            ::close(line);
    }
    // Stops looking; the longest waits, NaN for a line that could not be opened.
    std::vector<double> stop() {
        done_ = true;
        if (watcher_.joinable())
            watcher_.join();
        std::vector<double> longest = longest_;
        for (size_t i = 0; i < lines_.size(); ++i)
            if (lines_[i] < 0)
                longest[i] = kNaN;
        return longest;
    }

private:
    void watch() {
        std::vector<std::optional<Clock::time_point>> since(lines_.size());
        while (!done_) {
            const Clock::time_point now = Clock::now();
            for (size_t i = 0; i < lines_.size(); ++i) {
                int queued = 0;
                if (::ioctl(lines_[i], FIONREAD, &queued) != 0 || queued == 0) {
                    since[i].reset();
                    continue;
                }
                if (!since[i])
                    since[i] = now;
                longest_[i] =
                    std::max(longest_[i], std::chrono::duration<double>(now - *since[i]).count());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    std::vector<int> lines_;
    std::vector<double> longest_;
    std::atomic<bool> done_ = false;
    std::thread watcher_;
};

// The longest the port went unread and the longest the window took to answer
// (a status query, every 50 ms), in seconds, of the program syncing and of the
// same program without syncs, side by side, capturing into `folder` at 96
// records a second (a 10-byte record per write) for `seconds`, and on until
// `busy` says the drive is no longer kept busy. NaN for a program whose file
// did not end up holding every record. Beside them, the longest flush of a
// small file of the benchmark's own on the same drive, synced every 20 ms:
// what the window would have waited had it synced itself.
struct Stalls {
    double unread[2] = {kNaN, kNaN};
    double answer[2] = {kNaN, kNaN};
    double flush = kNaN;
};
Stalls slowDriveRun(const QString& folder, double seconds, const std::function<bool()>& busy) {
    Stalls stalls;
    std::vector<std::unique_ptr<Contender>> programs;
    programs.push_back(std::make_unique<Contender>(Program, freshFile(folder, "slow")));
    programs.push_back(
        std::make_unique<Contender>(Program, freshFile(folder, "slow"), true, QString(), true));
    if (!programs[0]->ok || !programs[1]->ok)
        return stalls;
    UnreadWatch watch({programs[0]->line.slavePath(), programs[1]->line.slavePath()});
    const QByteArray stream = records(10, 1000000);
    std::atomic<bool> done = false;
    std::atomic<qsizetype> sent = 0;
    std::thread instrument([&] {
        const Clock::time_point start = Clock::now();
        const auto period = std::chrono::nanoseconds(10416667);
        for (qsizetype n = 0; !done && (n + 1) * 10 <= stream.size(); ++n) {
            std::this_thread::sleep_until(start + n * period);
            for (const auto& program : programs)
                program->line.send(stream.mid(n * 10, 10));
            sent = (n + 1) * 10;
        }
    });
    std::atomic<double> flush = 0;
    std::thread probe([&] {
        const int file = ::open(QFile::encodeName(folder + "/probe").constData(),
                                O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        while (!done && file >= 0) {
            const Clock::time_point asked = Clock::now();
            if (::write(file, "0123456789\r\n", 12) != 12 || ::fdatasync(file) != 0)
                flush = kNaN;
            flush = std::max(flush.load(), secondsSince(asked));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::close(file);
    });
    double answer[2] = {0, 0};
    const Clock::time_point start = Clock::now();
    while ((busy && busy()) || secondsSince(start) < seconds) {
        for (size_t i = 0; i < programs.size(); ++i) {
            const Clock::time_point asked = Clock::now();
            programs[i]->program->send("status");
            if (programs[i]->program->waitFor("status: ", 30000).isNull())
                answer[i] = kNaN;
            answer[i] = std::max(answer[i], secondsSince(asked));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    done = true;
    instrument.join();
    probe.join();
    stalls.flush = flush;
    const std::vector<double> unread = watch.stop();
    for (size_t i = 0; i < programs.size(); ++i) {
        const bool whole = programs[i]->holds(stream.left(sent), 60);
        stalls.unread[i] = whole ? unread[i] : kNaN;
        stalls.answer[i] = whole ? answer[i] : kNaN;
    }
    return stalls;
}

// The program on drives slow to flush, beside the same program without syncs:
// a drive whose flush takes 3 s (FUSE), and the local drive while another
// program writes 1.5 GB to it.
void slowDriveRows(const QString& folder, int runs, double seconds) {
    const auto rows = [](const QString& drive, const std::vector<Stalls>& all) {
        std::vector<double> unread[2], answer[2], flush;
        for (const Stalls& stalls : all) {
            flush.push_back(stalls.flush);
            for (int i = 0; i < 2; ++i) {
                unread[i].push_back(stalls.unread[i]);
                answer[i].push_back(stalls.answer[i]);
            }
        }
        row(QStringLiteral("%1: longest flush of a small file").arg(drive),
            {spread(flush, 2, " s"), "", "", ""}, "");
        row(QStringLiteral("%1: longest the port went unread").arg(drive),
            {spread(unread[0], 2, " s"), "", "", ""},
            verdict("<= 0.5 s", unread[0], 0.5, true, 2, " s"));
        row(QStringLiteral("  the same runs, the program without syncs"),
            {spread(unread[1], 2, " s"), "", "", ""}, "");
        row(QStringLiteral("%1: longest wait for the window").arg(drive),
            {spread(answer[0], 2, " s"), "", "", ""},
            verdict("<= 0.5 s", answer[0], 0.5, true, 2, " s"));
        row(QStringLiteral("  the same runs, the program without syncs"),
            {spread(answer[1], 2, " s"), "", "", ""}, "");
    };

    std::vector<Stalls> slow;
    {
        const SlowDrive drive(folder + "/backing", folder + "/slow", 3);
        if (drive.mounted())
            for (int run = 0; run < runs; ++run)
                slow.push_back(slowDriveRun(folder + "/slow", std::max(seconds, 10.0), {}));
        else
            slow.push_back({});
    }
    rows("drive whose flush takes 3 s", slow);

    // The local drive, busy: the capture files beside a 1.5 GB file that
    // another program writes and flushes, from the start of the feed until
    // it is done.
    std::vector<Stalls> busy;
    const QString load = folder + "/load";
    for (int run = 0; run < runs; ++run) {
        QProcess writer;
        writer.setStandardErrorFile(QProcess::nullDevice());
        bool started = false;
        busy.push_back(slowDriveRun(folder, std::max(seconds, 10.0), [&] {
            if (!std::exchange(started, true))
                writer.start("dd", {"if=/dev/zero", "of=" + load, "bs=1M", "count=1500",
                                    "conv=fsync", "status=none"});
            return writer.state() != QProcess::NotRunning && !writer.waitForFinished(1);
        }));
        QFile::remove(load);
    }
    rows("local drive, 1.5 GB written beside it", busy);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    const double seconds = argc > 2 ? std::max(1, atoi(argv[2])) : 10;
    const int megabytes = argc > 3 ? std::max(1, atoi(argv[3])) : 20;
    const QByteArray only = argc > 4 ? QByteArray(argv[4]) : QByteArray();
    XDisplay display;
    if (display.name().isEmpty()) {
        std::fprintf(stderr, "bench_e2e: Xvfb did not start\n");
        return 1;
    }
    gDisplay = &display;
    QTemporaryDir dir;
    if (only.isEmpty() || only == "header") {
        row("measure", QStringList(std::begin(kColumns), std::end(kColumns)), "target");
        std::printf("|%s|", qPrintable(QString(54, '-')));
        for (int kind = 0; kind < kKinds; ++kind)
            std::printf("%s|", qPrintable(QString(26, '-')));
        std::printf("%s|\n", qPrintable(QString(8, '-')));
    }
    if (only.isEmpty() || only == "steady")
        steadyRows(dir.path(), runs, seconds);
    if (only.isEmpty() || only == "startup")
        startupRows(dir.path(), runs);
    if (only.isEmpty() || only == "flood")
        floodRows(dir.path(), runs, megabytes);
    // Floods long enough to weigh against `cat`, without PuTTY, which would
    // take minutes for each.
    if (only == "floodcat")
        floodRows(dir.path(), runs, megabytes, false);
    if (only.isEmpty() || only == "latency")
        latencyRows(dir.path(), runs);
    if (only.isEmpty() || only == "floodsync")
        floodSyncRows(dir.path(), runs, megabytes);
    if (only.isEmpty() || only == "slowdrive") {
        // On the local drive, not in memory: the program's syncs must meet a disk.
        QTemporaryDir onDisk("/var/tmp/talvern-bench-XXXXXX");
        slowDriveRows(onDisk.path(), runs, seconds);
    }
    if (only.isEmpty() || only == "sync")
        syncRows(dir.path(), runs, seconds);
    return 0;
}

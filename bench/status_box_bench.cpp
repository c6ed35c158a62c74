// What one change of the status box costs the window: the text set, the box
// laid out, repainted and flushed (headless). Back to back, with warm caches;
// one every 20 ms as at a steady rate, the process asleep in between; and for
// a record of 4,095 characters. CPU time per change, median of three runs with
// the lowest and highest, as Markdown table rows.
//
//   bench_status_box [changes] [case: 0, 1 or 2; all when left out]
#include "program.h"

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

QString record(int n, int length) {
    return QString::number(n).rightJustified(9, u'0').leftJustified(length, u'.');
}

// Microseconds of CPU per change: `changes` texts of `length` characters, each
// shown and painted before the next; `gapMs` apart on the event loop, or back
// to back when 0.
double perChange(talvern::Form1& form, int changes, int length, int gapMs) {
    int n = 0;
    const auto change = [&] {
        form.setStatusText(record(++n, length));
        // Shown at once: the box has been still for the repaint bound.
        QApplication::processEvents();
    };
    // Once untimed, so the first layout of this length is not counted.
    change();
    QApplication::processEvents();
    const double before = cpuSeconds();
    if (gapMs == 0) {
        for (int i = 0; i < changes; ++i) {
            form.Text3->setText(record(++n, length));
            QApplication::processEvents();
        }
    } else {
        QEventLoop loop;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.callOnTimeout([&] {
            change();
            if (n > changes)
                loop.quit();
        });
        tick.start(gapMs);
        loop.exec();
    }
    return (cpuSeconds() - before) * 1e6 / changes;
}

void row(const char* measure, std::vector<double> runs) {
    std::sort(runs.begin(), runs.end());
    const QString value = QStringLiteral("%1 us (%2-%3)")
                              .arg(runs[runs.size() / 2], 0, 'f', 0)
                              .arg(runs.front(), 0, 'f', 0)
                              .arg(runs.back(), 0, 'f', 0);
    std::printf("| %-54s | %-28s | %-26s | %-18s |\n", measure, qPrintable(value), "", "");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int changes = argc > 1 ? std::max(10, atoi(argv[1])) : 200;

    talvern::UploadSettings settings;
    talvern::PlatformParts parts;
    parts.devices = [] {
        return QStringList();
    };
    talvern::Program program(settings, std::move(parts));
    program.form.show();
    QApplication::processEvents();

    struct Case {
        const char* measure;
        int length;
        int gapMs;
    };
    const Case cases[] = {
        {"status box change, 9 characters, back to back", 9, 0},
        {"status box change, 9 characters, one per 20 ms", 9, 20},
        {"status box change, 4095 characters, back to back", 4095, 0},
    };
    const int only = argc > 2 ? atoi(argv[2]) : -1;
    int index = -1;
    for (const Case& c : cases) {
        if (++index != only && only >= 0)
            continue;
        std::vector<double> runs;
        for (int run = 0; run < 3; ++run)
            runs.push_back(perChange(program.form, c.length > 1000 ? changes / 10 : changes,
                                     c.length, c.gapMs));
        row(c.measure, runs);
    }
    return 0;
}

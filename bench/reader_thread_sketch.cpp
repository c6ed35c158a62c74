// A sketch of the capture with its reader on a thread of its own, to weigh
// that design against the one the program has: a thread blocks in `read` on
// the line as `cat` does, frames the records and writes them to the capture
// file with the program's own framer and file; the window thread only shows
// the newest record in the program's real window, under the same bound (the
// box changes at most once per 15 ms and shows a record at most 15 ms after it
// came). Nothing else of the program is here: no Abort, Exit or failure path.
// With `painted`, the record is drawn by a plain widget laid over the box
// instead: a white fill and one drawText, the least a box painted by Qt costs.
// bench_e2e runs it beside the program, `cat` and the bare one-thread reader.
//
//   bench_reader_thread_sketch DEVICE FILE [painted]   (ends when killed)
#include "form1.h"
#include "record_framer.h"
#include "system_capture_file.h"
#include "upload_settings.h"

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kBound = std::chrono::milliseconds(15);

// What the reader and the window thread share. The window thread is told of a
// record when it knows of none waiting, and once more when a record comes after
// the bound has passed, so that it shows at once; else it is not woken.
struct Newest {
    std::mutex lock;
    QByteArray record;
    Clock::time_point shownAt; // when the box last changed
    bool shownOnce = false;
    bool waiting = false;  // a record not shown yet
    bool told = false;     // the window thread knows of a record not shown
    bool toldLate = false; // ...and of one that came after the bound
};

// A box that only fills itself and draws its text.
class PaintedBox : public QWidget {
public:
    explicit PaintedBox(QWidget* parent)
        : QWidget(parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    void setText(const QString& text) {
        text_ = text;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        painter.drawText(rect().adjusted(4, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft, text_);
    }

private:
    QString text_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3 && !(argc == 4 && std::strcmp(argv[3], "painted") == 0)) {
        std::fprintf(stderr, "usage: %s DEVICE FILE [painted]\n", argv[0]);
        return 2;
    }
    const int line = ::open(argv[1], O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line < 0) {
        std::fprintf(stderr, "%s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    talvern::SystemCaptureFile file;
    try {
        file.open(QString::fromLocal8Bit(argv[2]));
        file.empty();
    } catch (const talvern::CaptureError& error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.message()));
        return 1;
    }

    talvern::UploadSettings settings;
    talvern::Form1 window(settings);
    window.show();
    QLineEdit* box = window.Text3;
    PaintedBox* painted = nullptr;
    if (argc == 4) {
        painted = new PaintedBox(&window);
        painted->setFont(box->font());
        painted->setGeometry(box->geometry());
        box->hide();
    }

    Newest newest;
    QTimer later;
    later.setSingleShot(true);
    later.setTimerType(Qt::PreciseTimer);
    later.setInterval(int(kBound.count()));
    // On the window thread, the program's rule: a record shows at once if the
    // box has been still for the bound; else 15 ms after it came, unless a newer
    // one comes after the bound and shows first.
    const auto show = [&] {
        std::unique_lock<std::mutex> hold(newest.lock);
        if (!newest.waiting)
            return;
        const Clock::time_point now = Clock::now();
        if (newest.shownOnce && now - newest.shownAt < kBound) {
            if (!later.isActive())
                later.start();
            return;
        }
        const QString text = QString::fromLatin1(newest.record);
        newest.shownAt = now;
        newest.shownOnce = true;
        newest.told = newest.toldLate = newest.waiting = false;
        later.stop();
        hold.unlock();
        if (painted)
            painted->setText(text);
        else
            box->setText(text);
    };
    QObject::connect(&later, &QTimer::timeout, box, show);

    std::thread reader([&] {
        talvern::RecordFramer framer;
        char buffer[65536];
        for (;;) {
            const ssize_t got = ::read(line, buffer, sizeof buffer);
            if (got <= 0) {
                if (got < 0 && errno == EINTR)
                    continue;
                std::_Exit(1);
            }
            const talvern::RecordFramer::Completed done = framer.take({buffer, got});
            if (done.records == 0)
                continue;
            try {
                file.write(done.lines);
            } catch (const talvern::CaptureError& error) {
                std::fprintf(stderr, "%s\n", qPrintable(error.message()));
                std::_Exit(1);
            }
            const std::lock_guard<std::mutex> hold(newest.lock);
            newest.record = done.lastRecord;
            newest.waiting = true;
            const bool late = newest.shownOnce && Clock::now() - newest.shownAt >= kBound;
            if (newest.told && (!late || newest.toldLate))
                continue;
            (newest.told ? newest.toldLate : newest.told) = true;
            QMetaObject::invokeMethod(box, show, Qt::QueuedConnection);
        }
    });
    reader.detach();
    return app.exec();
}

// The least a program pays that waits for its line in Qt's event loop on the
// window thread, as the capture does: a QApplication on the same platform, the
// line opened through QSerialPort, and every read written straight to a file,
// from the same loop of single waiting passes. No window, no framing, no file
// checks, no status box. bench_e2e runs it beside the program and `cat`, so that
// the table shows what the one-thread design costs before the program adds
// anything of its own.
//
//   bench_one_thread_floor DEVICE FILE   (ends when killed)
#include <QApplication>
#include <QSerialPort>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DEVICE FILE\n", argv[0]);
        return 2;
    }
    const int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        std::fprintf(stderr, "%s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(port.errorString()));
        return 1;
    }
    QObject::connect(&port, &QSerialPort::readyRead, [&] {
        const QByteArray bytes = port.readAll();
        if (::write(out, bytes.constData(), size_t(bytes.size())) != bytes.size()) {
            std::perror(argv[2]);
            std::_Exit(1);
        }
    });
    for (;;)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

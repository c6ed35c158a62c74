#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

// The whole file, or "<missing>" when it cannot be read.
inline QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Waits until the file holds at least `size` bytes; false after `ms`.
inline bool waitForSize(const QString& path, qint64 size, int ms = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (QFileInfo(path).size() < size) {
        if (timer.elapsed() > ms)
            return false;
        QThread::usleep(200);
    }
    return true;
}

#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

// For as long as it lives, HOME is `home` and the current folder is `current`;
// both are put back afterwards, even when a check stops the test early.
class MovedHome {
public:
    MovedHome(const QString& home, const QString& current)
        : oldHome_(qgetenv("HOME"))
        , oldCurrent_(QDir::currentPath()) {
        QDir().mkpath(home);
        qputenv("HOME", QFile::encodeName(home));
        QDir::setCurrent(current);
    }
    ~MovedHome() {
        QDir::setCurrent(oldCurrent_);
        qputenv("HOME", oldHome_);
    }
    MovedHome(const MovedHome&) = delete;
    MovedHome& operator=(const MovedHome&) = delete;

private:
    QByteArray oldHome_;
    QString oldCurrent_;
};

#include "status_texts.h"

#include <QLocale>
#include <QStringList>

namespace talvern {

namespace {

QString counted(qint64 count, const char* unit) {
    return QStringLiteral("%1 %2%3").arg(count).arg(QLatin1StringView(unit),
                                                    count == 1 ? QString() : QStringLiteral("s"));
}

} // namespace

QString recordText(QByteArrayView record) {
    constexpr qsizetype kShown = 256;
    if (record.size() <= kShown)
        return QString::fromLatin1(record);
    return QString::fromLatin1(record.first(kShown)) +
           QStringLiteral("\u2026 (%1 bytes)").arg(QLocale().toString(qint64(record.size())));
}

QString durationText(qint64 ms) {
    if (ms < 1000)
        return QStringLiteral("less than a second");
    const qint64 seconds = std::max<qint64>(ms, 0) / 1000;
    const qint64 parts[] = {seconds / 3600, seconds / 60 % 60, seconds % 60};
    const char* const units[] = {"hour", "minute", "second"};
    QStringList said;
    for (int i = 0; i < 3 && said.size() < 2; ++i)
        if (parts[i] > 0 || (!said.isEmpty()) || i == 2)
            said << counted(parts[i], units[i]);
    // "1 hour 0 minutes" says no more than "1 hour".
    if (said.size() == 2 && said.last().startsWith(QLatin1String("0 ")))
        said.removeLast();
    return said.join(QLatin1Char(' '));
}

} // namespace talvern

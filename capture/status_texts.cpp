#include "status_texts.h"

#include <QLocale>

#include <algorithm>
#include <iterator>

namespace talvern {

QString counted(quint64 count, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1StringView(count == 1 ? one : many));
}

QString recordText(QByteArrayView record) {
    constexpr qsizetype kShown = 256;
    if (record.size() <= kShown)
        return QString::fromLatin1(record);
    return QString::fromLatin1(record.first(kShown)) +
           QStringLiteral("\u2026 (%1 bytes)").arg(QLocale().toString(qint64(record.size())));
}

QString durationText(qint64 ms) {
    struct Unit {
        quint64 seconds;
        const char* one;
        const char* many;
    };
    static constexpr Unit units[] = {
        {3600, "hour", "hours"}, {60, "minute", "minutes"}, {1, "second", "seconds"}};
    const auto seconds = quint64(std::max<qint64>(ms, 0) / 1000);
    for (std::size_t i = 0; i < std::size(units); ++i) {
        const Unit& unit = units[i];
        if (seconds < unit.seconds)
            continue;
        QString text = counted(seconds / unit.seconds, unit.one, unit.many);
        // The next unit too, unless there is none of it.
        if (i + 1 < std::size(units))
            if (const Unit& next = units[i + 1]; seconds % unit.seconds >= next.seconds)
                text += QLatin1Char(' ') +
                        counted(seconds % unit.seconds / next.seconds, next.one, next.many);
        return text;
    }
    return QStringLiteral("less than a second");
}

} // namespace talvern

#include "line_error_notice.h"

#include "capture_view.h"
#include "status_texts.h"

#include <QStringList>

#include <utility>

namespace talvern {

namespace {

// The least time between two looks at the counts: a rise shows within a
// second, and a busy line costs a few calls a second.
constexpr int kLookGapMs = 250;

// How long a notice stays in the status box before a record may replace it:
// long enough to read, at any rate of records.
constexpr int kHoldMs = 3000;

// The members that count, for going through them all alike.
constexpr quint64 LineErrors::*kCounts[] = {&LineErrors::framing, &LineErrors::parity,
                                            &LineErrors::overrun, &LineErrors::bufferOverrun,
                                            &LineErrors::breaks};

bool same(const LineErrors& a, const LineErrors& b) {
    for (const auto count : kCounts)
        if (a.*count != b.*count)
            return false;
    return true;
}

} // namespace

LineErrorNotice::LineErrorNotice(SerialPort& port, CaptureView& view, std::unique_ptr<Alarm> alarm,
                                 Clock clock)
    : port_(port)
    , view_(view)
    , alarm_(std::move(alarm))
    , clock_(std::move(clock)) {}

void LineErrorNotice::start() {
    last_ = port_.lineErrors();
    since_ = told_ = LineErrors{};
    toldAt_ = -1;
    watching_ = last_.counted;
    lastLook_ = clock_();
}

void LineErrorNotice::bytesArrived() {
    if (!watching_ || alarm_->isSet())
        return;
    const qint64 since = clock_() - lastLook_;
    if (since >= kLookGapMs)
        return look();
    alarm_->set(int(kLookGapMs - since), [this] { look(); });
}

void LineErrorNotice::showRecord(const QString& record) {
    if (toldAt_ < 0 || clock_() - toldAt_ >= kHoldMs)
        view_.setStatusText(record);
}

QString LineErrorNotice::finish() {
    if (!watching_)
        return {};
    look();
    stop();
    return notice();
}

void LineErrorNotice::stop() {
    watching_ = false;
    alarm_->cancel();
}

void LineErrorNotice::look() {
    lastLook_ = clock_();
    const LineErrors now = port_.lineErrors();
    if (!now.counted)
        return; // the port went away: its failure comes with the next read
    // A count that went back (it wrapped, or the adapter was plugged in again)
    // is a new base: what it counted meanwhile cannot be known.
    for (const auto count : kCounts)
        if (now.*count >= last_.*count)
            since_.*count += now.*count - last_.*count;
    last_ = now;
    if (same(since_, told_))
        return;
    told_ = since_;
    toldAt_ = clock_();
    view_.setStatusText(notice());
}

QString LineErrorNotice::notice() const {
    QStringList kinds;
    if (since_.framing > 0)
        kinds << QStringLiteral("%1 framing").arg(since_.framing);
    if (since_.parity > 0)
        kinds << QStringLiteral("%1 parity").arg(since_.parity);
    if (since_.breaks > 0)
        kinds << counted(since_.breaks, "break", "breaks");
    QStringList parts;
    if (!kinds.isEmpty()) {
        // Broken characters come from line settings that differ from the
        // capture's own; breaks from a line held low (cable, power).
        const bool broken = since_.framing + since_.parity > 0;
        const QString hint = broken ? QStringLiteral("check that the instrument sends 9600 baud, "
                                                     "8 data bits, no parity, 1 stop bit")
                                    : QString();
        const QString cable = since_.breaks == 0 ? QString()
                              : broken           ? QStringLiteral(", and the cable")
                                                 : QStringLiteral("check the cable and that the "
                                                                            "instrument is on");
        parts << QStringLiteral("Line errors since Start: %1 — %2%3")
                     .arg(kinds.join(QStringLiteral(", ")), hint, cable);
    }
    if (const QString lost = lostBytes(); !lost.isEmpty())
        parts << lost;
    return parts.join(QStringLiteral("; "));
}

QString LineErrorNotice::lostBytes() const {
    const quint64 overruns = since_.overrun + since_.bufferOverrun;
    if (overruns == 0)
        return {};
    return counted(overruns, "overrun", "overruns") +
           QStringLiteral(": bytes were lost before the program could read them");
}

} // namespace talvern

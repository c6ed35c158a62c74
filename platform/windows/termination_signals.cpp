#include "termination_signals.h"

#include <windows.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include <csignal>

namespace talvern {

class TerminationSignals::SessionFilter final : public QAbstractNativeEventFilter {
public:
    explicit SessionFilter(TerminationSignals& owner)
        : owner_(owner) {}

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override {
        if (eventType != "windows_generic_MSG")
            return false;
        const MSG* msg = static_cast<const MSG*>(message);
        // Every top-level window hears of the end; the program ends once. A
        // session that goes on after all (wParam FALSE) changes nothing.
        if (msg->message != WM_ENDSESSION || msg->wParam == FALSE || ended_)
            return false;
        ended_ = true;
        emit owner_.received(SIGTERM);
        // Handled here: the program has already closed everything and asked
        // its event loop to end with its own status.
        if (result)
            *result = 0;
        return true;
    }

private:
    TerminationSignals& owner_;
    bool ended_ = false;
};

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
    , filter_(std::make_unique<SessionFilter>(*this)) {
    QCoreApplication::instance()->installNativeEventFilter(filter_.get());
}

TerminationSignals::~TerminationSignals() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(filter_.get());
}

} // namespace talvern

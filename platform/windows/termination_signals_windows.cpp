#include "termination_signals.h"

#include <windows.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include <csignal>

namespace talvern {

// The end of the session comes as a message to the program's windows.
class TerminationSignals::Catcher final : public QAbstractNativeEventFilter {
public:
    explicit Catcher(TerminationSignals& owner)
        : owner_(owner) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~Catcher() override {
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }

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
    , catcher_(std::make_unique<Catcher>(*this)) {}

TerminationSignals::~TerminationSignals() = default;

} // namespace talvern

#include "termination_signals.h"

#include "owned_handle.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace talvern {

namespace {

int signalPipe = -1; // the pipe's writing end, for the handler
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Runs in signal context: only passes the number on through the pipe.
void onSignal(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe, &number, 1);
    errno = savedErrno;
}

} // namespace

// The signals' handler writes each number to a pipe; the event loop reads it.
class TerminationSignals::Catcher {
public:
    explicit Catcher(TerminationSignals& owner) {
        // A pipe whose reader has gone, and a file that reached the size limit
        // (RLIMIT_FSIZE), fail the write that meets them, which the program
        // reports like any other failed write; the signal would end it silently.
        ::signal(SIGPIPE, SIG_IGN);
        ::signal(SIGXFSZ, SIG_IGN);

        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
            // Without the pipe the signals keep their default action: the program
            // still ends on them, only without closing the file first.
            qWarning("Cannot catch termination signals: %s", std::strerror(errno));
            return;
        }
        reading_ = OwnedHandle(ends[0]);
        writing_ = OwnedHandle(ends[1]);
        signalPipe = ends[1];
        notifier_ = std::make_unique<QSocketNotifier>(ends[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, &owner, [this, &owner] {
            unsigned char number = 0;
            while (::read(int(reading_.get()), &number, 1) == 1)
                emit owner.received(number);
        });

        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int signalNumber : kSignals) {
            // A hang-up or interrupt ignored by whoever started the program
            // (nohup, a background job) stays ignored; SIGTERM is always heard.
            struct sigaction before {};
            if (signalNumber != SIGTERM && ::sigaction(signalNumber, nullptr, &before) == 0 &&
                before.sa_handler == SIG_IGN)
                continue;
            ::sigaction(signalNumber, &action, nullptr);
            caught_.push_back(signalNumber);
        }
    }

    ~Catcher() {
        if (!notifier_)
            return;
        for (const int signalNumber : caught_)
            ::signal(signalNumber, SIG_DFL);
        signalPipe = -1;
    }

private:
    OwnedHandle reading_;
    OwnedHandle writing_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<int> caught_; // the signals handled here
};

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
    , catcher_(std::make_unique<Catcher>(*this)) {}

TerminationSignals::~TerminationSignals() = default;

} // namespace talvern

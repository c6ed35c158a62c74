#include "pseudo_terminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal() {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    slavePath_ = QString::fromLocal8Bit(name);
    // Programs the test starts must not inherit the line: a master kept open in
    // a child would stop the line from ever hanging up.
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);

    // Raw from the start: no echo back to the master, no CR/LF translation.
    termios tio{};
    ::tcgetattr(slave_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave_, TCSANOW, &tio);

    // The program under test must be the line's only user, as it would be on a
    // real port: this side keeps only the master.
    ::close(slave_);
    slave_ = -1;
}

PseudoTerminal::~PseudoTerminal() {
    closeMaster();
    if (slave_ >= 0)
        ::close(slave_);
}

void PseudoTerminal::send(const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(master_, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error(std::string("write to pty master: ") + std::strerror(errno));
        }
        p += n;
        left -= n;
    }
}

void PseudoTerminal::closeMaster() {
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

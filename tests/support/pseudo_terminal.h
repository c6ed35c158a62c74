#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair standing in for a serial line: the program opens the
// slave by its path, the test writes the instrument's bytes at the master.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const QString& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    // Writes every byte at the master (blocking while the line's buffer is full).
    void send(const QByteArray& bytes);
    // Hangs the line up, as an unplugged cable or adapter would.
    void closeMaster();

private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
};

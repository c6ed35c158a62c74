#pragma once

#include <QString>

#include <functional>
#include <memory>

class QObject;
class QWidget;

namespace talvern {

// The few desktop services the window needs beyond its own controls: the system
// beep, the message box that reports a failure, and ending the program.
class Desktop {
public:
    virtual ~Desktop() = default;

    virtual void beep() = 0;
    // Shows `message` as plain text and waits until the user has read it.
    virtual void showFailure(QWidget* parent, const QString& message) = 0;
    // Shows `message`, something the user should know that failed nothing, as
    // plain text and waits until the user has read it.
    virtual void showNotice(QWidget* parent, const QString& message) = 0;
    // Ends the program's event loop with this exit status.
    virtual void quit(int status) = 0;
    // Asks `question` as plain text, with the answers Quit and Wait, without
    // waiting for the answer: `answered` is called with true for Quit, false
    // for Wait (or the question closed). The question goes away when the
    // returned object does, at the latest.
    virtual std::unique_ptr<QObject> askToQuit(QWidget* parent, const QString& question,
                                               std::function<void(bool)> answered) = 0;
    // Ends the program at once with this exit status, once its windows are
    // gone and `line` is on standard error. Nothing more runs or is waited
    // for, not even a thread that a drive holds.
    virtual void abandon(int status, const QString& line) = 0;
};

// The real ones, through Qt.
class QtDesktop final : public Desktop {
public:
    void beep() override;
    void showFailure(QWidget* parent, const QString& message) override;
    void showNotice(QWidget* parent, const QString& message) override;
    void quit(int status) override;
    std::unique_ptr<QObject> askToQuit(QWidget* parent, const QString& question,
                                       std::function<void(bool)> answered) override;
    [[noreturn]] void abandon(int status, const QString& line) override;
};

} // namespace talvern

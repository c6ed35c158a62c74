#pragma once

#include <QString>

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
};

// The real ones, through Qt.
class QtDesktop final : public Desktop {
public:
    void beep() override;
    void showFailure(QWidget* parent, const QString& message) override;
    void showNotice(QWidget* parent, const QString& message) override;
    void quit(int status) override;
};

} // namespace talvern

#pragma once

#include <QString>

#include <exception>
#include <optional>

namespace talvern {

// What went wrong, worded for the user: what failed (a file's name, a port's
// device) and the platform's own error text.
struct Failure {
    QString message;
};

// The result of a capture operation: nothing, or the failure that ended it.
using Outcome = std::optional<Failure>;

// Thrown by the file and port layers; caught by the capture run, which turns it
// into a Failure and never lets it cross the window's event loop.
class CaptureError : public std::exception {
public:
    explicit CaptureError(QString message)
        : message_(std::move(message))
        , utf8_(message_.toUtf8()) {}

    const QString& message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};

} // namespace talvern

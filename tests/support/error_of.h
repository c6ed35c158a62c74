#pragma once

#include "failure.h"

#include <QString>

// The message of the CaptureError that `action` throws, or "<no error>".
template <typename Action> QString errorOf(Action action) {
    try {
        action();
    } catch (const talvern::CaptureError& error) {
        return error.message();
    }
    return QStringLiteral("<no error>");
}

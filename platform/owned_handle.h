#pragma once

#include <QtGlobal>

#include <utility>

namespace talvern {

// A descriptor (POSIX) or handle (Windows) of the system's, closed exactly once:
// by reset() or when it goes. Move-only; the closing is the system's own.
class OwnedHandle {
public:
    static constexpr qintptr kNone = -1;

    OwnedHandle() = default;
    explicit OwnedHandle(qintptr handle)
        : handle_(handle) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(OwnedHandle&& other) noexcept
        : handle_(other.release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.release();
        }
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    qintptr get() const { return handle_; }
    explicit operator bool() const { return handle_ != kNone; }
    // Gives the handle up without closing it.
    qintptr release() { return std::exchange(handle_, kNone); }
    // Closes it now, if it is open: 0, or the system's error (the handle is
    // gone either way).
    int reset();

private:
    qintptr handle_ = kNone;
};

} // namespace talvern

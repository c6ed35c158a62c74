#include "owned_handle.h"

#include <cerrno>
#include <unistd.h>

namespace talvern {

int OwnedHandle::reset() {
    if (handle_ == kNone)
        return 0;
    // Not retried on EINTR: on Linux the descriptor is gone either way.
    const int result = ::close(int(release()));
    return result != 0 && errno != EINTR ? errno : 0;
}

} // namespace talvern

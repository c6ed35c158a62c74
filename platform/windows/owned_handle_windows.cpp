#include "owned_handle.h"

#include <windows.h>

namespace talvern {

int OwnedHandle::reset() {
    if (handle_ == kNone)
        return 0;
    return ::CloseHandle(reinterpret_cast<HANDLE>(release())) ? 0 : int(::GetLastError());
}

} // namespace talvern

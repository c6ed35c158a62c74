#include "full_path.h"

#include <windows.h>

#include <string>

namespace talvern {

QString fullPathOf(const QString& name) {
    const auto* path = reinterpret_cast<const wchar_t*>(name.utf16());
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        // The length without the NUL when it fits, else the room it needs.
        const DWORD length = ::GetFullPathNameW(path, DWORD(full.size()), full.data(), nullptr);
        if (length == 0)
            return name;
        if (length < full.size())
            return QString::fromWCharArray(full.data(), qsizetype(length));
        full.resize(length);
    }
}

} // namespace talvern

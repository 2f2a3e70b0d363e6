// The buffer rule that most Win32 Get* functions share.
#pragma once

#include <cstring>
#include <string_view>

#include "win/types.h"

namespace sky {

// Copies text and its terminator when they fit in size code units and returns the length;
// otherwise writes nothing and returns the size needed including the terminator.
inline DWORD copyToBuffer(std::u16string_view text, LPWSTR buffer, DWORD size) {
    if (buffer && size > text.size()) {
        std::memcpy(buffer, text.data(), text.size() * sizeof(WCHAR));
        buffer[text.size()] = 0;
        return static_cast<DWORD>(text.size());
    }
    return static_cast<DWORD>(text.size() + 1);
}

} // namespace sky

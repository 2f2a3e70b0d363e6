// LoadStringW: strings of RT_STRING blocks, sixteen counted UTF-16 strings per block, the block
// of string `id` being named id / 16 + 1.
#include <algorithm>
#include <cstring>

#include "resource_lookup.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/module.h"

extern "C" int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer,
                                  int cchBufferMax) {
    if (!lpBuffer || cchBufferMax < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // With no room at all the caller asks for a read-only pointer to the string in place.
    const bool wantsPointer = cchBufferMax == 0;
    const auto answer = [&](std::u16string_view text) {
        if (wantsPointer) {
            const WCHAR* at = text.data();
            std::memcpy(lpBuffer, &at, sizeof at);
            return static_cast<int>(text.size());
        }
        const std::size_t n = std::min<std::size_t>(text.size(), std::size_t(cchBufferMax) - 1);
        std::copy_n(text.begin(), n, lpBuffer);
        lpBuffer[n] = 0;
        return static_cast<int>(n);
    };

    const sky::resources::Entry* block =
        uID > 0xFFFF ? nullptr
                     : sky::module::findResource(hInstance, 6, static_cast<WORD>(uID / 16 + 1),
                                                 MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    if (!block) {
        if (uID > 0xFFFF)
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return answer({});
    }
    std::u16string_view strings[16];
    sky::resources::splitStringBlock(block->data, strings);
    const std::u16string_view text = strings[uID % 16];
    if (text.empty()) // not defined (an empty string is stored the same way)
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return answer(text);
}

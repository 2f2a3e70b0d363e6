// BSTR: length-prefixed UTF-16. The block is laid out as Windows lays it out:
//
//   [4 bytes padding][4-byte byte count][text ...][NUL NUL]
//                                        ^ the BSTR points here
//
// The padding keeps the text 8-byte aligned on a 64-bit host; the byte count sits right before
// the text and the text is always followed by a NUL character, whatever it contains.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "sky/text.h"
#include "win/oleauto.h"

namespace {

constexpr std::size_t headerSize = 8;
// The largest byte count a 32-bit prefix can hold, less room for the terminator.
constexpr std::size_t maxBytes = 0xFFFFFFFFu - sizeof(OLECHAR) - headerSize;

char* blockOf(BSTR bstr) {
    return reinterpret_cast<char*>(bstr) - headerSize;
}

// Allocates a BSTR of `bytes` bytes, copies `bytes` bytes of `source` if there is one, and
// terminates it. Odd byte counts are kept: SysAllocStringByteLen stores narrow data this way.
BSTR allocate(const void* source, std::size_t bytes) {
    if (bytes > maxBytes)
        return nullptr;
    char* block = static_cast<char*>(std::malloc(headerSize + bytes + sizeof(OLECHAR) + 1));
    if (!block)
        return nullptr;
    const std::uint32_t count = static_cast<std::uint32_t>(bytes);
    std::memset(block, 0, headerSize - sizeof(count));
    std::memcpy(block + headerSize - sizeof(count), &count, sizeof(count));
    char* text = block + headerSize;
    if (source)
        std::memmove(text, source, bytes);
    else
        std::memset(text, 0, bytes);
    // Two zero bytes after the text, and one more so that an odd count still ends on a NUL WCHAR.
    std::memset(text + bytes, 0, sizeof(OLECHAR) + 1);
    return reinterpret_cast<BSTR>(text);
}

} // namespace

extern "C" {

BSTR WINAPI SysAllocString(const OLECHAR* psz) {
    if (!psz)
        return nullptr;
    return allocate(psz, sky::length(psz) * sizeof(OLECHAR));
}

BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    if (ui > maxBytes / sizeof(OLECHAR))
        return nullptr;
    return allocate(strIn, std::size_t{ui} * sizeof(OLECHAR));
}

BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len) {
    return allocate(psz, len);
}

INT WINAPI SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
    if (!pbstr)
        return FALSE;
    // Allocate before freeing: psz may point into the old string.
    BSTR fresh = SysAllocStringLen(psz, len);
    if (!fresh)
        return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

INT WINAPI SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    if (!pbstr)
        return FALSE;
    return SysReAllocStringLen(pbstr, psz, psz ? static_cast<UINT>(sky::length(psz)) : 0);
}

void WINAPI SysFreeString(BSTR bstrString) {
    if (bstrString)
        std::free(blockOf(bstrString));
}

UINT WINAPI SysStringByteLen(BSTR bstr) {
    if (!bstr)
        return 0;
    std::uint32_t count = 0;
    std::memcpy(&count, reinterpret_cast<char*>(bstr) - sizeof(count), sizeof(count));
    return count;
}

UINT WINAPI SysStringLen(BSTR pbstr) {
    return SysStringByteLen(pbstr) / sizeof(OLECHAR);
}

} // extern "C"

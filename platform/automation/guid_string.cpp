// Identifier strings: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, and back.
#include <cstring>

#include "guid_text.h"
#include "sky/hex.h"
#include "win/com.h"

namespace sky::automation {

namespace {

constexpr char16_t hexDigits[] = u"0123456789ABCDEF";

} // namespace

void formatGuid(const GUID& guid, WCHAR* out) {
    std::size_t pos = 0;
    auto put = [&](unsigned long long value, int digits) {
        for (int i = digits - 1; i >= 0; --i)
            out[pos++] = hexDigits[(value >> (4 * i)) & 0xF];
    };
    out[pos++] = u'{';
    put(guid.Data1, 8);
    out[pos++] = u'-';
    put(guid.Data2, 4);
    out[pos++] = u'-';
    put(guid.Data3, 4);
    out[pos++] = u'-';
    put(guid.Data4[0], 2);
    put(guid.Data4[1], 2);
    out[pos++] = u'-';
    for (int i = 2; i < 8; ++i)
        put(guid.Data4[i], 2);
    out[pos++] = u'}';
    out[pos] = 0;
}

bool parseGuid(const WCHAR* text, GUID& guid) {
    // Count no further than one character past the form, so a long string is not read to its end.
    std::size_t n = 0;
    while (n <= guidTextLength && text[n])
        ++n;
    return parseBracedGuid(std::u16string_view(text, n), guid);
}

} // namespace sky::automation

using sky::automation::formatGuid;
using sky::automation::guidTextLength;
using sky::automation::parseGuid;

namespace {

HRESULT allocatedGuidString(REFGUID guid, LPOLESTR* out) {
    if (!out)
        return E_INVALIDARG;
    *out = static_cast<LPOLESTR>(CoTaskMemAlloc((guidTextLength + 1) * sizeof(OLECHAR)));
    if (!*out)
        return E_OUTOFMEMORY;
    formatGuid(guid, *out);
    return S_OK;
}

} // namespace

extern "C" {

int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (!lpsz || cchMax < static_cast<int>(guidTextLength + 1))
        return 0;
    formatGuid(rguid, lpsz);
    return static_cast<int>(guidTextLength + 1);
}

HRESULT WINAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
    return allocatedGuidString(rclsid, lplpsz);
}

HRESULT WINAPI StringFromIID(REFIID rclsid, LPOLESTR* lplpsz) {
    return allocatedGuidString(rclsid, lplpsz);
}

HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
    if (!lpiid)
        return E_INVALIDARG;
    if (!lpsz) {
        *lpiid = IID_NULL;
        return S_OK;
    }
    return parseGuid(lpsz, *lpiid) ? S_OK : E_INVALIDARG;
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (!pclsid)
        return E_INVALIDARG;
    if (!lpsz) {
        *pclsid = CLSID_NULL;
        return S_OK;
    }
    if (parseGuid(lpsz, *pclsid))
        return S_OK;
    // A braced string is a malformed identifier; anything else may be a programmatic identifier.
    if (lpsz[0] != u'{' && SUCCEEDED(CLSIDFromProgID(lpsz, pclsid)))
        return S_OK;
    *pclsid = CLSID_NULL;
    return CO_E_CLASSSTRING;
}

} // extern "C"

// The machine's code pages and the Win32 conversion functions, with Windows' size rules: a
// length of -1 takes the text up to and with its terminator, an output size of 0 asks for the
// size needed, a short output fails with ERROR_INSUFFICIENT_BUFFER.
#include <cstring>

#include "conversion.h"
#include "locales.h"
#include "profile.h"
#include "sky/codepage.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/registry.h"
#include "win/sysinfo.h"

using namespace sky::sysinfo;

namespace {

// A code page from the registry if it is one the machine can convert, else the system
// locale's.
UINT machineCodePage(std::u16string_view valueName, UINT Locale::*fallback) {
    if (auto number = readNumber(HKEY_LOCAL_MACHINE, kCodePageKey, valueName, 10)) {
        if (*number > CP_THREAD_ACP && isConvertible(*number))
            return *number;
    }
    const Locale* locale = findLocale(GetSystemDefaultLCID());
    return locale ? locale->*fallback : findLocale(kDefaultLcid)->*fallback;
}

// Sets the thread's last error and returns 0, the conversion functions' failure.
int zeroWithLastError(DWORD error) {
    SetLastError(error);
    return 0;
}

int zeroWithConversionError(Conversion conversion) {
    return zeroWithLastError(conversion == Conversion::UnknownCodePage
                                 ? ERROR_INVALID_PARAMETER
                                 : ERROR_NO_UNICODE_TRANSLATION);
}

// Copies a result out by the size rules.
template <class Char> int deliver(const std::basic_string<Char>& result, Char* out, int capacity) {
    const auto count = static_cast<int>(result.size());
    if (capacity == 0)
        return count;
    if (capacity < count)
        return zeroWithLastError(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(out, result.data(), result.size() * sizeof(Char));
    return count;
}

bool isUnicode(UINT codePage) {
    return codePage == CP_UTF8 || codePage == CP_UTF7;
}

} // namespace

extern "C" UINT WINAPI GetACP() {
    return machineCodePage(u"ACP", &Locale::ansiCodePage);
}

extern "C" UINT WINAPI GetOEMCP() {
    return machineCodePage(u"OEMCP", &Locale::oemCodePage);
}

extern "C" BOOL WINAPI IsValidCodePage(UINT CodePage) {
    return CodePage > CP_THREAD_ACP && isConvertible(CodePage);
}

extern "C" int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr,
                                          int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) {
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr))
        return zeroWithLastError(ERROR_INVALID_PARAMETER);
    const UINT codePage = concreteCodePage(CodePage);
    const DWORD allowed = isUnicode(codePage) ? (codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0)
                                              : MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS |
                                                    MB_ERR_INVALID_CHARS;
    if ((dwFlags & ~allowed) || ((dwFlags & MB_PRECOMPOSED) && (dwFlags & MB_COMPOSITE)))
        return zeroWithLastError(ERROR_INVALID_FLAGS);
    const std::size_t size =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    std::u16string text;
    const Conversion conversion = decode(codePage, std::string_view(lpMultiByteStr, size),
                                         dwFlags & MB_ERR_INVALID_CHARS, text);
    if (conversion != Conversion::Done)
        return zeroWithConversionError(conversion);
    return deliver(text, lpWideCharStr, cchWideChar);
}

extern "C" int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr,
                                          int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                          LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && !lpMultiByteStr))
        return zeroWithLastError(ERROR_INVALID_PARAMETER);
    const UINT codePage = concreteCodePage(CodePage);
    const bool unicode = isUnicode(codePage);
    if (unicode && (lpDefaultChar || lpUsedDefaultChar))
        return zeroWithLastError(ERROR_INVALID_PARAMETER);
    const DWORD allowed = unicode ? (codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : 0)
                                  : WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS |
                                        WC_DEFAULTCHAR | WC_NO_BEST_FIT_CHARS;
    if (dwFlags & ~allowed)
        return zeroWithLastError(ERROR_INVALID_FLAGS);
    const std::size_t count = cchWideChar == -1
                                  ? std::char_traits<char16_t>::length(lpWideCharStr) + 1
                                  : static_cast<std::size_t>(cchWideChar);
    std::string_view replacement = unicode ? "\xEF\xBF\xBD" : "?";
    if (lpDefaultChar && *lpDefaultChar)
        replacement = std::string_view(lpDefaultChar, 1);
    std::string bytes;
    bool replaced = false;
    const Conversion conversion =
        encode(codePage, std::u16string_view(lpWideCharStr, count), replacement,
               dwFlags & WC_ERR_INVALID_CHARS, bytes, replaced);
    if (conversion != Conversion::Done)
        return zeroWithConversionError(conversion);
    if (lpUsedDefaultChar)
        *lpUsedDefaultChar = replaced ? TRUE : FALSE;
    return deliver(bytes, lpMultiByteStr, cbMultiByte);
}

namespace sky {

std::string toAnsi(std::u16string_view text, UINT codePage, bool* lossy) {
    const UINT concrete = concreteCodePage(codePage);
    std::string bytes;
    bool replaced = false;
    const std::string_view replacement = isUnicode(concrete) ? "\xEF\xBF\xBD" : "?";
    if (encode(concrete, text, replacement, false, bytes, replaced) != Conversion::Done)
        throw std::invalid_argument("code page " + std::to_string(concrete) +
                                    " cannot be converted");
    if (lossy)
        *lossy = replaced;
    return bytes;
}

std::u16string fromAnsi(std::string_view bytes, UINT codePage) {
    const UINT concrete = concreteCodePage(codePage);
    std::u16string text;
    if (decode(concrete, bytes, false, text) != Conversion::Done)
        throw std::invalid_argument("code page " + std::to_string(concrete) +
                                    " cannot be converted");
    return text;
}

} // namespace sky

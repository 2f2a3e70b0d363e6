// The printf family for WCHAR buffers, each with its Windows contract for output that does not fit.
#include <cerrno>
#include <cstring>
#include <string>

#include "wide_format.h"
#include "win/strings.h"

namespace {

void copyOut(WCHAR* buffer, const std::u16string& text, std::size_t units) {
    std::memcpy(buffer, text.data(), units * sizeof(WCHAR));
}

} // namespace

extern "C" int vswprintf_s(WCHAR* buffer, std::size_t count, const WCHAR* format, va_list args) {
    if (!buffer || count == 0 || !format) {
        errno = EINVAL;
        return -1;
    }
    std::u16string text;
    if (!sky::formatWide(text, format, args)) {
        buffer[0] = 0;
        errno = EINVAL;
        return -1;
    }
    if (text.size() >= count) {
        buffer[0] = 0;
        errno = ERANGE;
        return -1;
    }
    copyOut(buffer, text, text.size() + 1);
    return static_cast<int>(text.size());
}

extern "C" int swprintf_s(WCHAR* buffer, std::size_t count, const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = vswprintf_s(buffer, count, format, args);
    va_end(args);
    return result;
}

extern "C" int _vsnwprintf(WCHAR* buffer, std::size_t count, const WCHAR* format, va_list args) {
    std::u16string text;
    if (!format || (!buffer && count != 0) || !sky::formatWide(text, format, args)) {
        errno = EINVAL;
        return -1;
    }
    if (!buffer)
        return static_cast<int>(text.size());
    if (text.size() < count) {
        copyOut(buffer, text, text.size() + 1);
        return static_cast<int>(text.size());
    }
    copyOut(buffer, text, count);
    return text.size() == count ? static_cast<int>(count) : -1;
}

extern "C" int _snwprintf(WCHAR* buffer, std::size_t count, const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = _vsnwprintf(buffer, count, format, args);
    va_end(args);
    return result;
}

extern "C" int wvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args) {
    constexpr std::size_t limit = 1024;
    std::u16string text;
    if (!buffer || !format || !sky::formatWide(text, format, args))
        return -1;
    if (text.size() >= limit)
        text.resize(limit - 1);
    copyOut(buffer, text, text.size() + 1);
    return static_cast<int>(text.size());
}

extern "C" int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    const int result = wvsprintfW(buffer, format, args);
    va_end(args);
    return result;
}

int vswprintf(WCHAR* buffer, std::size_t count, const WCHAR* format, va_list args) {
    std::u16string text;
    if (!buffer || count == 0 || !format || !sky::formatWide(text, format, args)) {
        errno = EINVAL;
        return -1;
    }
    if (text.size() >= count) {
        copyOut(buffer, text, count - 1);
        buffer[count - 1] = 0;
        return -1;
    }
    copyOut(buffer, text, text.size() + 1);
    return static_cast<int>(text.size());
}

int swprintf(WCHAR* buffer, std::size_t count, const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = vswprintf(buffer, count, format, args);
    va_end(args);
    return result;
}

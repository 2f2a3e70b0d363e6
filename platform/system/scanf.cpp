// swscanf for WCHAR input, with the C library's rules for whitespace, widths and failures.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "sky/hex.h"
#include "sky/text.h"
#include "wide_format.h"
#include "win/strings.h"

namespace {

using sky::FormatSize;

bool isSpace(WCHAR c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

bool isDigitOf(WCHAR c, int base) {
    return sky::digitValue(c, base) >= 0;
}

// Reads an integer of the base (0: by its prefix, as %i) at in[pos], at most width units.
// Values wrap around modulo 2^64 and are cut to the destination's size when stored.
bool scanInteger(const WCHAR* in, std::size_t& pos, std::size_t width, int base,
                 unsigned long long& value) {
    std::size_t p = pos;
    const std::size_t end = width ? pos + width : SIZE_MAX;
    bool negative = false;
    if (p < end && (in[p] == u'+' || in[p] == u'-')) {
        negative = in[p] == u'-';
        ++p;
    }
    if ((base == 0 || base == 16) && p < end && in[p] == u'0') {
        if (p + 2 < end && (in[p + 1] == u'x' || in[p + 1] == u'X') && isDigitOf(in[p + 2], 16)) {
            p += 2;
            base = 16;
        } else if (base == 0) {
            base = 8;
        }
    } else if (base == 0) {
        base = 10;
    }
    unsigned long long v = 0;
    std::size_t digits = 0;
    for (; p < end && isDigitOf(in[p], base); ++p, ++digits)
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(sky::digitValue(in[p], base));
    if (digits == 0)
        return false;
    value = negative ? 0 - v : v;
    pos = p;
    return true;
}

void storeInteger(sky::VarArgs& args, FormatSize size, unsigned long long value) {
    void* target = va_arg(args.list, void*);
    switch (size) {
    case FormatSize::Char: {
        const auto v = static_cast<unsigned char>(value);
        std::memcpy(target, &v, sizeof v);
        break;
    }
    case FormatSize::Short: {
        const auto v = static_cast<unsigned short>(value);
        std::memcpy(target, &v, sizeof v);
        break;
    }
    case FormatSize::LongLong:
    case FormatSize::Pointer:
        std::memcpy(target, &value, sizeof value);
        break;
    default: {
        const auto v = static_cast<unsigned>(value);
        std::memcpy(target, &v, sizeof v);
        break;
    }
    }
}

// Stores text read by %s, %c or %[: WCHARs, or UTF-8 bytes for the narrow forms.
void storeText(sky::VarArgs& args, bool narrow, std::u16string_view text, bool terminate) {
    if (narrow) {
        char* target = va_arg(args.list, char*);
        const std::string bytes = sky::narrow(text);
        std::memcpy(target, bytes.data(), bytes.size());
        if (terminate)
            target[bytes.size()] = 0;
    } else {
        WCHAR* target = va_arg(args.list, WCHAR*);
        std::memcpy(target, text.data(), text.size() * sizeof(WCHAR));
        if (terminate)
            target[text.size()] = 0;
    }
}

// A %[...] set: the ranges it lists, or all but them after '^'.
struct ScanSet {
    bool inverted = false;
    std::vector<std::pair<WCHAR, WCHAR>> ranges;

    bool contains(WCHAR c) const {
        bool listed = false;
        for (const auto& [low, high] : ranges)
            listed = listed || (c >= low && c <= high);
        return listed != inverted;
    }
};

// Reads the set after "%[" and returns the position after its "]", or null when it has none.
const WCHAR* parseScanSet(const WCHAR* f, ScanSet& set) {
    if (*f == u'^') {
        set.inverted = true;
        ++f;
    }
    const WCHAR* first = f;
    for (; *f && (*f != u']' || f == first); ++f) {
        if (f[1] == u'-' && f[2] && f[2] != u']') {
            set.ranges.emplace_back(f[0], f[2]);
            f += 2;
        } else {
            set.ranges.emplace_back(*f, *f);
        }
    }
    return *f == u']' ? f + 1 : nullptr;
}

bool isNarrowText(WCHAR conversion, FormatSize size) {
    if (size == FormatSize::Short)
        return true;
    if (size == FormatSize::Long || size == FormatSize::Wide)
        return false;
    return conversion == u'S' || conversion == u'C';
}

} // namespace

int vswscanf(const WCHAR* input, const WCHAR* format, va_list list) {
    if (!input || !format) {
        errno = EINVAL;
        return EOF;
    }
    sky::VarArgs args;
    va_copy(args.list, list);
    std::size_t pos = 0;
    int assigned = 0;
    int conversions = 0;
    // Nothing to read gives EOF: an empty input, or one whose text ends in the blanks a string
    // conversion skips, before the first conversion. Otherwise input that ends early, as a
    // mismatch, gives the count so far ("   " read with %d is 0).
    const bool emptyInput = input[0] == 0;
    bool inputEnded = false;
    const WCHAR* f = format;
    while (*f) {
        if (isSpace(*f)) {
            while (isSpace(*f))
                ++f;
            while (isSpace(input[pos]))
                ++pos;
            continue;
        }
        if (*f != u'%') {
            if (input[pos] != *f)
                break;
            ++pos;
            ++f;
            continue;
        }
        ++f;
        const bool suppress = *f == u'*';
        if (suppress)
            ++f;
        std::size_t width = 0;
        for (; *f >= u'0' && *f <= u'9'; ++f)
            width = width * 10 + static_cast<std::size_t>(*f - u'0');
        FormatSize size = FormatSize::Default;
        f = sky::parseFormatSize(f, size);
        const WCHAR conversion = *f;
        if (!conversion)
            break;
        ++f;
        if (conversion != u'c' && conversion != u'C' && conversion != u'[' && conversion != u'n')
            while (isSpace(input[pos]))
                ++pos;
        if (conversion == u'n') {
            if (!suppress)
                storeInteger(args, size, pos);
            continue;
        }
        if (input[pos] == 0) {
            inputEnded = conversion == u's' || conversion == u'S';
            break;
        }
        if (conversion == u'%') {
            if (input[pos] != u'%')
                break;
            ++pos;
            continue;
        }
        bool matched = true;
        switch (conversion) {
        case u'd':
        case u'i':
        case u'u':
        case u'o':
        case u'x':
        case u'X': {
            const int base = conversion == u'i'                         ? 0
                             : conversion == u'o'                       ? 8
                             : conversion == u'x' || conversion == u'X' ? 16
                                                                        : 10;
            unsigned long long value = 0;
            matched = scanInteger(input, pos, width, base, value);
            if (matched && !suppress)
                storeInteger(args, size, value);
            break;
        }
        case u's':
        case u'S': {
            const std::size_t start = pos;
            while (input[pos] && !isSpace(input[pos]) && (!width || pos - start < width))
                ++pos;
            if (!suppress)
                storeText(args, isNarrowText(conversion, size),
                          std::u16string_view(input + start, pos - start), true);
            break;
        }
        case u'c':
        case u'C': {
            const std::size_t start = pos;
            const std::size_t count = width ? width : 1;
            while (input[pos] && pos - start < count)
                ++pos;
            if (!suppress)
                storeText(args, isNarrowText(conversion, size),
                          std::u16string_view(input + start, pos - start), false);
            break;
        }
        case u'[': {
            ScanSet set;
            f = parseScanSet(f, set);
            if (!f) {
                matched = false;
                break;
            }
            const std::size_t start = pos;
            while (input[pos] && set.contains(input[pos]) && (!width || pos - start < width))
                ++pos;
            matched = pos > start;
            if (matched && !suppress)
                storeText(args, isNarrowText(conversion, size),
                          std::u16string_view(input + start, pos - start), true);
            break;
        }
        default:
            matched = false;
            break;
        }
        if (!matched)
            break;
        ++conversions;
        if (!suppress)
            ++assigned;
    }
    va_end(args.list);
    return (emptyInput || inputEnded) && conversions == 0 ? EOF : assigned;
}

int swscanf(const WCHAR* input, const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = vswscanf(input, format, args);
    va_end(args);
    return result;
}

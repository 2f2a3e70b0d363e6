// printf for UTF-16 formats with the Windows C library's wide conventions: %s is a WCHAR string,
// %S a narrow one, l is 32 bits. Numbers go through the C library's snprintf, so flags, width and
// precision behave exactly as there.
#include "wide_format.h"

#include <cstdio>
#include <cstring>

#include "sky/text.h"

namespace sky {

namespace {

using Size = FormatSize;

struct Spec {
    std::string flags;
    int width = -1;
    int precision = -1;
    Size size = Size::Default;
    WCHAR conversion = 0;

    bool has(char flag) const { return flags.find(flag) != std::string::npos; }
};

using Arguments = VarArgs;

long long takeSigned(Arguments& args, Size size) {
    switch (size) {
    case Size::Char:
        return static_cast<signed char>(va_arg(args.list, int));
    case Size::Short:
        return static_cast<short>(va_arg(args.list, int));
    case Size::LongLong:
    case Size::Pointer:
        return va_arg(args.list, long long);
    default:
        return va_arg(args.list, int);
    }
}

unsigned long long takeUnsigned(Arguments& args, Size size) {
    switch (size) {
    case Size::Char:
        return static_cast<unsigned char>(va_arg(args.list, unsigned));
    case Size::Short:
        return static_cast<unsigned short>(va_arg(args.list, unsigned));
    case Size::LongLong:
    case Size::Pointer:
        return va_arg(args.list, unsigned long long);
    default:
        return va_arg(args.list, unsigned);
    }
}

// The C library's conversion of one value, with the conversion's flags, width and precision.
template <class Value>
std::string formatNumber(const Spec& spec, const char* size, char conversion, Value value) {
    std::string narrowSpec = "%" + spec.flags;
    if (spec.width >= 0)
        narrowSpec += std::to_string(spec.width);
    if (spec.precision >= 0)
        narrowSpec += "." + std::to_string(spec.precision);
    narrowSpec += size;
    narrowSpec += conversion;
    const int needed = std::snprintf(nullptr, 0, narrowSpec.c_str(), value);
    if (needed <= 0)
        return {};
    std::string text(static_cast<std::size_t>(needed) + 1, '\0');
    std::snprintf(text.data(), text.size(), narrowSpec.c_str(), value);
    text.resize(static_cast<std::size_t>(needed));
    return text;
}

void appendAscii(std::u16string& out, const std::string& text) {
    for (char c : text)
        out.push_back(static_cast<unsigned char>(c));
}

void appendPadded(std::u16string& out, const Spec& spec, std::u16string_view text) {
    const std::size_t width = spec.width > 0 ? static_cast<std::size_t>(spec.width) : 0;
    const std::size_t padding = width > text.size() ? width - text.size() : 0;
    if (!spec.has('-'))
        out.append(padding, u' ');
    out.append(text);
    if (spec.has('-'))
        out.append(padding, u' ');
}

// Whether a %c / %s conversion takes a narrow argument: %hs, %S, %hc, %C (and not %lS, %wS).
bool isNarrowText(const Spec& spec) {
    const bool upper = spec.conversion == u'S' || spec.conversion == u'C';
    if (spec.size == Size::Short)
        return true;
    if (spec.size == Size::Long || spec.size == Size::Wide)
        return false;
    return upper;
}

void appendString(std::u16string& out, const Spec& spec, Arguments& args) {
    static constexpr char16_t nullText[] = u"(null)";
    std::u16string text;
    if (isNarrowText(spec)) {
        const char* s = va_arg(args.list, const char*);
        if (!s) {
            text = nullText;
        } else {
            const std::size_t n = spec.precision >= 0
                                      ? strnlen(s, static_cast<std::size_t>(spec.precision))
                                      : std::strlen(s);
            text = widen(std::string_view(s, n));
        }
    } else {
        const WCHAR* s = va_arg(args.list, const WCHAR*);
        if (!s)
            s = nullText;
        std::size_t n = 0;
        while (s[n] && (spec.precision < 0 || n < static_cast<std::size_t>(spec.precision)))
            ++n;
        text.assign(s, n);
    }
    if (spec.precision >= 0 && text.size() > static_cast<std::size_t>(spec.precision))
        text.resize(static_cast<std::size_t>(spec.precision));
    appendPadded(out, spec, text);
}

void appendCharacter(std::u16string& out, const Spec& spec, Arguments& args) {
    const int value = va_arg(args.list, int);
    // A narrow character is one byte; bytes above 0x7F are taken as Latin-1.
    const WCHAR c = isNarrowText(spec) ? static_cast<WCHAR>(static_cast<unsigned char>(value))
                                       : static_cast<WCHAR>(value);
    appendPadded(out, spec, std::u16string_view(&c, 1));
}

// Reads "[flags][width][.precision][size]conversion" after a '%'; returns the position after it.
const WCHAR* parseSpec(const WCHAR* p, Spec& spec, Arguments& args) {
    for (; *p && *p < 0x80 && std::strchr("-+ #0", static_cast<char>(*p)); ++p)
        if (!spec.has(static_cast<char>(*p)))
            spec.flags.push_back(static_cast<char>(*p));
    if (*p == u'*') {
        spec.width = va_arg(args.list, int);
        if (spec.width < 0) {
            if (!spec.has('-'))
                spec.flags.push_back('-');
            spec.width = -spec.width;
        }
        ++p;
    } else {
        for (; *p >= u'0' && *p <= u'9'; ++p)
            spec.width = (spec.width < 0 ? 0 : spec.width * 10) + (*p - u'0');
    }
    if (*p == u'.') {
        ++p;
        spec.precision = 0;
        if (*p == u'*') {
            spec.precision = va_arg(args.list, int);
            if (spec.precision < 0)
                spec.precision = -1;
            ++p;
        } else {
            for (; *p >= u'0' && *p <= u'9'; ++p)
                spec.precision = spec.precision * 10 + (*p - u'0');
        }
    }
    p = parseFormatSize(p, spec.size);
    spec.conversion = *p;
    return *p ? p + 1 : p;
}

bool appendConversion(std::u16string& out, const Spec& spec, Arguments& args) {
    switch (spec.conversion) {
    case u'd':
    case u'i':
        appendAscii(out, formatNumber(spec, "ll", 'd', takeSigned(args, spec.size)));
        return true;
    case u'u':
    case u'o':
    case u'x':
    case u'X':
        appendAscii(out, formatNumber(spec, "ll", static_cast<char>(spec.conversion),
                                      takeUnsigned(args, spec.size)));
        return true;
    case u'e':
    case u'E':
    case u'f':
    case u'F':
    case u'g':
    case u'G':
    case u'a':
    case u'A': {
        const char conversion = static_cast<char>(spec.conversion);
        if (spec.size == Size::LongDouble)
            appendAscii(out, formatNumber(spec, "L", conversion, va_arg(args.list, long double)));
        else
            appendAscii(out, formatNumber(spec, "", conversion, va_arg(args.list, double)));
        return true;
    }
    case u'p': {
        // Windows prints a pointer as all its hex digits, upper case, without "0x".
        Spec digits;
        digits.flags = "0";
        digits.width = static_cast<int>(2 * sizeof(void*));
        const auto value = reinterpret_cast<std::uintptr_t>(va_arg(args.list, void*));
        appendPadded(
            out, spec,
            widen(formatNumber(digits, "ll", 'X', static_cast<unsigned long long>(value))));
        return true;
    }
    case u's':
    case u'S':
        appendString(out, spec, args);
        return true;
    case u'c':
    case u'C':
        appendCharacter(out, spec, args);
        return true;
    default:
        return false;
    }
}

} // namespace

const WCHAR* parseFormatSize(const WCHAR* p, FormatSize& size) {
    if (p[0] == u'h' && p[1] == u'h') {
        size = Size::Char;
        p += 2;
    } else if (p[0] == u'l' && p[1] == u'l') {
        size = Size::LongLong;
        p += 2;
    } else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
        size = Size::LongLong;
        p += 3;
    } else if (p[0] == u'I' && p[1] == u'3' && p[2] == u'2') {
        size = Size::Long;
        p += 3;
    } else {
        switch (*p) {
        case u'h':
            size = Size::Short;
            ++p;
            break;
        case u'l':
            size = Size::Long;
            ++p;
            break;
        case u'w':
            size = Size::Wide;
            ++p;
            break;
        case u'L':
            size = Size::LongDouble;
            ++p;
            break;
        case u'q':
            size = Size::LongLong;
            ++p;
            break;
        case u'I':
        case u'z':
        case u'j':
        case u't':
            size = Size::Pointer;
            ++p;
            break;
        default:
            break;
        }
    }
    return p;
}

bool formatWide(std::u16string& out, const WCHAR* format, va_list list) {
    if (!format)
        return false;
    Arguments args;
    va_copy(args.list, list);
    bool ok = true;
    for (const WCHAR* p = format; *p && ok;) {
        if (*p != u'%') {
            out.push_back(*p++);
            continue;
        }
        ++p;
        if (*p == u'%') {
            out.push_back(u'%');
            ++p;
            continue;
        }
        Spec spec;
        p = parseSpec(p, spec, args);
        ok = appendConversion(out, spec, args);
    }
    va_end(args.list);
    return ok;
}

} // namespace sky

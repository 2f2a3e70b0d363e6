#include "sky/text.h"

#include <set>
#include <string>

#include <unicode/uchar.h>
#include <unicode/utf16.h>

namespace sky {

std::size_t length(const WCHAR* text) {
    std::size_t n = 0;
    if (text)
        while (text[n])
            ++n;
    return n;
}

std::u16string widen(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(utf8[k]); };
    while (i < utf8.size()) {
        unsigned char c = byte(i);
        char32_t cp = 0xFFFD;
        std::size_t n = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            n = 2;
        } else if ((c & 0xF0) == 0xE0) {
            n = 3;
        } else if ((c & 0xF8) == 0xF0) {
            n = 4;
        }
        if (n > 1) {
            bool ok = i + n <= utf8.size();
            char32_t v = c & (0x7F >> n);
            for (std::size_t k = 1; ok && k < n; ++k) {
                if ((byte(i + k) & 0xC0) != 0x80)
                    ok = false;
                else
                    v = (v << 6) | (byte(i + k) & 0x3F);
            }
            static constexpr char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
            if (ok && v >= minimum[n] && v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF)) {
                cp = v;
            } else {
                n = 1;
                cp = 0xFFFD;
            }
        }
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string narrow(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

namespace {

// The simple upper-case mapping of a character when it comes back: the capital's lower case is
// the character itself. Mappings that do not come back are left out, as Windows' case table
// leaves them out: dotless i, long s, the micro sign, final sigma, the title-case digraphs and
// the like stay as they are (a name "ı" is not the name "i").
UChar32 upperThatComesBack(UChar32 c) {
    const UChar32 capital = u_toupper(c);
    return capital != c && u_tolower(capital) == c ? capital : c;
}

} // namespace

WCHAR foldUpper(WCHAR c) {
    if (c < 0x80)
        return c >= u'a' && c <= u'z' ? static_cast<WCHAR>(c - 0x20) : c;
    if (U16_IS_SURROGATE(c))
        return c;
    // Simple mappings stay within the plane they start in, so the result is one code unit.
    return static_cast<WCHAR>(upperThatComesBack(c));
}

namespace {

// Appends the folding of the character at text[i] and moves i past it.
void foldNext(std::u16string_view text, std::size_t& i, std::u16string& out) {
    const WCHAR c = text[i];
    if (!U16_IS_LEAD(c) || i + 1 == text.size() || !U16_IS_TRAIL(text[i + 1])) {
        out.push_back(foldUpper(c));
        ++i;
        return;
    }
    const UChar32 folded = upperThatComesBack(U16_GET_SUPPLEMENTARY(c, text[i + 1]));
    out.push_back(static_cast<WCHAR>(U16_LEAD(folded)));
    out.push_back(static_cast<WCHAR>(U16_TRAIL(folded)));
    i += 2;
}

} // namespace

std::u16string upper(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
        foldNext(text, i, out);
    return out;
}

std::string upperUtf8(std::string_view utf8) {
    for (const char c : utf8) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return narrow(upper(widen(utf8)));
    }
    std::string out(utf8);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 0x20);
    }
    return out;
}

std::vector<std::string> keepApartWhenFolded(const std::vector<std::string>& names) {
    std::set<std::string> natural;
    for (const std::string& name : names)
        natural.insert(upperUtf8(name));
    std::set<std::string> taken;
    std::vector<std::string> kept;
    kept.reserve(names.size());
    for (const std::string& name : names) {
        if (taken.insert(upperUtf8(name)).second) {
            kept.push_back(name);
            continue;
        }
        for (int n = 2;; ++n) {
            std::string candidate = name + " (" + std::to_string(n) + ")";
            const std::string folded = upperUtf8(candidate);
            if (!natural.count(folded) && taken.insert(folded).second) {
                kept.push_back(std::move(candidate));
                break;
            }
        }
    }
    return kept;
}

const char* foldingRule() {
    static const std::string rule = [] {
        UVersionInfo version;
        u_getUnicodeVersion(version);
        return "simple upper case that comes back, Unicode " + std::to_string(version[0]) + "." +
               std::to_string(version[1]);
    }();
    return rule.c_str();
}

int compareNoCase(std::u16string_view a, std::u16string_view b) {
    // Folded code units compare in turn: the order of upper(a) and upper(b).
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] >= 0x80 || b[i] >= 0x80) {
            const int order = upper(a.substr(i)).compare(upper(b.substr(i)));
            return order < 0 ? -1 : (order > 0 ? 1 : 0);
        }
        const WCHAR x = foldUpper(a[i]);
        const WCHAR y = foldUpper(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

} // namespace sky

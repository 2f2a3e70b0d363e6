#include "number_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "sky/hex.h"
#include "sky/text.h"
#include "win/errors.h"

namespace sky::automation {

namespace {

bool isSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f' ||
           c == 0x00A0;
}

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Reads the digits of a &H or &O literal.
HRESULT parseRadixLiteral(std::u16string_view text, std::size_t& pos, unsigned radix,
                          std::uint64_t& value) {
    const std::size_t start = pos;
    value = 0;
    for (; pos < text.size(); ++pos) {
        const int digitOrNone = sky::digitValue(text[pos], static_cast<int>(radix));
        if (digitOrNone < 0)
            break;
        const auto digit = static_cast<unsigned>(digitOrNone);
        if (value > (UINT64_MAX - digit) / radix)
            return DISP_E_OVERFLOW;
        value = value * radix + digit;
    }
    return pos > start ? S_OK : DISP_E_TYPEMISMATCH;
}

// Exact magnitude of a decimal number rounded half to even, or false if it needs more than
// 128 bits (far beyond any 64-bit type).
bool roundedMagnitude(const ParsedNumber& number, unsigned __int128& magnitude) {
    magnitude = 0;
    if (number.digits.empty())
        return true;
    const long count = static_cast<long>(number.digits.size());
    const long integerDigits = count + number.exponent;
    if (integerDigits > 30)
        return false;
    for (long i = 0; i < integerDigits; ++i)
        magnitude = magnitude * 10 + (i < count ? number.digits[i] - '0' : 0);
    if (integerDigits >= count)
        return true;
    // The fraction starts at digit `integerDigits` (negative: implied leading zeros).
    if (integerDigits < 0)
        return true; // below 0.1: rounds to zero
    const char first = number.digits[integerDigits];
    bool roundUp = first > '5';
    if (first == '5') {
        bool beyondHalf = false;
        for (long i = integerDigits + 1; i < count; ++i)
            beyondHalf = beyondHalf || number.digits[i] != '0';
        roundUp = beyondHalf || (magnitude & 1) != 0;
    }
    if (roundUp)
        magnitude += 1;
    return true;
}

// The decimal number as a string that strtod and strtof read exactly, whatever the C locale.
std::string scientific(const ParsedNumber& number) {
    return number.digits + "e" + std::to_string(number.exponent);
}

// The number as a double or float, read by `read` (strtod / strtof, correctly rounded).
template <class Real, class Read> HRESULT toReal(const ParsedNumber& number, Real& out, Read read) {
    Real value = 0;
    if (number.radixLiteral) {
        value = static_cast<Real>(number.radixValue);
    } else if (!number.digits.empty()) {
        value = read(scientific(number).c_str());
        if (std::isinf(value))
            return DISP_E_OVERFLOW;
    }
    out = number.negative ? -value : value;
    return S_OK;
}

} // namespace

HRESULT parseNumber(std::u16string_view text, ParsedNumber& out) {
    ParsedNumber result;
    std::size_t pos = 0;
    const std::size_t n = text.size();
    auto skipSpace = [&] {
        while (pos < n && isSpace(text[pos]))
            ++pos;
    };
    skipSpace();
    bool parenthesised = false;
    bool signSeen = false;
    if (pos < n && text[pos] == u'(') {
        parenthesised = true;
        ++pos;
        skipSpace();
    }
    if (pos < n && (text[pos] == u'+' || text[pos] == u'-')) {
        if (parenthesised)
            return DISP_E_TYPEMISMATCH;
        result.negative = text[pos] == u'-';
        signSeen = true;
        ++pos;
    }
    if (pos < n && text[pos] == u'$')
        ++pos;

    if (pos < n && text[pos] == u'&') {
        ++pos;
        unsigned radix = 8;
        if (pos < n && (text[pos] == u'h' || text[pos] == u'H')) {
            radix = 16;
            ++pos;
        } else if (pos < n && (text[pos] == u'o' || text[pos] == u'O')) {
            ++pos;
        }
        result.radixLiteral = true;
        if (HRESULT hr = parseRadixLiteral(text, pos, radix, result.radixValue); FAILED(hr))
            return hr;
    } else {
        bool anyDigit = false;
        bool pointSeen = false;
        long fractionDigits = 0;
        std::string digits;
        for (; pos < n; ++pos) {
            const char16_t c = text[pos];
            if (isDigit(c)) {
                anyDigit = true;
                if (!digits.empty() || c != u'0')
                    digits.push_back(static_cast<char>(c));
                if (pointSeen)
                    ++fractionDigits;
            } else if (c == u',' && anyDigit && !pointSeen) {
                continue; // thousand separator
            } else if (c == u'.' && !pointSeen) {
                pointSeen = true;
            } else {
                break;
            }
        }
        if (!anyDigit)
            return DISP_E_TYPEMISMATCH;
        long exponent = 0;
        if (pos < n && (text[pos] == u'e' || text[pos] == u'E')) {
            ++pos;
            bool negativeExponent = false;
            if (pos < n && (text[pos] == u'+' || text[pos] == u'-')) {
                negativeExponent = text[pos] == u'-';
                ++pos;
            }
            if (pos >= n || !isDigit(text[pos]))
                return DISP_E_TYPEMISMATCH;
            for (; pos < n && isDigit(text[pos]); ++pos)
                if (exponent < 100000)
                    exponent = exponent * 10 + (text[pos] - u'0');
            if (negativeExponent)
                exponent = -exponent;
        }
        // Trailing zeros move into the exponent so that digits stay short.
        std::size_t significant = digits.size();
        while (significant > 0 && digits[significant - 1] == '0')
            --significant;
        exponent += static_cast<long>(digits.size() - significant) - fractionDigits;
        digits.resize(significant);
        result.digits = std::move(digits);
        result.exponent = result.digits.empty() ? 0 : exponent;
    }

    if (!signSeen && !parenthesised && pos < n && (text[pos] == u'+' || text[pos] == u'-')) {
        result.negative = text[pos] == u'-';
        ++pos;
    }
    skipSpace();
    if (parenthesised) {
        if (pos >= n || text[pos] != u')')
            return DISP_E_TYPEMISMATCH;
        result.negative = true;
        ++pos;
        skipSpace();
    }
    if (pos != n)
        return DISP_E_TYPEMISMATCH;
    out = std::move(result);
    return S_OK;
}

HRESULT toSigned(const ParsedNumber& number, int bits, std::int64_t& out) {
    const unsigned __int128 limit = static_cast<unsigned __int128>(1) << (bits - 1);
    if (number.radixLiteral) {
        const unsigned __int128 range = limit << 1;
        unsigned __int128 v = number.radixValue;
        if (v >= range)
            return DISP_E_OVERFLOW;
        __int128 value = v >= limit ? static_cast<__int128>(v) - static_cast<__int128>(range)
                                    : static_cast<__int128>(v);
        if (number.negative) {
            if (value == -static_cast<__int128>(limit))
                return DISP_E_OVERFLOW;
            value = -value;
        }
        out = static_cast<std::int64_t>(value);
        return S_OK;
    }
    unsigned __int128 magnitude = 0;
    if (!roundedMagnitude(number, magnitude))
        return DISP_E_OVERFLOW;
    if (number.negative ? magnitude > limit : magnitude >= limit)
        return DISP_E_OVERFLOW;
    const __int128 value = static_cast<__int128>(magnitude);
    out = static_cast<std::int64_t>(number.negative ? -value : value);
    return S_OK;
}

HRESULT toUnsigned(const ParsedNumber& number, int bits, std::uint64_t& out) {
    const unsigned __int128 range = static_cast<unsigned __int128>(1) << bits;
    unsigned __int128 magnitude = 0;
    if (number.radixLiteral)
        magnitude = number.radixValue;
    else if (!roundedMagnitude(number, magnitude))
        return DISP_E_OVERFLOW;
    if (magnitude >= range || (number.negative && magnitude != 0))
        return DISP_E_OVERFLOW;
    out = static_cast<std::uint64_t>(magnitude);
    return S_OK;
}

HRESULT toDouble(const ParsedNumber& number, double& out) {
    return toReal(number, out, [](const char* text) { return std::strtod(text, nullptr); });
}

HRESULT toFloat(const ParsedNumber& number, float& out) {
    return toReal(number, out, [](const char* text) { return std::strtof(text, nullptr); });
}

std::u16string formatReal(double value, int significantDigits) {
    if (std::isnan(value))
        return u"-1.#IND";
    if (std::isinf(value))
        return value < 0 ? u"-1.#INF" : u"1.#INF";
    if (value == 0)
        return u"0";
    // "d.ddddde+XX": the rounded significant digits and the decimal exponent.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*e", significantDigits - 1, std::fabs(value));
    std::string digits;
    const char* p = buffer;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits.push_back(*p);
    const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string text = value < 0 ? "-" : "";
    if (exponent >= significantDigits || exponent < -4) {
        text += digits[0];
        if (digits.size() > 1)
            text += "." + digits.substr(1);
        char tail[16];
        std::snprintf(tail, sizeof tail, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        text += tail;
    } else if (exponent >= 0) {
        const std::size_t integerDigits = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= integerDigits) {
            text += digits + std::string(integerDigits - digits.size(), '0');
        } else {
            text += digits.substr(0, integerDigits) + "." + digits.substr(integerDigits);
        }
    } else {
        text += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    return sky::widen(text);
}

} // namespace sky::automation

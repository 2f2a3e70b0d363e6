// Numbers as text, the way automation converts them: parsing as VarI4FromStr and its relatives do
// in the US locale, and formatting reals as VarBstrFromR8 does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "win/types.h"

namespace sky::automation {

// A number read from text, kept exact: value = digits x 10^exponent (digits without leading
// zeros; empty for zero), or a hexadecimal/octal literal (&H.., &O..) taken as an unsigned value.
struct ParsedNumber {
    bool negative = false;
    std::string digits;
    long exponent = 0;
    bool radixLiteral = false;
    std::uint64_t radixValue = 0;

    bool isZero() const { return radixLiteral ? radixValue == 0 : digits.empty(); }
};

// Accepts leading and trailing white space, a sign before or after the number or parentheses for
// a negative one, a leading "$", thousand separators (",") in the integer part, a decimal point
// ("."), an exponent (e or E with an optional sign) and &H / &O literals. Returns S_OK or
// DISP_E_TYPEMISMATCH (DISP_E_OVERFLOW for a literal beyond 64 bits).
HRESULT parseNumber(std::u16string_view text, ParsedNumber& out);

// The number rounded half to even and checked against an integer type of `bits` bits.
// A radix literal that fits the type's unsigned range is taken as its bit pattern (&HFFFF is -1
// as a 16-bit signed number). Returns S_OK or DISP_E_OVERFLOW.
HRESULT toSigned(const ParsedNumber& number, int bits, std::int64_t& out);
HRESULT toUnsigned(const ParsedNumber& number, int bits, std::uint64_t& out);

// Correctly rounded to double or float; DISP_E_OVERFLOW beyond the type's range.
HRESULT toDouble(const ParsedNumber& number, double& out);
HRESULT toFloat(const ParsedNumber& number, float& out);

// A real number as text with at most `significantDigits` digits: fixed notation for decimal
// exponents from -5 up to significantDigits - 1, otherwise "1.5E+20" / "1E-07".
std::u16string formatReal(double value, int significantDigits);

} // namespace sky::automation

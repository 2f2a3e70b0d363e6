// Wide-string functions and the printf/scanf formatting the programs use, for UTF-16 text.
//
// WCHAR is char16_t here, so the C library's wcs* functions and its wide printf/scanf (which take
// wchar_t, 32 bits on Linux) do not apply. The functions below keep the Windows C library's names
// and contracts:
//
//   - swprintf_s, _snwprintf, wsprintfW and their va_list forms have names the C library does not
//     use; they are plain C functions.
//   - swprintf and swscanf exist in the C library for wchar_t. The versions here are C++ overloads
//     on WCHAR (char16_t), chosen by the argument types; the C library's stay usable for wchar_t.
//
// Conversions, as in the Windows C library's wide functions:
//   %s %ls %ws   a WCHAR string          %S %hs   a narrow (UTF-8) char string
//   %c %lc %wc   a WCHAR                 %C %hc   a narrow char
//   %d %i %u %o %x %X with the flags "-+ #0", width and precision (both may be "*"), and the
//   sizes hh, h, l (32 bits, as Windows' long: pass LONG/DWORD), ll, I64, I32, I, z, j, t;
//   %e %E %f %F %g %G %a %A for double (L: long double); %p; %%.
// %n is refused, as by the Windows C library; an unknown conversion makes the call fail.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "win/types.h"

// CompareStringW and CompareStringOrdinal results.
#ifndef CSTR_LESS_THAN
#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3
#endif

// CompareStringW flags.
#define NORM_IGNORECASE 0x00000001u
#define NORM_IGNORENONSPACE 0x00000002u
#define NORM_IGNORESYMBOLS 0x00000004u
#define SORT_DIGITSASNUMBERS 0x00000008u
#define LINGUISTIC_IGNORECASE 0x00000010u
#define LINGUISTIC_IGNOREDIACRITIC 0x00000020u
#define SORT_STRINGSORT 0x00001000u
#define NORM_IGNOREKANATYPE 0x00010000u
#define NORM_IGNOREWIDTH 0x00020000u
#define NORM_LINGUISTIC_CASING 0x08000000u

using PCNZWCH = const WCHAR*;

extern "C" {
// Length in code units; 0 for NULL.
SKY_API int WINAPI lstrlenW(LPCWSTR lpString);
// Copies with the terminator; NULL when either argument is NULL.
SKY_API LPWSTR WINAPI lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2);
// Copies at most iMaxLength - 1 code units and always terminates (when iMaxLength > 0).
SKY_API LPWSTR WINAPI lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength);
SKY_API LPWSTR WINAPI lstrcatW(LPWSTR lpString1, LPCWSTR lpString2);
// -1, 0 or 1: CompareStringW in the user's locale, with case (lower case first on a tie:
// "a" < "A" < "b"). NULL compares as the empty string.
SKY_API int WINAPI lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2);
// -1, 0 or 1: CompareStringW in the user's locale with NORM_IGNORECASE, the order of a sorted
// list box ("_Setup" < "alpha" < "Office\Word" < "OfficeXP" < "Zeta").
SKY_API int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2);
// Linguistic comparison in a locale, with ICU's collation of the locale (the Unicode collation
// algorithm with the locale's tailoring) and the word sort on top:
//   - hyphen-minus and apostrophe weigh almost nothing: they are left out, and only when two
//     texts are otherwise equal does the one whose first such mark comes later (or that has none)
//     sort first ("coop" < "co-op" < "coopt"); SORT_STRINGSORT makes them punctuation like any;
//   - other punctuation and symbols sort before digits, digits before letters
//     ("_Setup" < "1st" < "alpha"), and accents weigh less than letters, case less than accents.
// Locale: LOCALE_USER_DEFAULT, LOCALE_SYSTEM_DEFAULT, LOCALE_NEUTRAL (the user's),
// LOCALE_INVARIANT (the root collation), or a locale identifier the machine knows.
// Flags: NORM_IGNORECASE / LINGUISTIC_IGNORECASE, NORM_IGNORENONSPACE /
// LINGUISTIC_IGNOREDIACRITIC, NORM_IGNORESYMBOLS, SORT_DIGITSASNUMBERS, SORT_STRINGSORT;
// NORM_IGNOREKANATYPE, NORM_IGNOREWIDTH and NORM_LINGUISTIC_CASING are accepted.
// A negative count means NUL-terminated. Returns CSTR_LESS_THAN, CSTR_EQUAL or
// CSTR_GREATER_THAN; 0 with ERROR_INVALID_PARAMETER (a NULL string, an unknown locale) or
// ERROR_INVALID_FLAGS.
SKY_API int WINAPI CompareStringW(LCID Locale, DWORD dwCmpFlags, PCNZWCH lpString1, int cchCount1,
                                  PCNZWCH lpString2, int cchCount2);
// CSTR_LESS_THAN, CSTR_EQUAL or CSTR_GREATER_THAN; a count of -1 means NUL-terminated; 0 with
// ERROR_INVALID_PARAMETER for a NULL string or a count below -1.
SKY_API int WINAPI CompareStringOrdinal(LPCWSTR lpString1, int cchCount1, LPCWSTR lpString2,
                                        int cchCount2, BOOL bIgnoreCase);

// Formats into buffer (count code units including the terminator). Returns the length written.
// Output that does not fit, a NULL buffer or format, a zero count or a bad format: -1 and an
// empty buffer (Windows would also raise its invalid-parameter handler; here the call just fails).
SKY_API int swprintf_s(WCHAR* buffer, std::size_t count, const WCHAR* format, ...);
SKY_API int vswprintf_s(WCHAR* buffer, std::size_t count, const WCHAR* format, va_list args);

// Writes at most count code units. Returns the length when it is below count (terminated), count
// when it equals count (not terminated), -1 when the output is longer (count units written, not
// terminated). With a NULL buffer and a zero count it returns the length the output needs.
SKY_API int _snwprintf(WCHAR* buffer, std::size_t count, const WCHAR* format, ...);
SKY_API int _vsnwprintf(WCHAR* buffer, std::size_t count, const WCHAR* format, va_list args);

// Windows' wsprintfW: no buffer size; writes at most 1023 code units and a terminator.
SKY_API int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);
SKY_API int wvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args);
}

// The standard swprintf for WCHAR: at most count code units including the terminator. Output that
// does not fit is cut, terminated, and the call returns -1.
SKY_API int swprintf(WCHAR* buffer, std::size_t count, const WCHAR* format, ...);
SKY_API int vswprintf(WCHAR* buffer, std::size_t count, const WCHAR* format, va_list args);

// The standard swscanf for WCHAR input: whitespace in the format matches any run of whitespace
// (or none), other characters match themselves, and the conversions %d %i %u %o %x %X %c %s %[set]
// %n %% read as the C library's do, with "*" to skip an assignment, a maximum width and the sizes
// of the formatting functions above. %s, %c and %[ store WCHARs (%S, %hs, %hc, %C store UTF-8).
// Returns the number of assignments, or EOF (-1) when there is nothing to read before the first
// conversion: an empty input, or only blanks before a %s (blanks before %d give 0).
// Digits beyond an integer's range wrap around, as in the Windows C library.
SKY_API int swscanf(const WCHAR* input, const WCHAR* format, ...);
SKY_API int vswscanf(const WCHAR* input, const WCHAR* format, va_list args);

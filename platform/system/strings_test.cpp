#include <climits>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "win/errors.h"
#include "win/lasterror.h"
#include "win/strings.h"

namespace {

std::u16string formatted(const WCHAR* format, auto... args) {
    WCHAR buffer[512];
    const int n = swprintf_s(buffer, 512, format, args...);
    EXPECT_GE(n, 0) << "format refused";
    return n < 0 ? u"<refused>" : std::u16string(buffer, static_cast<std::size_t>(n));
}

} // namespace

TEST(LstrFunctions, CopyConcatenateAndLength) {
    WCHAR buffer[16];
    EXPECT_EQ(lstrlenW(nullptr), 0);
    EXPECT_EQ(lstrcpyW(buffer, u"abc"), buffer);
    EXPECT_EQ(lstrcatW(buffer, u"def"), buffer);
    EXPECT_EQ(std::u16string(buffer), u"abcdef");
    EXPECT_EQ(lstrlenW(buffer), 6);
    EXPECT_EQ(lstrcpyW(nullptr, u"x"), nullptr);

    // lstrcpyn copies at most n - 1 units and always terminates.
    WCHAR small[4] = {u'x', u'x', u'x', u'x'};
    lstrcpynW(small, u"abcdef", 4);
    EXPECT_EQ(std::u16string(small), u"abc");
    lstrcpynW(small, u"z", 4);
    EXPECT_EQ(std::u16string(small), u"z");
    small[0] = u'q';
    lstrcpynW(small, u"abc", 0);
    EXPECT_EQ(small[0], u'q') << "a zero length writes nothing";
    lstrcpynW(small, u"abc", 1);
    EXPECT_EQ(small[0], 0);
}

TEST(LstrFunctions, ComparisonsGiveMinusOneZeroOrOne) {
    // Linguistic-like order: letters ignore case first, lower case first on a tie.
    EXPECT_EQ(lstrcmpW(u"a", u"B"), -1);
    EXPECT_EQ(lstrcmpW(u"a", u"A"), -1);
    EXPECT_EQ(lstrcmpW(u"A", u"b"), -1);
    EXPECT_EQ(lstrcmpW(u"abc", u"abc"), 0);
    EXPECT_EQ(lstrcmpW(u"abcd", u"ABC"), 1);
    EXPECT_EQ(lstrcmpW(nullptr, u""), -1); // a null string sorts before the empty one

    EXPECT_EQ(lstrcmpiW(u"RegServer", u"regserver"), 0);
    EXPECT_EQ(lstrcmpiW(u"UnRegServer", u"RegServer"), 1);
    EXPECT_EQ(lstrcmpiW(u"\u00e9t\u00e9", u"\u00c9T\u00c9"), 0);
    EXPECT_EQ(lstrcmpiW(u"Help", u"HelpX"), -1);

    EXPECT_EQ(CompareStringOrdinal(u"abc", -1, u"ABC", -1, TRUE), CSTR_EQUAL);
    EXPECT_EQ(CompareStringOrdinal(u"abc", -1, u"ABC", -1, FALSE), CSTR_GREATER_THAN);
    EXPECT_EQ(CompareStringOrdinal(u"INSTALLPATH\\x", 11, u"installpath", 11, TRUE), CSTR_EQUAL);
    EXPECT_EQ(CompareStringOrdinal(u"ab", 1, u"ab", 2, FALSE), CSTR_LESS_THAN);
    SetLastError(0);
    EXPECT_EQ(CompareStringOrdinal(nullptr, -1, u"a", -1, FALSE), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(WideFormat, StringConversionsFollowTheWideConvention) {
    // %s is a WCHAR string in the wide functions, %S a narrow one.
    EXPECT_EQ(formatted(u"%s\\resource\\%s-%s\\%sUI.dll", u"C:\\WINDOWS\\System32", u"en", u"US",
                        u"qvcom"),
              u"C:\\WINDOWS\\System32\\resource\\en-US\\qvcomUI.dll");
    EXPECT_EQ(formatted(u"[%S]", "Gr\xc3\xbc\xc3\x9f"), u"[Gr\u00fc\u00df]");
    EXPECT_EQ(formatted(u"[%hs|%ls|%ws]", "n", u"w", u"v"), u"[n|w|v]");
    EXPECT_EQ(formatted(u"[%5s|%-5s|%.2s|%*s]", u"ab", u"ab", u"abcdef", 3, u"x"),
              u"[   ab|ab   |ab|  x]");
    EXPECT_EQ(formatted(u"%s", static_cast<const WCHAR*>(nullptr)), u"(null)");
    EXPECT_EQ(formatted(u"%c%C%lc%hc", u'W', 'n', u'\u00e9', 'x'), u"Wn\u00e9x");
    EXPECT_EQ(formatted(u"100%%"), u"100%");
}

TEST(WideFormat, IntegersWithFlagsWidthsAndSizes) {
    EXPECT_EQ(formatted(u"%d", -2147467259), u"-2147467259");
    EXPECT_EQ(formatted(u"%i|%u", 42, 0x80004005u), u"42|2147500037");
    EXPECT_EQ(formatted(u"%x|%X|%08X|%#x|%o", 255, 255, 0xBEEFu, 255, 8),
              u"ff|FF|0000BEEF|0xff|10");
    EXPECT_EQ(formatted(u"[%5d|%-5d|%+d|% d|%05d|%.3d]", 42, 42, 42, 42, -42, 7),
              u"[   42|42   |+42| 42|-0042|007]");
    EXPECT_EQ(formatted(u"%*d|%-*d|%.*d", 4, 1, -4, 2, 3, 5), u"   1|2   |005");
    // l is 32 bits, as Windows' long: LONG and DWORD are passed.
    EXPECT_EQ(formatted(u"%ld|%lu|%lx", static_cast<LONG>(-5), static_cast<DWORD>(4000000000u),
                        static_cast<DWORD>(0xFFFFFFFFu)),
              u"-5|4000000000|ffffffff");
    EXPECT_EQ(formatted(u"%I64d|%lld|%I64u", -9000000000LL, 9000000000LL, ~0ULL),
              u"-9000000000|9000000000|18446744073709551615");
    EXPECT_EQ(formatted(u"%hd|%hhu|%zu|%I32d", 70000, 300, static_cast<std::size_t>(5), -1),
              u"4464|44|5|-1");
    EXPECT_EQ(formatted(u"%.2f|%e", 3.14159, 1.5), u"3.14|1.500000e+00");
    EXPECT_EQ(formatted(u"%p", reinterpret_cast<void*>(0x12ff7c)), u"000000000012FF7C");
}

TEST(WideFormat, SwprintfSRefusesWhatDoesNotFit) {
    WCHAR buffer[8];
    EXPECT_EQ(swprintf_s(buffer, 8, u"%s", u"1234567"), 7);
    EXPECT_EQ(std::u16string(buffer), u"1234567");
    EXPECT_EQ(swprintf_s(buffer, 8, u"%s", u"12345678"), -1);
    EXPECT_EQ(buffer[0], 0) << "the buffer is emptied";
    EXPECT_EQ(swprintf_s(nullptr, 8, u"x"), -1);
    EXPECT_EQ(swprintf_s(buffer, 0, u"x"), -1);
    // %n and unknown conversions are refused.
    int count = 0;
    EXPECT_EQ(swprintf_s(buffer, 8, u"ab%n", &count), -1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(swprintf_s(buffer, 8, u"%k"), -1);
}

TEST(WideFormat, SnwprintfTruncatesWithoutTerminator) {
    WCHAR buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(_snwprintf(buffer, 5, u"%d", 1234), 4);
    EXPECT_EQ(std::u16string(buffer), u"1234");

    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(_snwprintf(buffer, 4, u"%d", 1234), 4) << "exactly full: the length, no terminator";
    EXPECT_EQ(std::u16string(buffer, 5), u"1234#");

    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(_snwprintf(buffer, 3, u"%d", 1234), -1);
    EXPECT_EQ(std::u16string(buffer, 4), u"123#") << "count units written, nothing more";

    EXPECT_EQ(_snwprintf(nullptr, 0, u"%s-%d", u"abc", 12345), 9) << "the size needed";
}

TEST(WideFormat, StandardSwprintfAndWsprintf) {
    WCHAR buffer[6];
    EXPECT_EQ(swprintf(buffer, 6, u"%d", 12345), 5);
    EXPECT_EQ(swprintf(buffer, 6, u"%d", 123456), -1);
    EXPECT_EQ(std::u16string(buffer), u"12345") << "cut and terminated";

    std::u16string big(2000, u'x');
    WCHAR large[1100];
    EXPECT_EQ(wsprintfW(large, u"%s", big.c_str()), 1023);
    EXPECT_EQ(large[1023], 0);
    EXPECT_EQ(wsprintfW(large, u"%s=%lu", u"Count", static_cast<DWORD>(7)), 7);
    EXPECT_EQ(std::u16string(large), u"Count=7");
}

TEST(WideScan, ServicePackNumber) {
    int n = -1;
    EXPECT_EQ(swscanf(u"Service Pack 6", u"Service Pack %d", &n), 1);
    EXPECT_EQ(n, 6);
    n = -1;
    EXPECT_EQ(swscanf(u"Service Pack 12a", u"Service Pack %d", &n), 1);
    EXPECT_EQ(n, 12);

    // Input that ends before the number, or a mismatch: 0 assignments, and n stays as it was.
    n = -1;
    EXPECT_EQ(swscanf(u"Service Pack ", u"Service Pack %d", &n), 0);
    EXPECT_EQ(swscanf(u"Service", u"Service Pack %d", &n), 0);
    EXPECT_EQ(swscanf(u"Service Pack x", u"Service Pack %d", &n), 0);
    EXPECT_EQ(swscanf(u"Build 1381", u"Service Pack %d", &n), 0);
    // Only an empty input is EOF.
    EXPECT_EQ(swscanf(u"", u"Service Pack %d", &n), EOF);
    EXPECT_EQ(n, -1);
}

TEST(WideScan, BlanksAloneAreNoEndOfInputForNumbers) {
    int n = -1;
    WCHAR word[8] = {};
    // Blanks before a number are a failed match (0); nothing at all is EOF.
    EXPECT_EQ(swscanf(u"   ", u"%d", &n), 0);
    EXPECT_EQ(swscanf(u"\t\n ", u" %x", &n), 0);
    EXPECT_EQ(swscanf(u"  -", u"%i", &n), 0);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(swscanf(u"", u"%d", &n), EOF);
    EXPECT_EQ(swscanf(u"", u" %d", &n), EOF);
    EXPECT_EQ(swscanf(u"", u"x", &n), EOF);
    // A string has nothing to read in blanks alone: EOF before any conversion, the count after.
    EXPECT_EQ(swscanf(u"   ", u"%s", word), EOF);
    EXPECT_EQ(swscanf(u"ab ", u"%s%d", word, &n), 1);
    EXPECT_EQ(swscanf(u"5 ", u"%d%d", &n, &n), 1);
    EXPECT_EQ(swscanf(u"  ", u"%c", word), 1);
}

TEST(WideScan, IntegersInEveryBase) {
    int a = 0, b = 0;
    unsigned u = 0;
    EXPECT_EQ(swscanf(u"  42 \t -17", u"%d%d", &a, &b), 2);
    EXPECT_EQ(a, 42);
    EXPECT_EQ(b, -17);
    EXPECT_EQ(swscanf(u"0x1F ff", u"%x %X", &a, &b), 2);
    EXPECT_EQ(a, 31);
    EXPECT_EQ(b, 255);
    EXPECT_EQ(swscanf(u"010 0x10 10", u"%i %i %i", &a, &b, &u), 3);
    EXPECT_EQ(a, 8);
    EXPECT_EQ(b, 16);
    EXPECT_EQ(u, 10u);
    EXPECT_EQ(swscanf(u"4294967295", u"%u", &u), 1);
    EXPECT_EQ(u, 4294967295u);
    EXPECT_EQ(swscanf(u"4294967297", u"%d", &a), 1);
    EXPECT_EQ(a, 1) << "digits beyond the range wrap around";
    EXPECT_EQ(swscanf(u"12345", u"%2d%d", &a, &b), 2);
    EXPECT_EQ(a, 12);
    EXPECT_EQ(b, 345);
    EXPECT_EQ(swscanf(u"0xg", u"%x", &a), 1);
    EXPECT_EQ(a, 0) << "a prefix without digits reads the zero";

    short s = 0;
    long long big = 0;
    EXPECT_EQ(swscanf(u"-3 9000000000", u"%hd %I64d", &s, &big), 2);
    EXPECT_EQ(s, -3);
    EXPECT_EQ(big, 9000000000LL);

    // %ld stores 32 bits, as into Windows' LONG.
    LONG l[2] = {0, 0x7777};
    EXPECT_EQ(swscanf(u"-8", u"%ld", &l[0]), 1);
    EXPECT_EQ(l[0], -8);
    EXPECT_EQ(l[1], 0x7777) << "nothing written beyond the LONG";
}

TEST(WideScan, TextLiteralsAndSuppression) {
    WCHAR word[16] = {};
    WCHAR rest[16] = {};
    EXPECT_EQ(swscanf(u"  hello world", u"%s %s", word, rest), 2);
    EXPECT_EQ(std::u16string(word), u"hello");
    EXPECT_EQ(std::u16string(rest), u"world");
    EXPECT_EQ(swscanf(u"abcdefgh", u"%3s", word), 1);
    EXPECT_EQ(std::u16string(word), u"abc");

    int value = 0;
    int consumed = 0;
    EXPECT_EQ(swscanf(u"skip 7 rest", u"%*s %d%n", &value, &consumed), 1)
        << "suppressed and %n conversions are not counted";
    EXPECT_EQ(value, 7);
    EXPECT_EQ(consumed, 6);

    WCHAR c[2] = {};
    EXPECT_EQ(swscanf(u" x", u"%c", c), 1);
    EXPECT_EQ(c[0], u' ') << "%c does not skip whitespace";

    EXPECT_EQ(swscanf(u"key=Value;x", u"key=%[^;]", word), 1);
    EXPECT_EQ(std::u16string(word), u"Value");
    EXPECT_EQ(swscanf(u"abc123", u"%[a-c]%d", word, &value), 2);
    EXPECT_EQ(std::u16string(word), u"abc");
    EXPECT_EQ(value, 123);

    EXPECT_EQ(swscanf(u"50%", u"%d%%", &value), 1);
    EXPECT_EQ(swscanf(u"[5]", u"[%d]", &value), 1);
    EXPECT_EQ(swscanf(u"(5]", u"[%d]", &value), 0);

    char utf8[16] = {};
    EXPECT_EQ(swscanf(u"gr\u00fc\u00df", u"%S", utf8), 1);
    EXPECT_EQ(std::string(utf8), "gr\xc3\xbc\xc3\x9f");
}

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sky/commandline.h"
#include "sky/text.h"
#include "win/environment.h"
#include "win/errors.h"
#include "win/lasterror.h"

namespace {

using Arguments = std::vector<std::u16string>;

Arguments toArgv(const WCHAR* line) {
    int count = -1;
    LPWSTR* argv = CommandLineToArgvW(line, &count);
    EXPECT_NE(argv, nullptr);
    Arguments arguments;
    for (int i = 0; argv && i < count; ++i)
        arguments.emplace_back(argv[i]);
    if (argv) {
        EXPECT_EQ(argv[count], nullptr) << "the array ends with a NULL entry";
    }
    EXPECT_EQ(LocalFree(argv), nullptr);
    return arguments;
}

struct SplitCase {
    const char16_t* line;
    Arguments expected;
};

} // namespace

TEST(CommandLineToArgv, DocumentedQuotingAndBackslashRules) {
    const SplitCase cases[] = {
        // The table of Windows' documentation (but for its doubled quote, below).
        {u"p \"abc\" d e", {u"p", u"abc", u"d", u"e"}},
        {u"p a\\\\b d\"e f\"g h", {u"p", u"a\\\\b", u"de fg", u"h"}},
        {u"p a\\\\\\\"b c d", {u"p", u"a\\\"b", u"c", u"d"}},
        {u"p a\\\\\\\\\"b c\" d e", {u"p", u"a\\\\b c", u"d", u"e"}},
        // Doubled quotes outside quotes open and close an empty stretch.
        {u"p \"\"\"\"", {u"p", u"\""}},
        {u"p a\"\"b", {u"p", u"ab"}},
        // Empty arguments, blanks and tabs.
        {u"p \"\" b \"\"", {u"p", u"", u"b", u""}},
        {u"p\ta\t\t b  ", {u"p", u"a", u"b"}},
        {u"p \"a\tb\"", {u"p", u"a\tb"}},
        // Backslashes not before a quote are literal, also at the end.
        {u"p a\\ b\\\\", {u"p", u"a\\", u"b\\\\"}},
        {u"p \"a\\\\\"", {u"p", u"a\\"}},
        {u"p \"a\\\"", {u"p", u"a\""}},
        {u"p \"unterminated arg", {u"p", u"unterminated arg"}},
        // The program name: to the next quote, or to the first blank; backslashes literal.
        {u"\"C:\\Program Files\\qvcom.exe\" /RegServer",
         {u"C:\\Program Files\\qvcom.exe", u"/RegServer"}},
        {u"\"C:\\dir\\\"next arg", {u"C:\\dir\\", u"next", u"arg"}},
        {u"\"a\"b c", {u"a", u"b", u"c"}},
        {u"C:\\dir\\x.exe\\ \"a b\"", {u"C:\\dir\\x.exe\\", u"a b"}},
        {u"x\"y z", {u"x\"y", u"z"}},
        {u" a b", {u"", u"a", u"b"}},
        {u"\"\" a", {u"", u"a"}},
        {u"prog", {u"prog"}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(sky::narrow(c.line));
        EXPECT_EQ(toArgv(c.line), c.expected);
        EXPECT_EQ(sky::splitCommandLine(c.line), c.expected);
    }
}

TEST(CommandLineToArgv, ADoubledQuoteInsideQuotesEndsTheQuoting) {
    // Inside quotes "" is a literal quote and ends the quoting ("2n backslashes, 3n quotes"):
    // what Windows answers, where a program's own start-up goes on quoting.
    const SplitCase cases[] = {
        {u"exe \"two\"\"quotes next", {u"exe", u"two\"quotes", u"next"}},
        {u"exe three\"\"\"quotes next", {u"exe", u"three\"quotes", u"next"}},
        {u"exe \"four\"\"\"\"quotes next", {u"exe", u"four\"quotes", u"next"}},
        {u"exe \"\"\"\" next", {u"exe", u"\" next"}},
        {u"exe \"\"\"\"\"\" next", {u"exe", u"\"\"", u"next"}},
        {u"exe \"\"\" x", {u"exe", u"\"", u"x"}},
        {u"exe 5\"\"\"\"\"\" x", {u"exe", u"5\"\"", u"x"}},
        {u"exe \"a\"\"\"b c", {u"exe", u"a\"b c"}},
        {u"exe \"ab\"\"\"\"cd\" x", {u"exe", u"ab\"cd x"}},
        {u"exe \"a\\\"\"b c", {u"exe", u"a\"b", u"c"}},
        {u"p a\"b\"\" c d", {u"p", u"ab\"", u"c", u"d"}},
        {u"p \"a\"\"b\" c", {u"p", u"a\"b c"}},
        {u"p \"a b\"\"\"", {u"p", u"a b\""}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(sky::narrow(c.line));
        EXPECT_EQ(toArgv(c.line), c.expected);
        EXPECT_EQ(sky::splitCommandLine(c.line), c.expected);
    }

    // The C runtime's rule, by which a started program's argv is made, goes on quoting.
    const SplitCase runtime[] = {
        {u"exe \"two\"\"quotes next", {u"exe", u"two\"quotes next"}},
        {u"p a\"b\"\" c d", {u"p", u"ab\" c d"}},
        {u"p \"a\"\"b\" c", {u"p", u"a\"b", u"c"}},
        {u"exe \"two\"\"quotes next a\"b\"\" c d", {u"exe", u"two\"quotes next ab", u"c", u"d"}},
        {u"p \"\"\"\"", {u"p", u"\""}},
    };
    for (const SplitCase& c : runtime) {
        SCOPED_TRACE(sky::narrow(c.line));
        EXPECT_EQ(sky::splitCommandLine(c.line, sky::DoubledQuote::KeepsQuoting), c.expected);
    }
}

TEST(CommandLineToArgv, EmptyLineGivesTheProgramFile) {
    const Arguments arguments = toArgv(u"");
    ASSERT_EQ(arguments.size(), 1u);
    EXPECT_EQ(arguments[0].substr(0, 3), u"Z:\\");
    EXPECT_NE(arguments[0].find(u"platform_system_test"), std::u16string::npos);

    SetLastError(0);
    EXPECT_EQ(CommandLineToArgvW(u"a b", nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CommandLineQuoting, EveryArgumentComesBack) {
    const Arguments tricky = {
        u"C:\\Program Files\\Brask Admin\\qvreg.exe",
        u"plain",
        u"",
        u"two words",
        u"tab\there",
        u"quote\"inside",
        u"\"",
        u"\"\"",
        u"trailing\\",
        u"trailing two\\\\",
        u"\\\"",
        u"a\\\\\"b",
        u"/uSERVER",
        u"gr\u00fc\u00df \u2603",
        u"\\\\server\\share\\",
    };
    EXPECT_EQ(sky::splitCommandLine(sky::joinCommandLine(tricky)), tricky);
    EXPECT_EQ(sky::quoteArgument(u"plain"), u"plain");
    EXPECT_EQ(sky::quoteArgument(u""), u"\"\"");
    EXPECT_EQ(sky::quoteArgument(u"a b\\"), u"\"a b\\\\\"");
    EXPECT_EQ(sky::quoteArgument(u"a\\\"b"), u"\"a\\\\\\\"b\"");
    EXPECT_EQ(sky::quoteProgramName(u"C:\\a b\\x.exe"), u"\"C:\\a b\\x.exe\"");

    // Random arguments over the characters that matter.
    std::mt19937 random(20240611);
    const char16_t alphabet[] = u"ab \t\"\\\\\\";
    for (int round = 0; round < 500; ++round) {
        Arguments arguments = {u"prog"};
        const int count = static_cast<int>(random() % 4) + 1;
        for (int i = 0; i < count; ++i) {
            std::u16string argument;
            const int length = static_cast<int>(random() % 7);
            for (int k = 0; k < length; ++k)
                argument.push_back(alphabet[random() % (std::size(alphabet) - 1)]);
            arguments.push_back(argument);
        }
        const std::u16string line = sky::joinCommandLine(arguments);
        ASSERT_EQ(sky::splitCommandLine(line), arguments) << sky::narrow(line);
        ASSERT_EQ(sky::splitCommandLine(line, sky::DoubledQuote::KeepsQuoting), arguments)
            << sky::narrow(line);
    }
}

TEST(GetCommandLine, GivesBackThisProcessArguments) {
    // This test program was not started through CreateProcessW: its arguments are quoted by the
    // Windows rules, and the program name is in Windows form.
    const std::vector<std::string> host = ::testing::internal::GetArgvs();
    const Arguments arguments = toArgv(GetCommandLineW());
    ASSERT_EQ(arguments.size(), host.size());
    for (std::size_t i = 1; i < host.size(); ++i)
        EXPECT_EQ(sky::narrow(arguments[i]), host[i]);
    EXPECT_EQ(arguments[0].find(u'/'), std::u16string::npos);
    EXPECT_EQ(GetCommandLineW(), GetCommandLineW()) << "one buffer for the process";
}

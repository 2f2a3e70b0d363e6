#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <limits>
#include <map>

#include <gtest/gtest.h>

#include "module_file.h"
#include "preprocessor.h"
#include "script.h"
#include "sky/fifo_reader.h"
#include "sky/machine.h"
#include "sky/temp_machine.h"
#include "sky/text.h"

namespace fs = std::filesystem;
using sky::resources::Resource;
using sky::resources::ResourceId;

namespace {

fs::path workDir() {
    return sky::machine::root() / "work";
}

fs::path writeFile(const std::string& name, const std::string& text) {
    const fs::path file = workDir() / name;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
    return file;
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

sky::rc::CompiledScript compile(const std::string& script, sky::rc::ScriptOptions options = {}) {
    return sky::rc::compileScript(writeFile("script.rc", script), options);
}

// (language, id) -> text of every string in the compiled string tables.
std::map<std::pair<WORD, unsigned>, std::u16string> stringsOf(const std::vector<Resource>& all) {
    std::map<std::pair<WORD, unsigned>, std::u16string> out;
    for (const Resource& r : all) {
        if (r.type != ResourceId(6))
            continue;
        std::u16string_view strings[16];
        EXPECT_TRUE(sky::resources::splitStringBlock(r.data, strings));
        for (unsigned i = 0; i < 16; ++i) {
            if (!strings[i].empty())
                out[{r.language, (r.name.id() - 1u) * 16 + i}] = std::u16string(strings[i]);
        }
    }
    return out;
}

// The error message compiling `script` gives, or "" when it compiles.
std::string errorOf(const std::string& script) {
    try {
        compile(script);
    } catch (const sky::rc::SourceError& e) {
        return e.what();
    }
    return "";
}

struct RcRun {
    int status;
    std::string output;
};

RcRun runRc(const std::string& arguments,
            const fs::path& program = sky::testing::buildBin() / "rc") {
    const std::string command = "'" + program.string() + "' " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    RcRun run{-1, ""};
    char chunk[4096];
    while (pipe && fgets(chunk, sizeof chunk, pipe))
        run.output += chunk;
    const int status = pipe ? pclose(pipe) : -1;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A line of `rc --list`.
std::string listRow(const char* type, const char* name, const char* language, std::size_t size) {
    char row[128];
    std::snprintf(row, sizeof row, "%-24s %-16s %-9s %zu\n", type, name, language, size);
    return row;
}

std::string quote(const fs::path& p) {
    return "'" + p.string() + "'";
}

} // namespace

TEST(Script, MergesStringTablesIntoBlocksOfSixteenPerLanguage) {
    const auto compiled = compile(R"(
        LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US
        STRINGTABLE BEGIN
            15, "fifteen"
            16 "sixteen"
        END
        STRINGTABLE PRELOAD DISCARDABLE { 17, "seventeen" }
        STRINGTABLE LANGUAGE 7, 1 BEGIN
            15, "fünfzehn"
        END
    )");
    const auto& resources = compiled.resources;
    ASSERT_EQ(resources.size(), 3u);
    std::map<std::pair<WORD, WORD>, std::size_t> blocks; // (language, block) -> size
    for (const Resource& r : resources)
        blocks[{r.language, r.name.id()}] = r.data.size();
    EXPECT_EQ(blocks.count({0x0409, 1}), 1u);
    EXPECT_EQ(blocks.count({0x0409, 2}), 1u);
    EXPECT_EQ(blocks.count({0x0407, 1}), 1u);
    // Block 1 of English: fifteen empty slots and "fifteen".
    EXPECT_EQ((blocks[{0x0409, 1}]), 15 * 2 + 2 + 2 * 7);

    const auto strings = stringsOf(resources);
    EXPECT_EQ((strings.at({0x0409, 15})), u"fifteen");
    EXPECT_EQ((strings.at({0x0409, 16})), u"sixteen");
    EXPECT_EQ((strings.at({0x0409, 17})), u"seventeen");
    EXPECT_EQ((strings.at({0x0407, 15})), u"f\u00fcnfzehn");
}

TEST(Script, ResolvesEscapesQuotesAndConcatenation) {
    const auto strings = stringsOf(compile(R"(
        STRINGTABLE BEGIN
            1, "a ""quoted"" \"word\""
            2, "tab\there\nline\\slash\x41\x263A\101\0end"
            3, "con" L"cat" "enated"
            4, "Grüße"
            5, ""
        END
    )")
                                       .resources);
    EXPECT_EQ((strings.at({0x0409, 1})), u"a \"quoted\" \"word\"");
    EXPECT_EQ((strings.at({0x0409, 2})),
              std::u16string(u"tab\there\nline\\slashA\u263AA\0end", 26));
    EXPECT_EQ((strings.at({0x0409, 3})), u"concatenated");
    EXPECT_EQ((strings.at({0x0409, 4})), u"Gr\u00fc\u00dfe") << "UTF-8 text";
    EXPECT_EQ(strings.count({0x0409, 5}), 0u) << "an empty string is an empty slot";
}

TEST(Script, PreprocessesLikeAResourceCompiler) {
    writeFile("include/ids.h", R"(
        #pragma once
        #ifndef IDS_H
        #define IDS_H
        #define IDS_BASE 0x100
        #define IDS_NEXT (IDS_BASE + 1) /* a comment
                                           over lines */
        #define CODE_ONLY(x) ((x) + 1)
        struct CodeOnly { int member; };   // C code: not part of the script
        #if defined(FEATURE) && VERSION >= 3
        #define IDS_FEATURE 3
        #elif VERSION == 2
        #define IDS_FEATURE 2
        #else
        #define IDS_FEATURE 1
        #endif
        #endif
    )");
    sky::rc::ScriptOptions options;
    options.includeDirs = {workDir() / "include"};
    options.defines = {{"FEATURE", "1"}, {"VERSION", "3"}};
    const auto compiled = compile(R"(
        #include "ids.h"
        #include "ids.h"
        #ifdef NOT_DEFINED
        #error never
        #endif
        STRINGTABLE
        BEGIN
            IDS_BASE, "base"    // a comment
            IDS_NEXT, "next"
            IDS_FEATURE, "feature"
            IDS_BASE + 2 * 8 | 1, "computed"
        END
    )",
                                  options);
    const auto strings = stringsOf(compiled.resources);
    EXPECT_EQ((strings.at({0x0409, 0x100})), u"base");
    EXPECT_EQ((strings.at({0x0409, 0x101})), u"next");
    EXPECT_EQ((strings.at({0x0409, 3})), u"feature");
    EXPECT_EQ((strings.at({0x0409, 0x111})), u"computed");
    EXPECT_EQ(compiled.files.size(), 3u) << "the script and the header, read twice";

    options.defines = {{"VERSION", "2"}};
    EXPECT_EQ(
        (stringsOf(
             compile("#include \"ids.h\"\nSTRINGTABLE { IDS_FEATURE, \"x\" }", options).resources)
             .count({0x0409, 2})),
        1u);
}

TEST(Script, TakesResourcesFromFiles) {
    writeFile("data/library.bin", std::string("lib\0rary", 8));
    const auto compiled = compile(R"(
        #define IDR_DATA 5
        LANGUAGE LANG_NEUTRAL, SUBLANG_NEUTRAL
        1 TYPELIB "data/library.bin"
        IDR_DATA RCDATA DISCARDABLE "data/library.bin"
        LANGUAGE LANG_GERMAN, SUBLANG_GERMAN
        Named 300 "data/library.bin"
    )");
    ASSERT_EQ(compiled.resources.size(), 3u);
    const Resource& typelib = compiled.resources[0];
    EXPECT_EQ(typelib.type, ResourceId::named(u"TYPELIB"));
    EXPECT_EQ(typelib.name, ResourceId(1));
    EXPECT_EQ(typelib.language, 0);
    EXPECT_EQ(std::string(typelib.data.begin(), typelib.data.end()), std::string("lib\0rary", 8));
    EXPECT_EQ(compiled.resources[1].type, ResourceId(10));
    EXPECT_EQ(compiled.resources[1].name, ResourceId(5));
    EXPECT_EQ(compiled.resources[2].type, ResourceId(300));
    EXPECT_EQ(compiled.resources[2].name.name(), u"NAMED");
    EXPECT_EQ(compiled.resources[2].language, 0x0407);
}

TEST(Script, ReportsFaultsWithFileAndLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"STRINGTABLE\nBEGIN\n 1, \"open\nEND", ":3: string not closed"},
        {"STRINGTABLE { 1, \"bad \\q escape\" }", ":1: unknown escape sequence \\q"},
        {"STRINGTABLE {\n 7, \"a\"\n 7, \"b\"\n}", ":3:2: string 7 is defined twice (first at "},
        {"STRINGTABLE { 70000, \"big\" }", ":1:15: string identifier 70000 out of range"},
        {"STRINGTABLE { 1, \"a\"", "END missing"},
        {"STRINGTABLE { IDS_UNKNOWN, \"a\" }", ":1:15: unknown string identifier IDS_UNKNOWN"},
        {"STRINGTABLE { 1 }", "the text of string 1 is missing"},
        {"STRINGTABLE 1, \"a\"", "BEGIN or { expected after STRINGTABLE"},
        {"#if 1\nSTRINGTABLE { 1, \"a\" }", "#if without #endif"},
        {"#endif", ":1: #endif without #if"},
        {"#include \"missing.h\"", ":1: cannot find missing.h"},
        {"/* open\n comment", ":1: comment not closed"},
        {"#frobnicate", "unknown directive #frobnicate"},
        {"LANGUAGE 9", "LANGUAGE needs a language and a sublanguage"},
        {"1 DIALOG \"x.dlg\"", "DIALOG resources are not supported"},
        {"1 RCDATA BEGIN 1 END", "resources are taken from files only"},
        {"1 RCDATA \"missing.bin\"", "cannot find missing.bin"},
        {"STRINGTABLE { 1, \"a\" } $", "unexpected character '$'"},
        {"STRINGTABLE { 08, \"a\" }", "bad number 08"},
        {"#error stop here", ":1: #error stop here"},
    };
    for (const auto& [script, expected] : cases) {
        const std::string message = errorOf(script);
        EXPECT_NE(message.find(expected), std::string::npos)
            << "script: " << script << "\nmessage: " << message;
        EXPECT_NE(message.find("script.rc:"), std::string::npos) << message;
    }
}

TEST(Script, DeepNestingIsRefusedWithItsPlaceNotAStackOverflow) {
    const std::string parens = std::string(10000, '(') + "1" + std::string(10000, ')');
    EXPECT_EQ(errorOf("STRINGTABLE {\n  " + parens + ", \"deep\"\n}"),
              (workDir() / "script.rc").string() +
                  ":2:259: expression nested more than 256 levels deep");
    EXPECT_EQ(errorOf("#if " + parens + "\n#endif"),
              (workDir() / "script.rc").string() +
                  ":1:261: expression nested more than 256 levels deep");
    EXPECT_NE(errorOf("STRINGTABLE { " + std::string(60000, '-') + "1, \"x\" }")
                  .find(":1:271: expression nested more than 256 levels deep"),
              std::string::npos);
    // A chain of macros, each naming the next.
    std::string chain;
    for (int i = 0; i < 5000; ++i)
        chain += "#define M" + std::to_string(i) + " M" + std::to_string(i + 1) + "\n";
    EXPECT_NE(errorOf(chain + "#if M0\n#endif").find("macros nested more than 256 levels deep"),
              std::string::npos);
    // As deep as a script may go still compiles.
    const std::string allowed = std::string(255, '(') + "1" + std::string(255, ')');
    EXPECT_EQ(
        stringsOf(compile("STRINGTABLE { " + allowed + ", \"ok\" }").resources).at({0x0409, 1}),
        u"ok");
}

TEST(Script, ArithmeticWrapsAroundInsteadOfOverflowing) {
    // 2^63 wraps to the smallest long; dividing it by -1 traps on the processor unless the
    // evaluator takes care.
    EXPECT_EQ(errorOf("#if 0x80000000 * 0x80000000 * 2 / -1 != 0x80000000 * 0x80000000 * 2\n"
                      "#error not wrapped\n#endif\n"
                      "#if 0x80000000 * 0x80000000 * 2 % -1\n#error remainder\n#endif"),
              "");
    const long min = std::numeric_limits<long>::min();
    std::vector<sky::rc::Token> tokens(4);
    tokens[0].kind = sky::rc::Token::Kind::Number;
    tokens[0].value = static_cast<unsigned long>(min);
    tokens[1].kind = sky::rc::Token::Kind::Punct;
    tokens[1].text = "/";
    tokens[2].kind = sky::rc::Token::Kind::Number;
    tokens[2].value = static_cast<unsigned long>(-1L);
    std::size_t pos = 0;
    EXPECT_EQ(sky::rc::evaluate(tokens, pos), min);
    tokens[1].text = "%";
    pos = 0;
    EXPECT_EQ(sky::rc::evaluate(tokens, pos), 0);
    tokens[1].text = "*";
    pos = 0;
    EXPECT_EQ(sky::rc::evaluate(tokens, pos), min);
    tokens[0].kind = sky::rc::Token::Kind::Punct;
    tokens[0].text = "-";
    tokens[1].kind = sky::rc::Token::Kind::Number;
    tokens[1].value = static_cast<unsigned long>(min);
    tokens[2] = sky::rc::Token();
    pos = 0;
    EXPECT_EQ(sky::rc::evaluate(tokens, pos), min);
}

TEST(RcProgram, AnEndlessInputIsRefused) {
    const RcRun run = runRc("/dev/zero -o " + quote(workDir() / "zero.dll"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("/dev/zero is larger than 64 MiB"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(workDir() / "zero.dll"));
}

TEST(RcProgram, BuildsAResourceOnlyModuleAndListsIt) {
    writeFile("ids.h", "#define IDS_HELLO 100\n");
    const fs::path script = writeFile("ui.rc", "#include \"ids.h\"\n"
                                               "STRINGTABLE { IDS_HELLO, \"hello\\tworld\" }\n");
    const fs::path module = workDir() / "out" / "resource" / "en" / "ui.dll";
    const fs::path depfile = workDir() / "ui.d";
    RcRun run = runRc(quote(script) + " -o " + quote(module) + " --depfile " + quote(depfile));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(sky::rc::readResources(module).size(), 1u);
    const std::string deps = readFile(depfile);
    EXPECT_EQ(deps.find(module.string() + ":"), 0u) << deps;
    EXPECT_NE(deps.find((workDir() / "ids.h").string()), std::string::npos) << deps;

    run = runRc("--list " + quote(module));
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find("RT_STRING (6)"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("0x0409"), std::string::npos) << run.output;
    run = runRc("--strings " + quote(module));
    EXPECT_EQ(run.output, "   100  0x0409  \"hello\\tworld\"\n");
}

// An output that is no regular file (a FIFO here, /dev/null alike) is written into as it stands,
// never replaced by a file.
TEST(RcProgram, WritesAModuleIntoAFifoAndLeavesItAFifo) {
    const fs::path script = writeFile("ui.rc", "STRINGTABLE { 100, \"hello\" }\n");
    ASSERT_EQ(runRc(quote(script) + " -o " + quote(workDir() / "ui.dll")).status, 0);
    const fs::path fifo = workDir() / "pipe.dll";
    sky::testing::FifoReader reader(fifo);
    const RcRun run = runRc(quote(script) + " -o " + quote(fifo));
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(reader.finish(), readFile(workDir() / "ui.dll"));
    EXPECT_EQ(fs::symlink_status(fifo).type(), fs::file_type::fifo);
}

TEST(RcProgram, AddsResourcesToAProgramThatStillRuns) {
    // The rc program itself serves as the program that receives resources.
    const fs::path program = workDir() / "bin" / "rc-copy";
    fs::create_directories(program.parent_path());
    fs::copy_file(sky::testing::buildBin() / "rc", program);
    const fs::path first = writeFile("first.bin", "first contents");
    const fs::path second = writeFile("second.bin", std::string(3000, 'x'));

    RcRun run =
        runRc("--add-resource TYPELIB 1 1033 " + quote(first) + " --into " + quote(program));
    ASSERT_EQ(run.status, 0) << run.output;
    const auto sizeAfterFirst = fs::file_size(program);
    run = runRc("--add-resource TYPELIB 1 1033 " + quote(first) + " --into " + quote(program));
    EXPECT_EQ(fs::file_size(program), sizeAfterFirst) << "replacing leaves nothing behind";
    run = runRc("--add-resource RT_RCDATA 0x10 0 " + quote(second) + " --into " + quote(program));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE((fs::status(program).permissions() & fs::perms::owner_exec) != fs::perms::none);

    // The edited program runs and reads its own file.
    run = runRc("--list " + quote(program), program);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find(listRow("TYPELIB", "1", "0x0409", 14)), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(listRow("RT_RCDATA (10)", "16", "0x0000", 3000)), std::string::npos)
        << run.output;
}

TEST(RcProgram, ReportsMisuseAndBadFiles) {
    const fs::path text = writeFile("plain.txt", "not a module");
    RcRun run = runRc("--add-resource 10 1 0 " + quote(text) + " --into " + quote(text));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("is not a module or program of this machine"), std::string::npos)
        << run.output;
    EXPECT_EQ(readFile(text), "not a module") << "nothing changed";

    run = runRc("--list " + quote(workDir() / "missing.dll"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("cannot read"), std::string::npos);

    const fs::path script = writeFile("bad.rc", "STRINGTABLE { 1, \"x }\n");
    run = runRc(quote(script) + " -o " + quote(workDir() / "bad.dll"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("bad.rc:1: string not closed"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(workDir() / "bad.dll"));

    EXPECT_EQ(runRc("").status, 2);
    // Misuse that the command-line parser finds is misuse too (it was CLI11's own 109, 105, ...).
    EXPECT_EQ(runRc("--no-such-option").status, 2);
    EXPECT_EQ(runRc("one.rc two.rc").status, 2);
    EXPECT_EQ(runRc("--add-resource 10 1").status, 2);
    EXPECT_EQ(runRc(quote(script)).status, 2) << "a script needs -o or --into";
    EXPECT_EQ(runRc("--add-resource 10 1 99999 " + quote(text) + " --into " + quote(text)).status,
              2);
    run = runRc("--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find("--add-resource"), std::string::npos);
}

// rc: the resource compiler. Builds resource-only modules from resource scripts, puts resources
// into programs and modules, and shows what a module carries.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>

#include <CLI/CLI.hpp>

#include "module_file.h"
#include "preprocessor.h"
#include "script.h"
#include "sky/text.h"
#include "symbols.h"

namespace fs = std::filesystem;
using sky::resources::Resource;
using sky::resources::ResourceId;

namespace {

constexpr const char* kExamples = R"(
Examples:
  rc strings.rc -o resource/en/qvcomUI.dll      compile a script into a resource-only module
  rc strings.rc --into program                  compile a script into an existing program
  rc --add-resource TYPELIB 1 1033 SkyloomCOM.tlb --into qvcom
                                                put a file's bytes into a program or module
  rc --list qvcomUI.dll                         list the resources of a module
  rc --strings qvcomUI.dll                      show the strings of its string tables

TYPE is a number, an RT_ name (RT_RCDATA) or a name (TYPELIB); ID a number or a name; LANG a
language identifier, decimal or hexadecimal (1033 or 0x0409; 0 is neutral).)";

class UsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

WORD parseLanguage(const std::string& text) {
    std::size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty() || value > 0xFFFF)
        throw UsageError("a language is a number from 0 to 65535, not " + text);
    return static_cast<WORD>(value);
}

ResourceId parseType(const std::string& text) {
    if (const auto known = sky::rc::resourceType(text))
        return ResourceId(*known);
    return ResourceId::parse(text);
}

std::string describeType(const ResourceId& type) {
    if (!type.isId())
        return type.toString();
    const std::string_view name = sky::rc::resourceTypeName(type.id());
    return name.empty() ? type.toString()
                        : std::string(name) + " (" + std::to_string(type.id()) + ")";
}

std::string hexLanguage(WORD language) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", language);
    return text;
}

// The text with control characters, backslashes and quotes written as C escapes.
std::string quoted(std::u16string_view text) {
    std::string out = "\"";
    for (const char c : sky::narrow(text)) {
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char code[8];
                std::snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned>(c));
                out += code;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

void listResources(const fs::path& module) {
    const std::vector<Resource> resources = sky::rc::readResources(module);
    std::printf("%-24s %-16s %-9s %s\n", "TYPE", "NAME", "LANGUAGE", "SIZE");
    for (const Resource& r : resources)
        std::printf("%-24s %-16s %-9s %zu\n", describeType(r.type).c_str(),
                    r.name.toString().c_str(), hexLanguage(r.language).c_str(), r.data.size());
}

void listStrings(const fs::path& module) {
    for (const Resource& r : sky::rc::readResources(module)) {
        if (r.type != ResourceId(6) || !r.name.isId())
            continue;
        std::u16string_view strings[16];
        sky::resources::splitStringBlock(r.data, strings);
        for (unsigned i = 0; i < 16; ++i) {
            if (!strings[i].empty())
                std::printf("%6u  %s  %s\n", (r.name.id() - 1u) * 16 + i,
                            hexLanguage(r.language).c_str(), quoted(strings[i]).c_str());
        }
    }
}

std::vector<BYTE> readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string escapeForMake(const std::string& path) {
    std::string out;
    for (const char c : path) {
        if (c == ' ' || c == '#' || c == '\\')
            out += '\\';
        if (c == '$')
            out += '$';
        out += c;
    }
    return out;
}

void writeDepfile(const fs::path& depfile, const fs::path& target,
                  const std::vector<fs::path>& files) {
    std::ofstream out(depfile);
    out << escapeForMake(fs::absolute(target).string()) << ":";
    for (const fs::path& f : files)
        out << " \\\n  " << escapeForMake(fs::absolute(f).string());
    out << "\n";
    if (!out)
        throw std::runtime_error("cannot write " + depfile.string());
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Resource compiler: builds resource-only modules from resource scripts, puts "
                 "resources into programs and modules, and lists them."};
    app.footer(kExamples);
    std::string script, output, into, list, strings, depfile, language = "0x0409";
    std::vector<std::string> addition, includeDirs, defines;
    app.add_option("script", script, "Resource script (.rc) to compile");
    app.add_option("-o,--output", output, "Write the compiled resources as a new module");
    app.add_option("--into", into, "Add the resources to this existing program or module");
    app.add_option("--add-resource", addition, "Add one file's bytes as a resource (with --into)")
        ->expected(4)
        ->type_name("TYPE ID LANG FILE");
    app.add_option("--list", list, "List the resources of a program or module");
    app.add_option("--strings", strings, "Show the strings of a module's string tables");
    app.add_option("-I,--include", includeDirs, "Directory to search for included files");
    app.add_option("-D,--define", defines, "Define a name: NAME or NAME=VALUE");
    app.add_option("-l,--language", language,
                   "Language of resources before the script's first LANGUAGE (default 0x0409)");
    app.add_option("--depfile", depfile, "Write the files the script used, in make syntax");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help gives 0; a command line the parser refuses is misuse, as ours are.
        return app.exit(e) == 0 ? 0 : 2;
    }

    try {
        const int modes = !script.empty() + !addition.empty() + !list.empty() + !strings.empty();
        if (modes != 1)
            throw UsageError(modes == 0 ? "nothing to do: give a script, --add-resource, --list "
                                          "or --strings (see --help)"
                                        : "give only one of a script, --add-resource, --list "
                                          "and --strings");
        if (!list.empty()) {
            listResources(list);
        } else if (!strings.empty()) {
            listStrings(strings);
        } else if (!addition.empty()) {
            if (into.empty() || !output.empty())
                throw UsageError("--add-resource needs --into MODULE");
            Resource r{parseType(addition[0]), ResourceId::parse(addition[1]),
                       parseLanguage(addition[2]), readBytes(addition[3])};
            sky::rc::addResources(into, {std::move(r)});
        } else {
            if (into.empty() == output.empty())
                throw UsageError("give either -o MODULE or --into MODULE for the script");
            sky::rc::ScriptOptions options;
            options.language = parseLanguage(language);
            options.includeDirs.assign(includeDirs.begin(), includeDirs.end());
            for (const std::string& d : defines) {
                const std::size_t eq = d.find('=');
                options.defines[d.substr(0, eq)] = eq == std::string::npos ? "1" : d.substr(eq + 1);
            }
            const sky::rc::CompiledScript compiled = sky::rc::compileScript(script, options);
            if (!output.empty())
                sky::rc::writeResourceModule(output, compiled.resources);
            else
                sky::rc::addResources(into, compiled.resources);
            if (!depfile.empty())
                writeDepfile(depfile, output.empty() ? into : output, compiled.files);
        }
    } catch (const UsageError& e) {
        std::cerr << "rc: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "rc: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

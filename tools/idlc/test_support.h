// Helpers for the compiler's tests: compile IDL text, read test files.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "analyzer.h"
#include "parser.h"

namespace idlc::testing {

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline Library compile(const std::string& source, const std::string& file = "test.idl") {
    Library lib = parse(file, source);
    analyze(lib);
    return lib;
}

inline Library farmlet() {
    return compile(readText(IDLC_TESTDATA "/farmlet.idl"), "farmlet.idl");
}

// The text of a minimal library around `body`.
inline std::string library(const std::string& body) {
    return "[uuid(11111111-2222-3333-4444-555555555555), version(1.0)]\n"
           "library T {\n" +
           body + "\n};\n";
}

// A dual interface with a fixed uuid ending in `n`.
inline std::string dual(const std::string& name, const std::string& base, int n,
                        const std::string& members) {
    char uuid[64];
    std::snprintf(uuid, sizeof uuid, "AAAAAAAA-0000-0000-0000-%012d", n);
    return "[uuid(" + std::string(uuid) + "), dual, oleautomation]\ninterface " + name + " : " +
           base + " {\n" + members + "\n};\n";
}

} // namespace idlc::testing

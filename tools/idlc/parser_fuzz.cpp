// Fuzz target: an IDL file through the parser and, when it parses, the analyser. Faults in the
// file are CompileErrors; anything else is a bug.
#include <cstdint>
#include <string_view>

#include "analyzer.h"
#include "diagnostics.h"
#include "parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        idlc::Library library =
            idlc::parse("fuzz.idl", std::string_view(reinterpret_cast<const char*>(data), size));
        idlc::analyze(library);
    } catch (const idlc::CompileError&) {
    }
    return 0;
}

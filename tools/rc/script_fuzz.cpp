// Fuzz target: a resource script through the preprocessor and the compiler (string tables,
// LANGUAGE, resources from files). Faults in the script are SourceErrors; anything else is a bug.
#include <cstdint>
#include <string>

#include "preprocessor.h"
#include "script.h"
#include "sky/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto script = sky::testing::writeFuzzInput(data, size, "fuzz.rc");
    try {
        sky::rc::ScriptOptions options;
        options.defines.emplace("FUZZ", std::string("1"));
        (void)sky::rc::compileScript(script, options);
    } catch (const sky::rc::SourceError&) {
    }
    return 0;
}

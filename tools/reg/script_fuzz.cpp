// Fuzz target: a registry script as `reg import` reads it, in any encoding. A script that parses
// must survive being written out and read again.
#include <cstdint>
#include <string>
#include <string_view>

#include "script.h"
#include "sky/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sky::testing::useFuzzMachine(); // the ANSI code page comes from the machine's registry
    const std::u16string text =
        reg::decodeScript(std::string_view(reinterpret_cast<const char*>(data), size));
    int line = 0;
    std::string error;
    const auto entries = reg::parseScript(text, line, error);
    if (!entries)
        return 0;
    reg::ScriptWriter writer;
    for (const reg::ScriptEntry& entry : *entries) {
        if (entry.kind == reg::ScriptEntry::Kind::Key)
            writer.key(entry.key);
        else if (entry.kind == reg::ScriptEntry::Kind::Value)
            writer.value(entry.value);
    }
    (void)reg::parseScript(reg::decodeScript(reg::encodeScript(writer.text())), line, error);
    return 0;
}

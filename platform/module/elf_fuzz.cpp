// Fuzz target: a module file as the resource reader reads it (the ELF header and section table,
// then the resource section's directory and string tables), without running any of it.
#include <cstdint>
#include <string_view>

#include "sky/fuzz_machine.h"
#include "sky/resources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto module = sky::testing::writeFuzzInput(data, size, "fuzz.dll");
    sky::resources::Directory directory;
    if (sky::resources::readModule(module, directory) != sky::resources::ReadStatus::Ok)
        return 0;
    for (const sky::resources::Entry& entry : directory.entries()) {
        std::u16string_view strings[16];
        (void)sky::resources::splitStringBlock(entry.data, strings);
    }
    return 0;
}

// Fuzz target: a farm dump as `qvfarm load` reads it. A farm that is read must be written and
// read back as the same farm.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "farm_json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto image =
        sky::qvfarm::farmFromJson(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!image)
        return 0;
    auto text = sky::qvfarm::farmToJson(*image);
    if (!text)
        return 0; // text that is not UTF-8 inside a JSON string cannot come from the parser
    auto again = sky::qvfarm::farmFromJson(*text);
    if (!again || !(*again == *image))
        std::abort();
    return 0;
}

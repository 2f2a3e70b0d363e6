// Fuzz target: an .ico file as the farm store checks it and takes its images apart (an
// application's icon as a dump or an administrator gives it).
#include <cstdint>

#include "qvcomsrv/store/icon.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const sky::farm::Bytes bytes(data, data + size);
    (void)sky::farm::checkIcon(bytes);
    const int images = sky::farm::iconImageCount(bytes);
    for (int i = 0; i < images && i < 64; ++i)
        (void)sky::farm::iconImage(bytes, i);
    return 0;
}

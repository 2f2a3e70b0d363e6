// Turns an analysed library into type-library data (written as a .tlb image by serialize()).
#pragma once

#include "model.h"
#include "sky/typelib_image.h"

namespace idlc {

sky::typelib::Library buildTypeLib(const Library& lib);

// The standard automation library that every object library imports.
inline constexpr GUID kStdOleLibid{
    0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

} // namespace idlc

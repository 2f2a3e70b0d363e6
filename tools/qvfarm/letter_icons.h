// Small icons for demonstration farms: a coloured shape with a white letter on it.
#pragma once

#include <cstdint>

#include "qvcomsrv/store/icon.h"

namespace sky::qvfarm {

enum class IconShape { RoundedSquare, Circle, Diamond, Shield };

// A 32x32 32-bit icon: `shape` filled with `argb`, a darker rim, and `letter` (A to Z or 0 to 9;
// anything else shows as a dot) in white.
farm::Bytes letterIcon(char letter, std::uint32_t argb, IconShape shape);

// A colour of the hue `degrees` (0 to 359) at full opacity, bright enough for a white letter.
std::uint32_t hueColour(int degrees);

} // namespace sky::qvfarm

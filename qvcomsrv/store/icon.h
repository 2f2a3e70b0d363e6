// Application icons as .ico files: writing a 32x32 32-bit icon from pixels, checking that bytes
// are an icon file, taking one image out of a file of several, and the default icon that an
// application without one of its own shows.
#pragma once

#include <array>
#include <cstdint>

#include "qvcomsrv/store/model.h"

namespace sky::farm {

// A 32x32 picture, rows top to bottom, each pixel 0xAARRGGBB. Alpha 0 is transparent.
struct IconPicture {
    static constexpr int kSize = 32;
    std::array<std::uint32_t, kSize * kSize> pixels{};

    std::uint32_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y * kSize + x)]; }
    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * kSize + x)]; }
};

// The largest icon file the object model reads (4 MiB): a file of 256 images of 256x256 pixels at
// 32 bits would be 64 MiB, but an icon that a farm's clients download holds a few small images,
// and a larger file is refused before it costs the service its memory.
inline constexpr std::size_t kIconFileLimit = std::size_t{4} << 20;

// A one-image .ico file: a 32-bit bitmap with its AND mask taken from the alpha channel.
Bytes encodeIcon(const IconPicture& picture);

// Ok when `bytes` is an icon file whose every image lies within it; InvalidArgument saying what
// is wrong otherwise.
Status checkIcon(const Bytes& bytes);

// The number of images in an icon file (0 when it is not one).
int iconImageCount(const Bytes& bytes);

// The image at `index` of an icon file, as a one-image icon file of its own. NotFound when the
// file has no such image; InvalidArgument when it is not an icon file.
Result<Bytes> iconImage(const Bytes& bytes, int index);

// The icon of an application that has none of its own: a window with a blue title bar.
const Bytes& defaultIcon();

// The icon an application shows: its own, or the default icon.
inline const Bytes& iconOf(const Bytes& own) {
    return own.empty() ? defaultIcon() : own;
}

} // namespace sky::farm

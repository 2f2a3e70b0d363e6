#include "qvcomsrv/store/icon.h"

#include <cstring>
#include <string>

namespace sky::farm {

namespace {

constexpr std::size_t kDirectorySize = 6;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kBitmapHeaderSize = 40;

void put16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(Bytes& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint16_t get16(const Bytes& in, std::size_t at) {
    return static_cast<std::uint16_t>(in[at] | in[at + 1] << 8);
}

std::uint32_t get32(const Bytes& in, std::size_t at) {
    return static_cast<std::uint32_t>(in[at]) | static_cast<std::uint32_t>(in[at + 1]) << 8 |
           static_cast<std::uint32_t>(in[at + 2]) << 16 |
           static_cast<std::uint32_t>(in[at + 3]) << 24;
}

struct Entry {
    std::size_t headerAt; // where the directory entry is
    std::size_t offset;   // where the image is
    std::size_t size;
};

// The directory entry `index`, checked to lie within the file; the status says what is wrong.
Status readEntry(const Bytes& bytes, int index, Entry& entry) {
    if (bytes.size() < kDirectorySize || get16(bytes, 0) != 0 || get16(bytes, 2) != 1)
        return Status::invalidArgument("The data is not an icon file.");
    const std::size_t count = get16(bytes, 4);
    if (count == 0)
        return Status::invalidArgument("The icon file holds no image.");
    const std::size_t imagesStart = kDirectorySize + count * kEntrySize;
    if (bytes.size() < imagesStart)
        return Status::invalidArgument("The icon file is cut short in its directory.");
    if (index < 0 || static_cast<std::size_t>(index) >= count)
        return Status::notFound("The icon file has no image " + std::to_string(index) +
                                "; it has " + std::to_string(count) + ".");
    entry.headerAt = kDirectorySize + static_cast<std::size_t>(index) * kEntrySize;
    entry.size = get32(bytes, entry.headerAt + 8);
    entry.offset = get32(bytes, entry.headerAt + 12);
    if (entry.size < kBitmapHeaderSize || entry.offset < imagesStart ||
        entry.offset > bytes.size() || entry.size > bytes.size() - entry.offset)
        return Status::invalidArgument("Image " + std::to_string(index) +
                                       " of the icon file lies outside the file.");
    static constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G'};
    const bool png = std::memcmp(&bytes[entry.offset], kPngSignature, sizeof kPngSignature) == 0;
    if (!png && get32(bytes, entry.offset) != kBitmapHeaderSize)
        return Status::invalidArgument("Image " + std::to_string(index) +
                                       " of the icon file is neither a bitmap nor a PNG image.");
    return Status::ok();
}

// The default icon, drawn one character a pixel.
constexpr const char* kDefaultArt[IconPicture::kSize] = {
    "................................", "................................",
    "................................", "..kkkkkkkkkkkkkkkkkkkkkkkkkkkk..",
    "..kBBBBBBBBBBBBBBBBBBBBBBBBBBk..", "..kbbbbbbbbbbbbbbbbbbbbrrrbbbk..",
    "..kbbbbbbbbbbbbbbbbbbbbrrrbbbk..", "..kbbbbbbbbbbbbbbbbbbbbrrrbbbk..",
    "..kbbbbbbbbbbbbbbbbbbbbbbbbbbk..", "..kkkkkkkkkkkkkkkkkkkkkkkkkkkk..",
    "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..", "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..",
    "..kwggggggggggggggggggwwwwwwwk..", "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..",
    "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..", "..kwggggggggggggggwwwwwwwwwwwk..",
    "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..", "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..",
    "..kwggggggggggggggggggggwwwwwk..", "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..",
    "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..", "..kwggggggggggwwwwwwwwwwwwwwwk..",
    "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..", "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..",
    "..kwggggggggggggggggwwwwwwwwwk..", "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..",
    "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..", "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..",
    "..kkkkkkkkkkkkkkkkkkkkkkkkkkkk..", "...ssssssssssssssssssssssssssss.",
    "................................", "................................",
};

std::uint32_t defaultArtColour(char c) {
    switch (c) {
    case 'k':
        return 0xFF303848; // frame
    case 'B':
        return 0xFF5C95E8; // title bar highlight
    case 'b':
        return 0xFF2F6FD0; // title bar
    case 'r':
        return 0xFFE04848; // close box
    case 'w':
        return 0xFFFFFFFF; // window
    case 'g':
        return 0xFFC8CED8; // lines of text
    case 's':
        return 0x50000000; // shadow
    default:
        return 0; // transparent
    }
}

} // namespace

Bytes encodeIcon(const IconPicture& picture) {
    constexpr int n = IconPicture::kSize;
    constexpr std::uint32_t colourBytes = n * n * 4;
    constexpr std::uint32_t maskRowBytes = ((n + 31) / 32) * 4;
    constexpr std::uint32_t maskBytes = maskRowBytes * n;
    constexpr std::uint32_t imageBytes = kBitmapHeaderSize + colourBytes + maskBytes;

    Bytes out;
    out.reserve(kDirectorySize + kEntrySize + imageBytes);
    put16(out, 0); // reserved
    put16(out, 1); // icon
    put16(out, 1); // one image
    out.push_back(n);
    out.push_back(n);
    out.push_back(0); // no palette
    out.push_back(0);
    put16(out, 1);  // planes
    put16(out, 32); // bits per pixel
    put32(out, imageBytes);
    put32(out, kDirectorySize + kEntrySize);

    put32(out, kBitmapHeaderSize);
    put32(out, n);
    put32(out, n * 2); // colour bitmap and mask
    put16(out, 1);
    put16(out, 32);
    put32(out, 0); // BI_RGB
    put32(out, colourBytes + maskBytes);
    for (int i = 0; i < 4; ++i)
        put32(out, 0);

    for (int y = n - 1; y >= 0; --y) {
        for (int x = 0; x < n; ++x) {
            const std::uint32_t argb = picture.at(x, y);
            out.push_back(static_cast<std::uint8_t>(argb));       // blue
            out.push_back(static_cast<std::uint8_t>(argb >> 8));  // green
            out.push_back(static_cast<std::uint8_t>(argb >> 16)); // red
            out.push_back(static_cast<std::uint8_t>(argb >> 24)); // alpha
        }
    }
    for (int y = n - 1; y >= 0; --y) {
        Bytes row(maskRowBytes, 0);
        for (int x = 0; x < n; ++x) {
            if ((picture.at(x, y) >> 24) == 0)
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

Status checkIcon(const Bytes& bytes) {
    Entry entry;
    Status status = readEntry(bytes, 0, entry);
    const int count = status ? get16(bytes, 4) : 0;
    for (int i = 1; status && i < count; ++i)
        status = readEntry(bytes, i, entry);
    return status;
}

int iconImageCount(const Bytes& bytes) {
    return checkIcon(bytes) ? get16(bytes, 4) : 0;
}

Result<Bytes> iconImage(const Bytes& bytes, int index) {
    if (Status s = checkIcon(bytes); !s)
        return s;
    Entry entry;
    if (Status s = readEntry(bytes, index, entry); !s)
        return s;
    Bytes out;
    out.reserve(kDirectorySize + kEntrySize + entry.size);
    put16(out, 0);
    put16(out, 1);
    put16(out, 1);
    out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(entry.headerAt),
               bytes.begin() + static_cast<std::ptrdiff_t>(entry.headerAt + 12));
    put32(out, kDirectorySize + kEntrySize);
    out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(entry.offset),
               bytes.begin() + static_cast<std::ptrdiff_t>(entry.offset + entry.size));
    return out;
}

const Bytes& defaultIcon() {
    static const Bytes icon = [] {
        IconPicture picture;
        for (int y = 0; y < IconPicture::kSize; ++y)
            for (int x = 0; x < IconPicture::kSize; ++x)
                picture.at(x, y) = defaultArtColour(kDefaultArt[y][x]);
        return encodeIcon(picture);
    }();
    return icon;
}

} // namespace sky::farm

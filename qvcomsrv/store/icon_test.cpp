#include <set>

#include <gtest/gtest.h>

#include "qvcomsrv/store/icon.h"

using namespace sky::farm;

namespace {

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

} // namespace

TEST(Icon, APictureBecomesAOneImageIconFile) {
    IconPicture picture;
    picture.at(0, 0) = 0xFF112233;   // top left, opaque
    picture.at(31, 31) = 0x00000000; // bottom right, transparent
    const Bytes ico = encodeIcon(picture);
    ASSERT_EQ(ico.size(), 6u + 16u + 40u + 32u * 32u * 4u + 32u * 4u);
    EXPECT_TRUE(checkIcon(ico));
    EXPECT_EQ(iconImageCount(ico), 1);
    EXPECT_EQ(ico[6], 32);                 // width
    EXPECT_EQ(ico[7], 32);                 // height
    EXPECT_EQ(ico[12] | ico[13] << 8, 32); // bits per pixel
    EXPECT_EQ(le32(ico, 18), 22u);         // the image follows the directory
    EXPECT_EQ(le32(ico, 22 + 8), 64u);     // bitmap height counts colour and mask
    // Rows are stored bottom up, pixels as blue, green, red, alpha.
    const std::size_t topRow = 22 + 40 + 31 * 32 * 4;
    EXPECT_EQ(ico[topRow], 0x33);
    EXPECT_EQ(ico[topRow + 2], 0x11);
    EXPECT_EQ(ico[topRow + 3], 0xFF);
    // The AND mask marks transparent pixels: the bottom row comes first; (31,31) is its last bit.
    const std::size_t mask = 22 + 40 + 32 * 32 * 4;
    EXPECT_EQ(ico[mask + 3] & 0x01, 0x01);
    EXPECT_EQ(ico[mask + 31 * 4] & 0x80, 0x00); // (0,0) is opaque
}

TEST(Icon, TheDefaultIconIsARealIcon) {
    const Bytes& icon = defaultIcon();
    EXPECT_TRUE(checkIcon(icon));
    EXPECT_EQ(&defaultIcon(), &icon); // made once
    EXPECT_EQ(iconOf(Bytes()), icon);
    const Bytes own{1, 2, 3};
    EXPECT_EQ(iconOf(own), own);
    // Not a blank: it has opaque and transparent pixels and more than one colour.
    std::set<std::uint32_t> colours;
    for (std::size_t at = 22 + 40; at < 22 + 40 + 4096; at += 4)
        colours.insert(le32(icon, at));
    EXPECT_GT(colours.size(), 4u);
    EXPECT_TRUE(colours.count(0));
}

TEST(Icon, DataThatIsNoIconIsRefused) {
    const Bytes good = encodeIcon(IconPicture());
    EXPECT_FALSE(checkIcon(Bytes()));
    EXPECT_EQ(checkIcon(Bytes{'B', 'M', 0, 0, 0, 0}).message(), "The data is not an icon file.");
    Bytes cut(good.begin(), good.begin() + 100);
    EXPECT_EQ(checkIcon(cut).message(), "Image 0 of the icon file lies outside the file.");
    Bytes noImages = good;
    noImages[4] = 0;
    EXPECT_EQ(checkIcon(noImages).message(), "The icon file holds no image.");
    Bytes manyImages = good;
    manyImages[4] = manyImages[5] = 0xFF; // a directory longer than the file
    EXPECT_EQ(checkIcon(manyImages).message(), "The icon file is cut short in its directory.");
    Bytes notBitmap = good;
    notBitmap[22] = 7;
    EXPECT_FALSE(checkIcon(notBitmap));
    Bytes hugeOffset = good;
    hugeOffset[18 + 3] = 0xFF;
    EXPECT_FALSE(checkIcon(hugeOffset));
    EXPECT_EQ(iconImageCount(hugeOffset), 0);
}

TEST(Icon, OneImageIsTakenOutOfAFileOfSeveral) {
    IconPicture red, blue;
    red.pixels.fill(0xFFFF0000);
    blue.pixels.fill(0xFF0000FF);
    const Bytes redIco = encodeIcon(red), blueIco = encodeIcon(blue);
    // A two-image file: directory of two entries, then both images.
    const std::size_t imageSize = redIco.size() - 22;
    Bytes both{0, 0, 1, 0, 2, 0};
    for (int i = 0; i < 2; ++i) {
        both.insert(both.end(), redIco.begin() + 6, redIco.begin() + 18);
        const auto offset = static_cast<std::uint32_t>(6 + 32 + i * imageSize);
        for (int shift = 0; shift < 32; shift += 8)
            both.push_back(static_cast<std::uint8_t>(offset >> shift));
    }
    both.insert(both.end(), redIco.begin() + 22, redIco.end());
    both.insert(both.end(), blueIco.begin() + 22, blueIco.end());
    ASSERT_TRUE(checkIcon(both));
    EXPECT_EQ(iconImageCount(both), 2);
    EXPECT_EQ(*iconImage(both, 0), redIco);
    EXPECT_EQ(*iconImage(both, 1), blueIco);
    auto third = iconImage(both, 2);
    EXPECT_EQ(third.status().code(), Status::Code::NotFound);
    EXPECT_EQ(third.status().message(), "The icon file has no image 2; it has 2.");
    EXPECT_EQ(iconImage(Bytes{1, 2, 3}, 0).status().code(), Status::Code::InvalidArgument);
}

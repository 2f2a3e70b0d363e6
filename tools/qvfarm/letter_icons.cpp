#include "letter_icons.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace sky::qvfarm {

namespace {

// A 5x7 font, one string a row.
struct Glyph {
    char letter;
    const char* rows[7];
};

constexpr Glyph kGlyphs[] = {
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"}},
    {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'I', {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'J', {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'W', {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'Y', {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."}},
    {'Z', {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'9', {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
};

constexpr Glyph kDot{'.', {".....", ".....", ".....", "..#..", ".....", ".....", "....."}};

const Glyph& glyphFor(char letter) {
    const char wanted = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    for (const Glyph& glyph : kGlyphs) {
        if (glyph.letter == wanted)
            return glyph;
    }
    return kDot;
}

// Whether the pixel centre (x, y) lies in the shape, and whether it lies on its rim.
bool inside(IconShape shape, double x, double y, double inset) {
    const double c = 15.5, r = 14.5 - inset;
    const double dx = std::abs(x - c), dy = std::abs(y - c);
    switch (shape) {
    case IconShape::RoundedSquare: {
        const double corner = 6.0 - inset / 2;
        const double ex = std::max(0.0, dx - (r - corner)), ey = std::max(0.0, dy - (r - corner));
        return dx <= r && dy <= r && ex * ex + ey * ey <= corner * corner;
    }
    case IconShape::Circle:
        return dx * dx + dy * dy <= r * r;
    case IconShape::Diamond:
        return dx + dy <= r + 2;
    case IconShape::Shield:
        if (y - c < 2)
            return dx <= r - 1 && y >= c - r;
        return dx * dx / ((r - 1) * (r - 1)) + (y - c - 2) * (y - c - 2) / ((r - 1) * (r - 1)) <=
               1.0;
    }
    return false;
}

std::uint32_t darker(std::uint32_t argb) {
    const auto channel = [&](int shift) { return ((argb >> shift) & 0xFF) * 3 / 5; };
    return 0xFF000000u | channel(16) << 16 | channel(8) << 8 | channel(0);
}

} // namespace

std::uint32_t hueColour(int degrees) {
    // HSV with saturation 0.75 and value 0.8.
    const double h = static_cast<double>(((degrees % 360) + 360) % 360) / 60.0;
    const double v = 0.8, s = 0.75;
    const double c = v * s, x = c * (1 - std::abs(std::fmod(h, 2.0) - 1)), m = v - c;
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(h)) {
    case 0:
        r = c, g = x;
        break;
    case 1:
        r = x, g = c;
        break;
    case 2:
        g = c, b = x;
        break;
    case 3:
        g = x, b = c;
        break;
    case 4:
        r = x, b = c;
        break;
    default:
        r = c, b = x;
        break;
    }
    const auto byte = [&](double value) {
        return static_cast<std::uint32_t>(std::lround((value + m) * 255));
    };
    return 0xFF000000u | byte(r) << 16 | byte(g) << 8 | byte(b);
}

farm::Bytes letterIcon(char letter, std::uint32_t argb, IconShape shape) {
    farm::IconPicture picture;
    for (int y = 0; y < farm::IconPicture::kSize; ++y) {
        for (int x = 0; x < farm::IconPicture::kSize; ++x) {
            if (inside(shape, x, y, 2))
                picture.at(x, y) = argb;
            else if (inside(shape, x, y, 0))
                picture.at(x, y) = darker(argb);
        }
    }
    // The letter, centred: three pixels a font pixel (15x21), two in the narrower diamond.
    const Glyph& glyph = glyphFor(letter);
    const int scale = shape == IconShape::Diamond ? 2 : 3;
    const int left = (32 - 5 * scale) / 2, top = (32 - 7 * scale) / 2;
    for (int row = 0; row < 7; ++row) {
        for (int column = 0; column < 5; ++column) {
            if (glyph.rows[row][column] != '#')
                continue;
            for (int dy = 0; dy < scale; ++dy)
                for (int dx = 0; dx < scale; ++dx)
                    picture.at(left + column * scale + dx, top + row * scale + dy) = 0xFFFFFFFF;
        }
    }
    return farm::encodeIcon(picture);
}

} // namespace sky::qvfarm

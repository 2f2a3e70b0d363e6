// The choices of the application options editor: its four drop-down lists, each entry with the
// value written for it, the initial choices and texts, and the rule for the three number boxes.
// The dialog and the command line both take their choices from here.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace brask {

struct OptionEntry {
    std::u16string_view text;
    std::int32_t value;
};

// A drop-down list: its control name, its entries in list order, the entry chosen at first.
struct OptionList {
    std::string_view name;
    std::span<const OptionEntry> entries;
    int initial;

    std::int32_t valueAt(int position) const { return entries[position].value; }
};

// QVWinWindowColor, from "16 colors" (1) to "True color (24 bit)" (4); "256 colors" at first.
inline constexpr OptionEntry kWindowColorEntries[] = {
    {u"16 colors", 1},
    {u"256 colors", 2},
    {u"High color (16 bit)", 3},
    {u"True color (24 bit)", 4},
};
// QVWinWindowType 1 to 7 (1600x1200 is not offered); "640x480" at first.
inline constexpr OptionEntry kWindowSizeEntries[] = {
    {u"640x480", 1},        {u"800x600", 2},   {u"1024x768", 3},
    {u"1280x1024", 4},      {u"Custom...", 5}, {u"Percent of client desktop...", 6},
    {u"Full screen...", 7},
};
// QVWinEncryptionLevel 1 to 5; "Basic" at first.
inline constexpr OptionEntry kEncryptionEntries[] = {
    {u"Basic", 1},         {u"RC5 (128-bit) logon only", 2},
    {u"RC5 (40-bit)", 3},  {u"RC5 (56-bit)", 4},
    {u"RC5 (128-bit)", 5},
};
// QVWinSoundType: "Audio on" (2) before "Audio off" (1); "Audio on" at first.
inline constexpr OptionEntry kAudioEntries[] = {
    {u"Audio on", 2},
    {u"Audio off", 1},
};

inline constexpr OptionList kWindowColorList{"WindowColorList", kWindowColorEntries, 1};
inline constexpr OptionList kWindowSizeList{"WindowSizeList", kWindowSizeEntries, 0};
inline constexpr OptionList kEncryptionList{"EncryptionList", kEncryptionEntries, 0};
inline constexpr OptionList kAudioList{"AudioList", kAudioEntries, 0};

// The size choices that show boxes: width and height for "Custom...", the percent box for
// "Percent of client desktop...".
inline constexpr int kCustomSizePosition = 4;
inline constexpr int kPercentSizePosition = 5;

// The boxes' texts when the dialog opens.
inline constexpr std::u16string_view kInitialWidth = u"640";
inline constexpr std::u16string_view kInitialHeight = u"480";
inline constexpr std::u16string_view kInitialPercent = u"90";

// The seven values written to every application.
struct OptionValues {
    std::int32_t windowType;
    std::int32_t windowColor;
    std::int32_t encryption;
    std::int32_t soundType;
    std::int16_t windowScale;
    std::int16_t windowHeight;
    std::int16_t windowWidth;
};

// What the dialog writes when it is accepted as it opens.
OptionValues initialOptionValues();

// The entry a command line names: its text, ignoring case, or its position counted from 0.
std::optional<int> findOptionEntry(const OptionList& list, std::u16string_view textOrPosition);

// A box's text as a 16-bit number: a whole decimal number from -32768 to 32767 with an optional
// sign, blanks allowed around it. Nothing else (no fraction, exponent or digit grouping).
std::optional<std::int16_t> parseBoxNumber(std::u16string_view text);

// "Width must be a whole number from -32768 to 32767."
std::u16string boxNumberRefusal(std::u16string_view boxName);

} // namespace brask

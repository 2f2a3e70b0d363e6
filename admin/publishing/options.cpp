#include "publishing/options.h"

#include <limits>

#include "sky/text.h"

namespace brask {

namespace {

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

std::u16string_view trimmed(std::u16string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

OptionValues initialOptionValues() {
    const auto number = [](std::u16string_view text) { return *parseBoxNumber(text); };
    return OptionValues{kWindowSizeList.valueAt(kWindowSizeList.initial),
                        kWindowColorList.valueAt(kWindowColorList.initial),
                        kEncryptionList.valueAt(kEncryptionList.initial),
                        kAudioList.valueAt(kAudioList.initial),
                        number(kInitialPercent),
                        number(kInitialHeight),
                        number(kInitialWidth)};
}

std::optional<int> findOptionEntry(const OptionList& list, std::u16string_view textOrPosition) {
    const std::u16string_view wanted = trimmed(textOrPosition);
    for (std::size_t position = 0; position < list.entries.size(); ++position) {
        if (sky::equalNoCase(list.entries[position].text, wanted)) {
            return static_cast<int>(position);
        }
    }
    if (wanted.empty() || wanted.size() > 2) {
        return std::nullopt;
    }
    int position = 0;
    for (char16_t c : wanted) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        position = position * 10 + (c - u'0');
    }
    if (position >= static_cast<int>(list.entries.size())) {
        return std::nullopt;
    }
    return position;
}

std::optional<std::int16_t> parseBoxNumber(std::u16string_view text) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == u'-' || text.front() == u'+')) {
        negative = text.front() == u'-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    constexpr long kLowest = std::numeric_limits<std::int16_t>::min();
    constexpr long kHighest = std::numeric_limits<std::int16_t>::max();
    long magnitude = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (c - u'0');
        if (magnitude > -kLowest) {
            return std::nullopt;
        }
    }
    const long value = negative ? -magnitude : magnitude;
    if (value < kLowest || value > kHighest) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(value);
}

std::u16string boxNumberRefusal(std::u16string_view boxName) {
    return std::u16string(boxName) + u" must be a whole number from -32768 to 32767.";
}

} // namespace brask

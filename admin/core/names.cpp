#include "core/names.h"

#include <algorithm>

#include "sky/text.h"
#include "win/strings.h"
#include "win/sysinfo.h"

namespace brask {

namespace {

constexpr std::u16string_view kApplicationsPrefix = u"Applications/";

std::u16string replaceAll(std::u16string text, char16_t from, char16_t to) {
    std::replace(text.begin(), text.end(), from, to);
    return text;
}

} // namespace

std::u16string applicationEntry(std::u16string_view distinguishedName) {
    if (distinguishedName.starts_with(kApplicationsPrefix)) {
        distinguishedName.remove_prefix(kApplicationsPrefix.size());
    }
    return replaceAll(std::u16string(distinguishedName), u'/', u'\\');
}

std::u16string applicationDistinguishedName(std::u16string_view entry) {
    return std::u16string(kApplicationsPrefix) + replaceAll(std::u16string(entry), u'\\', u'/');
}

ListBoxOrder::ListBoxOrder() : locale_(GetUserDefaultLCID()) {}

bool ListBoxOrder::less(std::u16string_view a, std::u16string_view b) const {
    return CompareStringW(static_cast<LCID>(locale_), NORM_IGNORECASE, a.data(),
                          static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_LESS_THAN;
}

bool listBoxLess(std::u16string_view a, std::u16string_view b) {
    return ListBoxOrder().less(a, b);
}

void sortLikeListBox(std::vector<std::u16string>& items) {
    const ListBoxOrder order;
    std::stable_sort(
        items.begin(), items.end(),
        [&](const std::u16string& a, const std::u16string& b) { return order.less(a, b); });
}

EntryIndex::EntryIndex(const std::vector<std::u16string>& entries) {
    positions_.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        positions_.emplace(sky::upper(entries[i]), i); // a later equal entry keeps the first
    }
    folded_ = entries.size();
}

std::optional<std::size_t> EntryIndex::find(std::u16string_view name) {
    ++folded_;
    const auto found = positions_.find(sky::upper(name));
    if (found == positions_.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace brask

// How the application view names an application, and the order of the sorted lists.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brask {

// "Applications/Office/Word" shows as "Office\Word": the leading "Applications/" goes and every "/"
// becomes "\". A name without that prefix keeps all of its segments.
std::u16string applicationEntry(std::u16string_view distinguishedName);

// The reverse: "Applications/" followed by the entry, with every "\" turned back into "/".
std::u16string applicationDistinguishedName(std::u16string_view entry);

// The order of a sorted list box, as Windows list boxes sort: CompareStringW in the user's locale,
// ignoring case, with the word sort ("_Setup" < "alpha" < "Office\Word" < "OfficeXP" < "Zeta";
// "coop" and "co-op" side by side). Equal entries stay in the order they were added.
class ListBoxOrder {
public:
    // Takes the user's locale as it is now.
    ListBoxOrder();
    bool less(std::u16string_view a, std::u16string_view b) const;

private:
    unsigned long locale_;
};

bool listBoxLess(std::u16string_view a, std::u16string_view b);
void sortLikeListBox(std::vector<std::u16string>& items);

// The entries of a list found by name without regard to case, as a list box finds them: each
// name is folded once (to capitals) and looked up, so that finding a thousand names among a
// hundred thousand entries folds a hundred and one thousand texts rather than comparing a
// hundred million pairs.
class EntryIndex {
public:
    explicit EntryIndex(const std::vector<std::u16string>& entries);
    // The position of the first entry equal to `name` without regard to case.
    std::optional<std::size_t> find(std::u16string_view name);
    // The texts folded so far (the entries' and the names looked up).
    std::size_t foldedTexts() const { return folded_; }

private:
    std::unordered_map<std::u16string, std::size_t> positions_;
    std::size_t folded_ = 0;
};

} // namespace brask

// How the application view names an application, and the order of the sorted lists.
#pragma once

#include <string>
#include <string_view>
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

} // namespace brask

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

// The order of a sorted list box: ignoring case, equal entries in the order they were added.
bool listBoxLess(std::u16string_view a, std::u16string_view b);
void sortLikeListBox(std::vector<std::u16string>& items);

} // namespace brask

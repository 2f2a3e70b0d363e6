// Names in a farm. Applications and application folders are named farm-wide by distinguished
// names: the root folder "Applications", then the folder path and the name, with "/" between the
// segments (Applications/Office/Word). Every name in a farm (distinguished names, servers, zones,
// administrators, accounts) is matched the way Windows matches names: ordinally, ignoring case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "qvcomsrv/store/status.h"

namespace sky::farm {

inline constexpr std::string_view kRootFolder = "Applications";

// The key under which a name is matched: its upper-case folding (ASCII and Latin-1, as Windows
// folds names).
std::string nameKey(std::string_view name);
bool sameName(std::string_view a, std::string_view b);

// Whether `name` holds a control character (C0, DEL or C1) or a mark that reverses the direction
// of text (U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069), which would make a name show as
// another.
bool hasControlCharacter(std::string_view name);

// Ok when `name` can name an application or a folder (`what`): not empty, not "." or "..", and
// without "/", "\" or control characters (hasControlCharacter), since the segments of a
// distinguished name are separated by "/" and the administration tool shows them separated by
// "\". A name merely containing dots ("Setup..") is fine.
Status checkSegmentName(std::string_view what, std::string_view name);

// The segments after the root: "Applications/Office/Word" gives {"Office", "Word"},
// "Applications" gives {}. The root is recognised ignoring case. InvalidArgument for anything
// that is not a distinguished name.
Result<std::vector<std::string>> splitDistinguishedName(std::string_view dn);

std::string joinDistinguishedName(std::string_view folderDn, std::string_view name);

} // namespace sky::farm

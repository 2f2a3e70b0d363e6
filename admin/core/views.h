// What the main window's three views list, read from a fresh farm object each time.
#pragma once

#include <string>
#include <vector>

#include "core/admin_state.h"

namespace brask {

// The farm view: "Farm name", TAB, ": " and the farm's name; for each zone "Zone name", TAB, ": "
// and its name, then "   Data collector", TAB, ":    " and its data collector; last "Number of
// servers", TAB, ": " and the number of servers.
std::vector<std::u16string> farmViewItems(AdminState& state);

// The application view: each application's distinguished name as an entry ("Office\Word").
std::vector<std::u16string> applicationViewItems(AdminState& state);

// The server view: each server's name.
std::vector<std::u16string> serverViewItems(AdminState& state);

// The items of a view, in the order the farm enumerates them (the order the list gets them).
// Throws sky::ComError when the farm cannot be read.
std::vector<std::u16string> viewItems(AdminState& state, int view);

// Whether a view's list is sorted (the application and server views are).
bool viewListSorted(int view);

// The items in the order the view's list shows them.
std::vector<std::u16string> viewListEntries(AdminState& state, int view);

} // namespace brask

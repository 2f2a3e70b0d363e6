// Farm import: a farm definition file read line by line and applied to the farm: its settings, and
// every application it describes, stored with its folder, servers, users, groups and icon at its
// "Icon=" line.
#pragma once

#include <string_view>

#include "core/admin_state.h"
#include "core/feedback.h"
#include "definitions/save_observer.h"

namespace brask {

// Reads the definition file at `path` into a fresh farm object, which stays the shared farm. The
// status shows each application's distinguished name without "Applications/" as its
// "DistinguishedName=" line is read. Farm lines, folder creation and the replace-and-save steps
// pass their failures over; any other failure ends the import with the error report through
// `feedback`, keeping what was stored before it and dropping the application under construction.
// True when the import ran to its end. The caller hides the status afterwards. `observer`, when
// given, hears of every application's save and of every save passed over.
bool importFarm(AdminState& state, Feedback& feedback, std::u16string_view path,
                SaveObserver* observer = nullptr);

} // namespace brask

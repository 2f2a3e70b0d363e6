// Farm export: the farm's settings and every published Windows application, with its servers,
// users, groups and icon, into a farm definition file; the icons into the folder "icons" of the
// working directory.
#pragma once

#include <string_view>

#include "core/admin_state.h"
#include "core/feedback.h"

namespace brask {

// Writes the definition file at `path` (a Windows path, or a host path) from a fresh farm object,
// which stays the shared farm. Progress goes from 0 by 99 divided by the number of applications of
// every type, per Windows application. The first failure ends the export with the error report
// through `feedback`: the file keeps what was written, icons copied stay. True when the export ran
// to its end. The caller hides the progress afterwards.
bool exportFarm(AdminState& state, Feedback& feedback, std::u16string_view path);

} // namespace brask

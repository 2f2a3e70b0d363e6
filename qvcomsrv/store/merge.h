// How a save keeps what others saved meanwhile: the caller's changes (from the application as
// it loaded it to the application as it saves it) are applied to the application as it is in
// the store now. Two administrators who change different things of one application both keep
// their change; when they change the same setting, the later save wins.
#pragma once

#include "qvcomsrv/store/model.h"

namespace sky::farm {

Application mergeChanges(const Application& current, const Application& loaded,
                         const Application& edited);

} // namespace sky::farm

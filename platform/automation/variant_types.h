// Which VARIANT types this platform stores, shared by the variant functions.
#pragma once

#include "win/oleauto.h"

namespace sky::automation {

// True for a type a VARIANT may hold by value or by reference here (arrays are not supported).
bool isValidVariantType(VARTYPE vt);

} // namespace sky::automation

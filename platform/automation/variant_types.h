// Which VARIANT types this platform stores, shared by the variant functions.
#pragma once

#include <cstddef>

#include "win/oleauto.h"

namespace sky::automation {

// True for a type a VARIANT may hold by value or by reference here, arrays aside.
bool isValidVariantType(VARTYPE vt);

// True for VT_ARRAY with an element type a SAFEARRAY holds here (arrays are held by value only).
bool isValidArrayType(VARTYPE vt);

// The number of bytes a value of this type takes (what a by-reference value points at; a
// pointer's size for strings and objects), 0 for types without a value of their own.
std::size_t valueSize(VARTYPE vt);

} // namespace sky::automation

// The bytes of a module file's "TYPELIB" resource, read as data without running the module.
#pragma once

#include <string>
#include <vector>

#include "win/types.h"

namespace sky::typelib {

// TYPE_E_CANTLOADLIBRARY when the file is not a module or has no such resource.
HRESULT readTypeLibResource(const std::u16string& modulePath, WORD id,
                            std::vector<unsigned char>& out);

} // namespace sky::typelib

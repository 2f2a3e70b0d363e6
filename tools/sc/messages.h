// The texts sc prints for the error codes of the service calls.
#pragma once

#include <string>

#include "win/types.h"

namespace sc {

// The system's text for an error code ("Access is denied."), or a generic one.
std::string errorText(DWORD error);

} // namespace sc

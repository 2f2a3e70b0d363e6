// Result codes of the farm object model's own, beside the system's codes that it also returns.
// They are interface codes (FACILITY_ITF), so a caller can tell a refusal that leaves the farm
// as the caller wanted it from a failure that lost a change.
#pragma once

#include "win/errors.h"

// AddServer: the application is already published on the binding's server. Nothing changes.
#define SKYLOOM_E_ALREADY_PUBLISHED _HRESULT_TYPEDEF_(0x80040201L)
// RemoveServer: the application is not published on that server (a server the farm does not
// have at all is HRESULT_FROM_WIN32(ERROR_NOT_FOUND)). Nothing changes.
#define SKYLOOM_E_NOT_PUBLISHED _HRESULT_TYPEDEF_(0x80040202L)

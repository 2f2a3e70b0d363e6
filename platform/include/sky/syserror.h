// The Win32 error code for a host (errno) error, for the platform's file, process and directory
// functions.
#pragma once

#include "sky/export.h"
#include "win/types.h"

namespace sky {

// ENOENT -> ERROR_FILE_NOT_FOUND, EACCES -> ERROR_ACCESS_DENIED, ENOTDIR -> ERROR_PATH_NOT_FOUND,
// ENOMEM -> ERROR_NOT_ENOUGH_MEMORY, ...; ERROR_GEN_FAILURE for a code without a counterpart.
// 0 gives ERROR_SUCCESS.
SKY_API DWORD win32ErrorFromErrno(int error);

} // namespace sky

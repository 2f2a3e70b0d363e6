// Files named by Windows paths ("C:\Temp\Word.ico"), as the icon members read and write them:
// the path is checked against the rules of Windows file names, mapped onto the machine's drives,
// and every failure is a Win32 result code with a description naming the file.
#pragma once

#include <string_view>

#include "qvcomsrv/store/model.h"
#include "win/types.h"

namespace qvcomsrv {

// The file is opened with the caller's rights (sky::remote::callerFile): across the boundary by
// the calling program, which hands the descriptor over with the call; the service opens none.
// Only regular files are read or written: a folder, pipe, socket or device is refused at once with
// ERROR_ACCESS_DENIED (opening one never waits: it is opened without blocking and looked at
// before anything is read or written).
//
// Reads a file of at most `limit` bytes; a longer one fails with ERROR_FILE_TOO_LARGE, having
// read no more than the limit.
HRESULT readWindowsFile(std::u16string_view path, sky::farm::Bytes& bytes, std::size_t limit);
// Creates the file or replaces its content.
HRESULT writeWindowsFile(std::u16string_view path, const sky::farm::Bytes& bytes);

} // namespace qvcomsrv

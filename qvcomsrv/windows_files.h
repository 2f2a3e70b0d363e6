// Files named by Windows paths ("C:\Temp\Word.ico"), as the icon members read and write them:
// the path is checked against the rules of Windows file names, mapped onto the machine's drives,
// and every failure is a Win32 result code with a description naming the file.
#pragma once

#include <string_view>

#include "qvcomsrv/store/model.h"
#include "win/types.h"

namespace qvcomsrv {

HRESULT readWindowsFile(std::u16string_view path, sky::farm::Bytes& bytes);
// Creates the file or replaces its content.
HRESULT writeWindowsFile(std::u16string_view path, const sky::farm::Bytes& bytes);

} // namespace qvcomsrv

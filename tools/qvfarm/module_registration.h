// "qvfarm register" and "qvfarm unregister": the object model module registered in-process on
// this machine, through the module's own DllRegisterServer and DllUnregisterServer, so that
// programs create the "SkyloomCOM.*" classes from it (for development, until the QVCom service
// serves them out of process).
#pragma once

#include <optional>
#include <string>

#include "commands.h"

namespace sky::qvfarm {

// `module`: a Windows path ("C:\WINDOWS\System32\qvcomsrv.dll") or a host path; the
// qvcomsrv.dll beside the qvfarm program when not given.
int registerModule(const std::optional<std::string>& module, Streams io);
int unregisterModule(const std::optional<std::string>& module, Streams io);

} // namespace sky::qvfarm

// Pointing this machine's object model at another farm: the farm product's registration program,
// qvreg.exe, run from the current directory.
#pragma once

#include <string>
#include <string_view>

namespace brask {

// The two command lines, for the current directory `folder` (a Windows path):
// "<folder>\qvreg.exe /u<server>" removes the current registration (no blank before the name),
// "<folder>\qvreg.exe <server>" registers for the named server's farm.
std::u16string unregisterCommandLine(std::u16string_view folder, std::u16string_view server);
std::u16string registerCommandLine(std::u16string_view folder, std::u16string_view server);

// How long one run of qvreg.exe is waited for before the pass-through goes on without it.
inline constexpr unsigned kRunTimeoutMs = 30000;

// Runs both from the process's current directory, one after the other, each waited for until it
// ends (at most kRunTimeoutMs), so that the unregistration is done before the registration starts
// and both before the caller checks the farm again. Exit codes are not looked at. Throws ToolError
// when a start fails (53 "File not found" when qvreg.exe is missing); the second is not started
// then.
void reregisterForServer(std::u16string_view server);

} // namespace brask

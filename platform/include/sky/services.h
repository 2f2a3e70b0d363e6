// The platform's own entry points around the service manager.
//
// The machine's service manager is a small per-machine process (the program skyscm, beside
// libskyplatform.so) that the first service call of any process starts and that ends by itself
// once no client is connected and no service runs for a few seconds. It listens on an abstract
// local socket named after the machine directory, so that machines never meet, and serves only the
// machine's users (mayUseMachine).
#pragma once

#include "sky/export.h"

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "win/types.h"

namespace sky::services {

// Where the machine's users are listed: HKLM\<machineUsersKey>, value machineUsersValue
// (REG_MULTI_SZ of account names, compared ignoring case).
inline constexpr char16_t machineUsersKey[] = u"Software\\Vantor\\Skyloom";
inline constexpr char16_t machineUsersValue[] = u"MachineUsers";

// Whether an account may use the machine's channels: the owner of the machine directory, and the
// accounts the machine's registry lists as its users. Nobody else (root included, unless listed
// or the owner).
SKY_API bool mayUseMachine(uid_t account);

// The abstract socket name (without its leading NUL) of a machine's service manager.
SKY_API std::string managerSocketName(const std::filesystem::path& machineDirectory);

// The manager program that serves this machine.
SKY_API std::filesystem::path managerProgram();

// Sends every running service of the machine the shutdown control (those that do not accept it
// are ended), as a machine going down does, and returns once all have stopped (at most 20 s,
// then the rest are killed). For tests, which stop whatever they started. Returns ERROR_SUCCESS or
// the error of reaching the manager.
SKY_API DWORD shutdownServices();

} // namespace sky::services

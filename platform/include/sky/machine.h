// The emulated Windows machine: a directory that holds the registry hive, drive C and the
// runtime state of services. SKYLOOM_MACHINE names it. Without it a program uses the system
// machine, /var/lib/skyloom/machine (laid by the skyloom-machine package), when that exists and
// the user may use it (root, its owner or a member of its group); otherwise the user's own,
// $XDG_DATA_HOME/skyloom/machine (or ~/.local/share/skyloom/machine), created on first use.
//
// The environment variable is read on every call, so a test may point it at a fresh directory at
// any time; everything that caches per machine (the registry's open hive, say) keys its cache by
// the directory.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "sky/export.h"
#include "win/types.h"

namespace sky::machine {

// Where the skyloom-machine package lays the system machine.
inline constexpr const char* systemMachineFolder = "/var/lib/skyloom/machine";

// The machine a program uses when SKYLOOM_MACHINE is unset: `systemMachine` when it is a
// folder this process may use (it runs as root, as the folder's owner, or with the folder's
// group among its groups), else the user's own machine folder. Neither is created.
SKY_API std::filesystem::path
defaultRoot(const std::filesystem::path& systemMachine = systemMachineFolder);

// The machine directory, created (with drive_c) if it does not exist yet. The first time a process
// of the owner meets a machine it makes sure that strangers read nothing of it: the folder owner
// rwx and group r-x, the hive owner rw and group r, the farm stores the owner's alone (the table
// in docs/installation.md).
SKY_API std::filesystem::path root();

// Who the machine belongs to: the owner of the machine directory runs its service manager and
// services (LocalSystem is the owner) and alone writes its hive (HKLM), farm stores and
// rendezvous; the
// members of the directory's group are the machine's users; anyone else is a stranger, who may
// neither read nor reach anything of the machine. (uid_t)-1 and (gid_t)-1 when the directory
// cannot be looked at.
SKY_API uid_t owner();
SKY_API gid_t group();

// The machine's runtime folder, <machine>/run, or the folder `below` it (`com`): where the
// machine's service manager and object servers are reached. Made as needed by the owner, who
// alone writes it (owner rwx, group r-x, others nothing; set-group-id, so that what is made in it
// takes the machine's group); anybody else gets the path as it is.
SKY_API std::filesystem::path runtimeFolder(std::string_view below = {});

// <machine>/drive_c, the directory behind drive C:.
SKY_API std::filesystem::path driveC();

// Maps a path as a program sees it to the host's file system:
//   C:\dir\file   -> <machine>/drive_c/dir/file
//   Z:\dir\file   -> /dir/file
//   /dir/file     -> /dir/file (a Unix absolute path is taken as it is)
//   dir\file      -> dir/file, relative to the current directory
// Components that already exist are matched case-insensitively, as Windows would find them;
// the rest are kept as written. Other drive letters and UNC paths give nullopt.
SKY_API std::optional<std::filesystem::path> toHostPath(std::u16string_view windowsPath);

// Whether toHostPath maps `windowsPath` at all: by its form alone, touching no file and not the
// machine's folder, so that a service may check a caller's path without looking at the caller's
// files with its own rights.
SKY_API bool isOnAMachineDrive(std::u16string_view windowsPath);

// The Windows form of a host path: C:\... under drive_c, Z:\... otherwise, with backslashes.
SKY_API std::u16string toWindowsPath(const std::filesystem::path& hostPath);

} // namespace sky::machine

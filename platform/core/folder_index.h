// Finding a folder's entry by a name compared without regard to case, as a Windows path names it.
//
// A small folder is read from start to end on every lookup. A large one (kIndexedFrom entries or
// more) is read once into an index of its names by their folding, and inotify keeps the index
// current: every change made to the folder by any process (an entry created, deleted or moved in
// or out) is queued by the kernel before the call that made it returns, and the queue is read
// before each lookup, so a lookup sees exactly what a fresh read would see. Without it, a program
// writing thousands of files into one folder (an export's icons) reads the whole folder once per
// file.
//
// The index is dropped, and the folder read again, whenever it cannot be trusted: the folder was
// moved, deleted or replaced (its device and inode are checked on every lookup), the kernel's
// queue overflowed, the process forked (the child gets its own queue), or inotify is not
// available (then every lookup reads the folder). At most kMostIndexed folders are indexed at a
// time; the least recently used goes first. Safe to call from any thread.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace sky::machine::detail {

inline constexpr std::size_t kIndexedFrom = 64;
inline constexpr std::size_t kMostIndexed = 32;

// The name of the entry of `folder` whose name folds as `name` does, or nothing. `name` is one
// path component in UTF-8. When several entries fold alike (made outside the machine's rules),
// one of them is found.
std::optional<std::string> findEntryNoCase(const std::filesystem::path& folder,
                                           const std::string& name);

// How many folders are indexed now (for tests).
std::size_t indexedFolders();

} // namespace sky::machine::detail

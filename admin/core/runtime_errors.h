// The tool's own failures, with the numbers and texts that administrators know from the runtime
// of such tools: a missing file is 53 "File not found", a value that is not a number 13 "Type
// mismatch", and so on. Object-model failures keep their negative result code instead
// (sky::ComError).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/tool_error.h"

namespace brask {

// A call with an argument it cannot take, such as text the machine's code page cannot hold.
inline constexpr std::int32_t kInvalidCall = 5;
// A number out of range: past 32 bits, or an application count past 32767.
inline constexpr std::int32_t kOverflow = 6;
// An account line with fewer than four fields.
inline constexpr std::int32_t kSubscriptOutOfRange = 9;
// A value that is not a number.
inline constexpr std::int32_t kTypeMismatch = 13;
// An object that the operation needs does not exist yet.
inline constexpr std::int32_t kObjectNotSet = 91;
// A file name that no file can have.
inline constexpr std::int32_t kBadFileName = 52;
// A file that does not exist.
inline constexpr std::int32_t kFileNotFound = 53;
// The file exists but the system refuses the access.
inline constexpr std::int32_t kPermissionDenied = 70;
// Any other failure to reach a file or folder.
inline constexpr std::int32_t kPathFileAccessError = 75;
// A folder on the way to the file does not exist.
inline constexpr std::int32_t kPathNotFound = 76;

// The runtime's text for one of the numbers above ("File not found").
std::u16string_view runtimeErrorText(std::int32_t number);

// The failure with that number and its text; `detail`, when given, follows the text after a colon
// and a blank ("Type mismatch: abc").
ToolError runtimeError(std::int32_t number, std::u16string_view detail = {});

} // namespace brask

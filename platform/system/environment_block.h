// The host environment seen with Windows names, for the platform's own use (starting programs).
#pragma once

#include <string>
#include <vector>

namespace sky {

// A copy of this process's environment as NAME=value entries (UTF-8), taken under the lock that
// SetEnvironmentVariableW holds, so a program started meanwhile sees a whole change or none.
std::vector<std::string> environmentEntries();

// Sets NAME=value in a list of entries, replacing every entry whose name equals NAME ignoring case
// (the first keeps its place and its host spelling of the name).
void setEntry(std::vector<std::string>& entries, const std::string& name, const std::string& value);

// The value of NAME in a list of entries (names ignore case; the exact spelling wins).
const std::string* findEntry(const std::vector<std::string>& entries, const std::string& name);

} // namespace sky

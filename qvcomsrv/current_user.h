// The account of the user the object model acts for, as the machine names it (GetUserNameW):
// the user running the program, or, while a call from another process is served, the caller.
#pragma once

#include <string>

namespace qvcomsrv {

// Empty when the machine cannot tell.
std::string currentUserName();

} // namespace qvcomsrv

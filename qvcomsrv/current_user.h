// The account of the user the program runs as, as the machine names it (GetUserNameW).
#pragma once

#include <string>

namespace qvcomsrv {

// Empty when the machine cannot tell.
std::string currentUserName();

} // namespace qvcomsrv

#include "current_user.h"

#include <windows.h>

#include "sky/text.h"

namespace qvcomsrv {

std::string currentUserName() {
    WCHAR buffer[UNLEN + 1];
    DWORD size = UNLEN + 1;
    if (!GetUserNameW(buffer, &size) || size == 0)
        return {};
    return sky::narrow(std::u16string_view(buffer, size - 1));
}

} // namespace qvcomsrv

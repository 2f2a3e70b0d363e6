#include "current_user.h"

#include <windows.h>

#include "sky/text.h"
#include "win/com_security.h"

namespace qvcomsrv {

std::string currentUserName() {
    // Serving a call from another process, the user is the caller, not the service's account.
    const bool impersonating = SUCCEEDED(CoImpersonateClient());
    WCHAR buffer[UNLEN + 1];
    DWORD size = UNLEN + 1;
    const BOOL known = GetUserNameW(buffer, &size);
    if (impersonating)
        CoRevertToSelf();
    if (!known || size == 0)
        return {};
    return sky::narrow(std::u16string_view(buffer, size - 1));
}

} // namespace qvcomsrv

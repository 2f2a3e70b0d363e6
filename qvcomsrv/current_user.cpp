#include "current_user.h"

#include <windows.h>

#include "sky/remote.h"
#include "sky/text.h"
#include "win/com_security.h"

namespace qvcomsrv {

namespace {

std::string askedUserName() {
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

} // namespace

std::string currentUserName() {
    // One call's caller stays the same for the whole call: his name is asked once for it, not
    // for each member a snapshot or an enumeration's items make the gate check. Kept for the
    // serving thread's current call only; the next call asks again.
    std::string* kept = sky::remote::servingCallMemo();
    if (kept && !kept->empty())
        return *kept;
    std::string name = askedUserName();
    if (kept)
        *kept = name;
    return name;
}

} // namespace qvcomsrv

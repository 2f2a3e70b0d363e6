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
    // for each member a snapshot or an enumeration's items make the gate check. Kept by the
    // serving thread for its current call only; the next call asks again.
    thread_local std::uint64_t knownCall = 0;
    thread_local std::string knownName;
    const std::uint64_t call = sky::remote::servingCallNumber();
    if (call != 0 && call == knownCall)
        return knownName;
    std::string name = askedUserName();
    if (call != 0) {
        knownCall = call;
        knownName = name;
    }
    return name;
}

} // namespace qvcomsrv

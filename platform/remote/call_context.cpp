// CoImpersonateClient and CoRevertToSelf: during a call from another process, the serving thread
// takes on the identity of the user who called (the peer's credentials of the connection), so
// that GetUserNameW names that user, as impersonation makes it on Windows.
#include "call_context.h"

#include <atomic>

#include "sky/remote.h"
#include "win/com_security.h"

namespace {

struct CallContext {
    const std::u16string* caller = nullptr; // the call being served, if any
    bool impersonating = false;
    std::vector<sky::remote::HandedFile>* files = nullptr;
    std::string memo;         // servingCallMemo(), for the call being served
    std::uint64_t number = 0; // servingCallNumber()
};
thread_local CallContext context;
std::atomic<std::uint64_t> callsServed{0};

} // namespace

namespace sky::remote {

ServingCall::ServingCall(const std::u16string& caller, std::vector<HandedFile>& files) {
    context.caller = &caller;
    context.impersonating = false;
    context.files = &files;
    context.memo.clear();
    context.number = callsServed.fetch_add(1, std::memory_order_relaxed) + 1;
}

ServingCall::~ServingCall() {
    context.caller = nullptr;
    context.impersonating = false;
    context.files = nullptr;
    context.memo.clear();
    context.number = 0;
}

MemberFile callerFile(std::u16string_view name, dispatch::FileUse use) {
    if (!context.caller)
        return openMemberFile(name, use);
    // Serving another process: only what its caller opened, never a file opened here with this
    // process's rights.
    for (HandedFile& handed : *context.files)
        if (handed.use == use && handed.name == name) {
            MemberFile file = handed.file;
            handed.file.fd = -1; // given out once: the taker closes it
            handed.use = dispatch::FileUse::None;
            return file;
        }
    MemberFile none;
    none.notHanded = true;
    return none;
}

std::uint64_t servingCallNumber() {
    return context.number;
}

std::string* servingCallMemo() {
    return context.caller ? &context.memo : nullptr;
}

const char16_t* impersonatedUser() {
    return context.impersonating && context.caller ? context.caller->c_str() : nullptr;
}

} // namespace sky::remote

extern "C" {

HRESULT WINAPI CoImpersonateClient() {
    if (!context.caller)
        return RPC_E_CALL_COMPLETE;
    context.impersonating = true;
    return S_OK;
}

HRESULT WINAPI CoRevertToSelf() {
    if (!context.caller)
        return RPC_E_CALL_COMPLETE;
    context.impersonating = false;
    return S_OK;
}

} // extern "C"

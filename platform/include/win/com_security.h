// Call security of automation servers: acting as the client whose call is being served.
#pragma once

#include "sky/export.h"

#include "win/com.h"

#ifndef RPC_E_CALL_COMPLETE
#define RPC_E_CALL_COMPLETE _HRESULT_TYPEDEF_(0x8001010EL)
#endif
#ifndef CO_E_OBJNOTCONNECTED
#define CO_E_OBJNOTCONNECTED _HRESULT_TYPEDEF_(0x800401FDL)
#endif

extern "C" {
// During a call from another process: act as the calling user (GetUserNameW names that user)
// until CoRevertToSelf or the end of the call. RPC_E_CALL_COMPLETE outside such a call.
SKY_API HRESULT WINAPI CoImpersonateClient();
SKY_API HRESULT WINAPI CoRevertToSelf();
}

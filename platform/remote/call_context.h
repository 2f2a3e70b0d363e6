// The call a thread is serving for another process: who called.
#pragma once

#include <string>

namespace sky::remote {

// Set by the apartment thread around every call it serves.
class ServingCall {
public:
    explicit ServingCall(const std::u16string& caller);
    ~ServingCall();
    ServingCall(const ServingCall&) = delete;
    ServingCall& operator=(const ServingCall&) = delete;
};

} // namespace sky::remote

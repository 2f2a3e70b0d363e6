// The call a thread is serving for another process: who called, and the files the caller opened
// for the call's file arguments.
#pragma once

#include <string>
#include <vector>

#include "wire.h"

namespace sky::remote {

// Set by the connection's thread around every call it serves. The files stay the server's:
// those the call did not take are closed by the server after the call.
class ServingCall {
public:
    ServingCall(const std::u16string& caller, std::vector<HandedFile>& files);
    ~ServingCall();
    ServingCall(const ServingCall&) = delete;
    ServingCall& operator=(const ServingCall&) = delete;
};

} // namespace sky::remote

// errorOf: the ComError a call throws, for tests that look at its code and text.
#pragma once

#include <optional>

#include "sky/com_error.h"

namespace sky::testclass {

// Runs `call`; the ComError it threw, or nullopt when it returned normally.
template <class Call> std::optional<sky::ComError> errorOf(Call call) {
    try {
        call();
    } catch (const sky::ComError& e) {
        return e;
    }
    return std::nullopt;
}

} // namespace sky::testclass

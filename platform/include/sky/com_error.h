// One error type for failed automation calls: the result code and the description that the
// failing object supplied through its error information.
#pragma once

#include <exception>
#include <string>

#include "sky/export.h"
#include "win/com.h"

namespace sky {

class SKY_API ComError : public std::exception {
public:
    // The failure of a call that has just returned `result`. The description comes from the
    // calling thread's error information (GetErrorInfo, which takes it away), even when it is
    // empty; only when there is none, from the system's text for the result code.
    explicit ComError(HRESULT result);
    // A failure whose description is known (an EXCEPINFO, or one the caller states). An empty
    // description is replaced by the system's text for the result code.
    ComError(HRESULT result, std::u16string description, std::u16string source = {});

    HRESULT result() const noexcept { return result_; }
    const std::u16string& description() const noexcept { return description_; }
    const std::u16string& source() const noexcept { return source_; }
    // The description in UTF-8.
    const char* what() const noexcept override { return what_.c_str(); }

private:
    HRESULT result_;
    std::u16string description_;
    std::u16string source_;
    std::string what_;
};

// Throws ComError for a failure code; returns success codes (S_OK, S_FALSE) unchanged.
inline HRESULT check(HRESULT result) {
    if (FAILED(result))
        throw ComError(result);
    return result;
}

// The system's text for a result code ("Class not registered"), or "Unknown error 0x8xxxxxxx".
SKY_API std::u16string resultText(HRESULT result);

} // namespace sky

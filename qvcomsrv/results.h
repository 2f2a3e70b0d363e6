// How a member of the object model ends: a failure with its description in the calling
// thread's error information, or a value handed out through an out-parameter.
#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <string_view>

#include "qvcomsrv/store/status.h"
#include "sky/com_ptr.h"
#include "skyloom_results.h"
#include "win/oleauto.h"

namespace qvcomsrv {

// Result codes of the module besides the system's own: Win32 codes as HRESULTs. The object
// model's own codes (SKYLOOM_E_...) are in skyloom_results.h, which callers share.
inline constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(1168L);       // ERROR_NOT_FOUND
inline constexpr HRESULT kAlreadyExists = HRESULT_FROM_WIN32(183L);   // ERROR_ALREADY_EXISTS
inline constexpr HRESULT kNotSupported = HRESULT_FROM_WIN32(50L);     // ERROR_NOT_SUPPORTED
inline constexpr HRESULT kBusy = HRESULT_FROM_WIN32(170L);            // ERROR_BUSY
inline constexpr HRESULT kStoreDamaged = HRESULT_FROM_WIN32(1392L);   // ERROR_FILE_CORRUPT
inline constexpr HRESULT kBadFileFormat = HRESULT_FROM_WIN32(11L);    // ERROR_BAD_FORMAT
inline constexpr HRESULT kInvalidFileName = HRESULT_FROM_WIN32(123L); // ERROR_INVALID_NAME

// ERROR_HOST_UNREACHABLE: the farm store's database server cannot be reached.
inline constexpr HRESULT kStoreUnavailable = HRESULT_FROM_WIN32(1232L);

// The result code for a kind of farm store failure.
HRESULT resultFor(sky::farm::Status::Code code);

// Sets the thread's error information to `description` (UTF-8) and returns `result`.
HRESULT withErrorInfo(HRESULT result, std::string_view description);
// A farm store failure: its kind's result code and its message.
HRESULT withErrorInfo(const sky::farm::Status& status);
// The same with `context` in front of the store's message ("Cannot open the farm: ...").
HRESULT withErrorInfo(const sky::farm::Status& status, std::string_view context);

// Runs a member's body, turning an exception that escapes it into a failure: no exception
// crosses an interface.
template <typename Body> HRESULT catchExceptions(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return withErrorInfo(E_OUTOFMEMORY, "The farm object model ran out of memory.");
    } catch (const std::exception& e) {
        return withErrorInfo(E_UNEXPECTED, e.what());
    } catch (...) {
        return withErrorInfo(E_UNEXPECTED, "The farm object model met an unexpected failure.");
    }
}

// Out-parameters. Each refuses a null pointer with E_POINTER (and a description).
HRESULT returnText(BSTR* out, std::string_view utf8);
HRESULT returnLong(LONG* out, std::int32_t value);
HRESULT returnBool(VARIANT_BOOL* out, bool value);
HRESULT nullOut();
template <typename Enumeration> HRESULT returnEnum(Enumeration* out, std::int32_t value) {
    if (!out)
        return nullOut();
    *out = static_cast<Enumeration>(value);
    return S_OK;
}

// Hands out `object` (already the interface asked for) through `out`.
template <class Interface> HRESULT returnObject(Interface** out, sky::ComPtr<Interface> object) {
    if (!out)
        return nullOut();
    *out = object.detach();
    return S_OK;
}

// UTF-8 text of an automation string (a null BSTR is the empty string).
std::string textOf(BSTR text);
// The characters of an automation string.
inline std::u16string_view viewOf(BSTR text) {
    return text ? std::u16string_view(text, SysStringLen(text)) : std::u16string_view();
}

} // namespace qvcomsrv

#include "results.h"

#include "sky/com_object.h"
#include "sky/text.h"

namespace qvcomsrv {

namespace {

constexpr std::u16string_view kSource = u"SkyloomCOM";

} // namespace

HRESULT resultFor(sky::farm::Status::Code code) {
    using Code = sky::farm::Status::Code;
    switch (code) {
    case Code::Ok:
        return S_OK;
    case Code::NotFound:
        return kNotFound;
    case Code::AlreadyExists:
        return kAlreadyExists;
    case Code::InvalidArgument:
        return E_INVALIDARG;
    case Code::NotSupported:
        return kNotSupported;
    case Code::Busy:
        return kBusy;
    case Code::Corrupt:
        return kStoreDamaged;
    case Code::IOError:
        return E_FAIL;
    case Code::Unavailable:
        return kStoreUnavailable;
    case Code::AccessDenied:
        return E_ACCESSDENIED;
    case Code::Internal:
        break;
    }
    return E_UNEXPECTED;
}

HRESULT withErrorInfo(HRESULT result, std::string_view description) {
    return sky::setError(result, sky::widen(description), kSource);
}

HRESULT withErrorInfo(const sky::farm::Status& status) {
    return withErrorInfo(resultFor(status.code()), status.message());
}

HRESULT withErrorInfo(const sky::farm::Status& status, std::string_view context) {
    std::string text(context);
    text += ": ";
    text += status.message();
    return withErrorInfo(resultFor(status.code()), text);
}

HRESULT nullOut() {
    return withErrorInfo(E_POINTER, "The caller passed no place for the result.");
}

HRESULT returnText(BSTR* out, std::string_view utf8) {
    if (!out)
        return nullOut();
    const std::u16string wide = sky::widen(utf8);
    *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (!*out)
        return withErrorInfo(E_OUTOFMEMORY, "The farm object model ran out of memory.");
    return S_OK;
}

HRESULT returnLong(LONG* out, std::int32_t value) {
    if (!out)
        return nullOut();
    *out = value;
    return S_OK;
}

HRESULT returnBool(VARIANT_BOOL* out, bool value) {
    if (!out)
        return nullOut();
    *out = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

std::string textOf(BSTR text) {
    return sky::narrow(viewOf(text));
}

} // namespace qvcomsrv

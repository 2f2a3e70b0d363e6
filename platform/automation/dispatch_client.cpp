// Calls by name and collection enumeration for automation clients.
#include <algorithm>
#include <array>
#include <vector>

#include "sky/dispatch.h"

namespace sky {

namespace {

IDispatch* requireObject(IDispatch* object) {
    if (!object)
        throw ComError(E_POINTER, resultText(E_POINTER));
    return object;
}

// The error an Invoke reported through its EXCEPINFO; frees the EXCEPINFO's strings.
ComError exceptionError(EXCEPINFO& info) {
    if (info.pfnDeferredFillIn)
        info.pfnDeferredFillIn(&info);
    HRESULT code = info.scode;
    if (code == 0)
        code = info.wCode ? MAKE_HRESULT(SEVERITY_ERROR, 0xA, info.wCode) : DISP_E_EXCEPTION;
    Bstr description = Bstr::adopt(info.bstrDescription);
    Bstr source = Bstr::adopt(info.bstrSource);
    Bstr helpFile = Bstr::adopt(info.bstrHelpFile);
    return ComError(code, description.str(), source.str());
}

} // namespace

DISPID dispatchId(IDispatch* object, std::u16string_view name) {
    requireObject(object);
    std::u16string text(name);
    LPOLESTR names[] = {text.data()};
    DISPID id = DISPID_UNKNOWN;
    check(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    return id;
}

Variant invoke(IDispatch* object, DISPID member, WORD kind, std::span<const Variant> arguments) {
    requireObject(object);
    // DISPPARAMS lists the arguments last first; the callee only reads them.
    std::vector<VARIANT> reversed;
    reversed.reserve(arguments.size());
    for (auto it = arguments.rbegin(); it != arguments.rend(); ++it)
        reversed.push_back(*it->get());
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS parameters{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (kind & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        parameters.rgdispidNamedArgs = &putId;
        parameters.cNamedArgs = 1;
    }
    Variant result;
    EXCEPINFO exception{};
    UINT argumentError = 0;
    HRESULT hr = object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, kind, &parameters,
                                result.put(), &exception, &argumentError);
    if (hr == DISP_E_EXCEPTION)
        throw exceptionError(exception);
    check(hr);
    return result;
}

Variant getProperty(IDispatch* object, std::u16string_view name) {
    return invoke(object, dispatchId(object, name), DISPATCH_PROPERTYGET, {});
}

void putProperty(IDispatch* object, std::u16string_view name, const Variant& value) {
    invoke(object, dispatchId(object, name), DISPATCH_PROPERTYPUT, {&value, 1});
}

bool Enumeration::next(Variant& item) {
    if (next_ == fetched_.size() && enumerator_) {
        fetched_.clear();
        next_ = 0;
        std::array<VARIANT, batch> values;
        for (VARIANT& v : values)
            VariantInit(&v);
        ULONG count = 0;
        const HRESULT hr = enumerator_->Next(batch, values.data(), &count);
        if (FAILED(hr)) {
            for (VARIANT& v : values)
                VariantClear(&v);
            enumerator_.reset();
            check(hr);
        }
        count = std::min(count, batch);
        for (ULONG i = 0; i < count; ++i)
            *fetched_.emplace_back().put() = values[i]; // the item's references move along
        for (ULONG i = count; i < batch; ++i)
            VariantClear(&values[i]);
        // Fewer than asked for: the enumerator has no more.
        if (hr != S_OK || count < batch)
            enumerator_.reset();
    }
    if (next_ == fetched_.size()) {
        item.put();
        return false;
    }
    item = std::move(fetched_[next_++]);
    return true;
}

Enumeration enumerate(IDispatch* collection) {
    Variant newEnum =
        invoke(collection, DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {});
    return Enumeration(newEnum.as<IEnumVARIANT>());
}

} // namespace sky

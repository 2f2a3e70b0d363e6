// A small automation class for the tests: a dual interface with a default member, a method that
// fails with error information, one that fails through EXCEPINFO, and a collection. The tests
// use it directly and through the module skytestclass.dll, which serves it for activation.
#pragma once

#include <string>
#include <vector>

#include "sky/automation.h"
#include "sky/text.h"
#include "win/oleauto.h"

namespace sky::testclass {

// {5E7A1C01-3B2D-4C8E-9F10-A1B2C3D4E5F6}
inline constexpr CLSID CLSID_SampleObject{
    0x5E7A1C01, 0x3B2D, 0x4C8E, {0x9F, 0x10, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}};
// {5E7A1C02-3B2D-4C8E-9F10-A1B2C3D4E5F6}
inline constexpr IID IID_ISampleObject{
    0x5E7A1C02, 0x3B2D, 0x4C8E, {0x9F, 0x10, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}};

// Result of the failing members (a FACILITY_ITF code of the class's own).
inline constexpr HRESULT SAMPLE_E_REFUSED = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0201);

} // namespace sky::testclass

struct ISampleObject : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Name(BSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE Add(LONG a, LONG b, LONG* sum) = 0;
    virtual HRESULT STDMETHODCALLTYPE Fail(BSTR description) = 0;
};
SKY_INTERFACE_ID(ISampleObject, sky::testclass::IID_ISampleObject);

namespace sky::testclass {

enum SampleMember : DISPID {
    memberValue = DISPID_VALUE,
    memberName = 1,
    memberAdd = 2,
    memberFail = 3,
    memberRaise = 4,
    memberItems = 5,
    memberCount = 6,
};

struct MemberName {
    const char16_t* name;
    DISPID id;
};

// GetIDsOfNames over a table, matching names without regard to case.
inline HRESULT lookUpNames(const std::vector<MemberName>& table, LPOLESTR* names, UINT count,
                           DISPID* ids) {
    if (!names || !ids)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        for (const auto& entry : table)
            if (names[i] && sky::equalNoCase(names[i], entry.name))
                ids[i] = entry.id;
        if (ids[i] == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

// Argument `index` (in call order) of an Invoke, converted to `vt`.
inline HRESULT argument(DISPPARAMS* params, UINT index, VARTYPE vt, sky::Variant& out) {
    if (!params || index >= params->cArgs)
        return DISP_E_BADPARAMCOUNT;
    const VARIANT& given = params->rgvarg[params->cArgs - 1 - index];
    return VariantChangeType(out.put(), &given, 0, vt);
}

// A collection of sample items: Count and _NewEnum, no default member.
class SampleCollection final : public sky::ComObject<IDispatch> {
public:
    explicit SampleCollection(std::vector<sky::Variant> items) : items_(std::move(items)) {}

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        return lookUpNames({{u"Count", memberCount}, {u"_NewEnum", DISPID_NEWENUM}}, names, count,
                           ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*,
                                     VARIANT* result, EXCEPINFO*, UINT*) override {
        if (!(flags & DISPATCH_PROPERTYGET) || !result)
            return DISP_E_MEMBERNOTFOUND;
        if (id == memberCount) {
            VariantInit(result);
            result->vt = VT_I4;
            result->lVal = static_cast<LONG>(items_.size());
            return S_OK;
        }
        if (id == DISPID_NEWENUM) {
            VariantInit(result);
            result->vt = VT_UNKNOWN;
            result->punkVal = sky::makeVariantEnumerator(items_).detach();
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    std::vector<sky::Variant> items_;
};

// The sample class. Its default member (Value) is settable by the tests through setValue().
class SampleObject final : public sky::ComObject<ISampleObject, ISupportErrorInfo> {
public:
    void setValue(sky::Variant value) { value_ = std::move(value); }

    // ISampleObject
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override {
        if (!name)
            return E_POINTER;
        *name = SysAllocStringLen(name_.data(), static_cast<UINT>(name_.size()));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override {
        name_.assign(name ? name : u"", SysStringLen(name));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Add(LONG a, LONG b, LONG* sum) override {
        if (!sum)
            return E_POINTER;
        const long long total = static_cast<long long>(a) + b;
        if (total > INT32_MAX || total < INT32_MIN)
            return sky::setError(DISP_E_OVERFLOW, u"The sum does not fit.", u"SkyTest.Sample",
                                 IID_ISampleObject);
        *sum = static_cast<LONG>(total);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Fail(BSTR description) override {
        return sky::setError(SAMPLE_E_REFUSED, description ? description : u"", u"SkyTest.Sample",
                             IID_ISampleObject);
    }

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, IID_ISampleObject) ? S_OK : S_FALSE;
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        return lookUpNames({{u"Value", memberValue},
                            {u"Name", memberName},
                            {u"Add", memberAdd},
                            {u"Fail", memberFail},
                            {u"Raise", memberRaise},
                            {u"Items", memberItems}},
                           names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT*) override {
        VARIANT ignored;
        if (!result)
            result = &ignored;
        VariantInit(result);
        const bool get = flags & DISPATCH_PROPERTYGET;
        const bool call = flags & DISPATCH_METHOD;
        sky::Variant a, b;
        switch (id) {
        case memberValue:
            if (!get)
                return DISP_E_MEMBERNOTFOUND;
            return VariantCopy(result, value_.get());
        case memberName:
            if (flags & DISPATCH_PROPERTYPUT) {
                if (HRESULT hr = argument(params, 0, VT_BSTR, a); FAILED(hr))
                    return hr;
                return put_Name(a.get()->bstrVal);
            }
            if (!get)
                return DISP_E_MEMBERNOTFOUND;
            result->vt = VT_BSTR;
            return get_Name(&result->bstrVal);
        case memberAdd: {
            if (!call)
                return DISP_E_MEMBERNOTFOUND;
            if (params && params->cArgs != 2)
                return DISP_E_BADPARAMCOUNT;
            if (HRESULT hr = argument(params, 0, VT_I4, a); FAILED(hr))
                return hr;
            if (HRESULT hr = argument(params, 1, VT_I4, b); FAILED(hr))
                return hr;
            LONG sum = 0;
            if (HRESULT hr = Add(a.get()->lVal, b.get()->lVal, &sum); FAILED(hr))
                return hr;
            result->vt = VT_I4;
            result->lVal = sum;
            return S_OK;
        }
        case memberFail:
            if (HRESULT hr = argument(params, 0, VT_BSTR, a); FAILED(hr))
                return hr;
            return Fail(a.get()->bstrVal);
        case memberRaise:
            // Reports through EXCEPINFO, as a dispatch-only implementation would.
            if (HRESULT hr = argument(params, 0, VT_BSTR, a); FAILED(hr))
                return hr;
            if (exception) {
                *exception = EXCEPINFO{};
                exception->bstrSource = SysAllocString(u"SkyTest.Sample");
                exception->bstrDescription = SysAllocString(a.get()->bstrVal);
                exception->scode = SAMPLE_E_REFUSED;
            }
            return DISP_E_EXCEPTION;
        case memberItems: {
            if (!get)
                return DISP_E_MEMBERNOTFOUND;
            std::vector<sky::Variant> items{sky::Variant(u"first"), sky::Variant(2),
                                            sky::Variant(sky::ComPtr<IDispatch>(this))};
            result->vt = VT_DISPATCH;
            result->pdispVal = sky::makeObject<SampleCollection>(std::move(items)).detach();
            return S_OK;
        }
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    std::u16string name_ = u"sample";
    sky::Variant value_{42};
};

} // namespace sky::testclass

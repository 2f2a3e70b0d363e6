// A test object implementing the test library's farm family and settings family, with its
// IDispatch from the generated tables.
#pragma once

#include <string>

#include "farmlet.h"
#include "sky/com_object.h"
#include "sky/text.h"

namespace idlc::testing {

class FarmletObject final
    : public sky::ComObject<sky::DispatchImpl<IFarmlet3>, sky::DispatchImpl<IFarmletSettings2>> {
public:
    // IFarmlet
    HRESULT STDMETHODCALLTYPE Initialize(FarmletKind k) override {
        kind = k;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_FarmName(BSTR* pVal) override {
        *pVal = SysAllocString(name.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_FarmName(BSTR pVal) override {
        name = pVal ? std::u16string(pVal) : std::u16string();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ServerCount(LONG* pVal) override {
        *pVal = 42;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Items(IFarmletItems** ppItems) override {
        *ppItems = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_Settings(IFarmletSettings** ppSettings) override {
        return query(IID_IFarmletSettings, reinterpret_cast<void**>(ppSettings));
    }
    HRESULT STDMETHODCALLTYPE Add(LONG a, DOUBLE b, LONG c, DOUBLE* pSum) override {
        *pSum = a + b + c;
        return S_OK;
    }
    // IFarmlet2
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* pVal) override {
        *pVal = enabled;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL pVal) override {
        enabled = pVal;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Join(BSTR a, BSTR sep, VARIANT extra, BSTR* pVal) override {
        std::u16string joined = std::u16string(a ? a : u"") + (sep ? sep : u"");
        if (extra.vt == VT_BSTR)
            joined += extra.bstrVal;
        else if (extra.vt == VT_ERROR && extra.scode == DISP_E_PARAMNOTFOUND)
            joined += u"(none)";
        *pVal = SysAllocString(joined.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Kind(FarmletKind* pVal) override {
        *pVal = kind;
        return S_OK;
    }
    // IFarmlet3
    HRESULT STDMETHODCALLTYPE Fail(BSTR message) override {
        ICreateErrorInfo* create = nullptr;
        if (SUCCEEDED(CreateErrorInfo(&create))) {
            create->SetDescription(message);
            OLECHAR source[] = u"Farmlet.Host";
            create->SetSource(source);
            IErrorInfo* info = nullptr;
            create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
            SetErrorInfo(0, info);
            info->Release();
            create->Release();
        }
        return E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE get_Fixed(SHORT* pVal) override {
        *pVal = 7;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Swap(LONG* a, BSTR* b) override {
        *a = *a * 2;
        std::u16string s = std::u16string(*b ? *b : u"") + u"!";
        SysFreeString(*b);
        *b = SysAllocString(s.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Value(LONG index, VARIANT* pVal) override {
        pVal->vt = VT_I4;
        pVal->lVal = index * 100;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Value(LONG index, VARIANT pVal) override {
        lastIndex = index;
        lastValueType = pVal.vt;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Take(IFarmletItem* item, BSTR* pName) override {
        if (!item) {
            *pName = SysAllocString(u"(nothing)");
            return S_OK;
        }
        return item->get_Name(pName);
    }
    // IFarmletSettings
    HRESULT STDMETHODCALLTYPE get_IsAdmin(LONG* pVal) override {
        *pVal = 5;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Tri(FarmletTri* pVal) override {
        *pVal = tri;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Tri(FarmletTri pVal) override {
        tri = pVal;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SaveData() override { return S_OK; }

    std::u16string name = u"Alpha";
    FarmletKind kind = FarmletUnknown;
    FarmletTri tri = FarmletNo;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    LONG lastIndex = -1;
    VARTYPE lastValueType = VT_EMPTY;

private:
    ~FarmletObject() = default;
};

// An item: IFarmletOwnedItem and IFarmletItem.
class ItemObject final : public sky::ComObject<sky::DispatchImpl<IFarmletOwnedItem>> {
public:
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override {
        *pVal = SysAllocString(u"item-1");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Owner(BSTR* pVal) override {
        *pVal = SysAllocString(u"owner");
        return S_OK;
    }

private:
    ~ItemObject() = default;
};

// A collection whose enumerator is the collection object itself (enough to see it arrive).
class ItemsObject final : public sky::ComObject<sky::DispatchImpl<IFarmletItems>> {
public:
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** ppEnum) override {
        return QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ppEnum));
    }
    HRESULT STDMETHODCALLTYPE get_Count(LONG* pVal) override {
        *pVal = 3;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Item(LONG, IDispatch** ppItem) override {
        *ppItem = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        skipped += count;
        return S_OK;
    }
    ULONG skipped = 0;

private:
    ~ItemsObject() = default;
};

} // namespace idlc::testing

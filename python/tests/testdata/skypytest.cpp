// skypytest.dll: an in-process server of the scripting tests' class (ScriptTest.idl), which the
// pytest tests register in their machine and create by programmatic identifier
// ("SkyloomScriptTest.ScriptTest").
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ScriptTest.h"
#include "ScriptTest_notimpl.h"
#include "sky/automation.h"

namespace {

HRESULT give(const std::u16string& text, BSTR* out) {
    if (!out)
        return E_POINTER;
    *out = sky::Bstr(text).detach();
    return S_OK;
}

class Items final : public sky::ComObject<IScriptTestItemsNotImpl> {
public:
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, VARIANT* pVal) override {
        if (!pVal)
            return E_POINTER;
        sky::Variant at;
        if (FAILED(VariantChangeType(at.get(), &index, 0, VT_I4)) || at.get()->lVal < 1 ||
            at.get()->lVal > static_cast<LONG>(kItems.size()))
            return sky::setError(DISP_E_BADINDEX, u"There is no such item.");
        *pVal = sky::Variant(kItems[static_cast<std::size_t>(at.get()->lVal - 1)]).detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Count(LONG* pVal) override {
        if (!pVal)
            return E_POINTER;
        *pVal = static_cast<LONG>(kItems.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** ppEnum) override {
        if (!ppEnum)
            return E_POINTER;
        std::vector<sky::Variant> items;
        for (const char16_t* item : kItems)
            items.emplace_back(item);
        *ppEnum = sky::makeVariantEnumerator(std::move(items)).detach();
        return S_OK;
    }

private:
    static constexpr std::array<const char16_t*, 3> kItems{u"alpha", u"beta", u"gamma"};
};

class ScriptTest final : public sky::ComObject<IScriptTestNotImpl, IScriptTestExtraNotImpl> {
public:
    HRESULT STDMETHODCALLTYPE Echo(VARIANT value, VARIANT* pVal) override {
        if (!pVal)
            return E_POINTER;
        VariantInit(pVal);
        return VariantCopyInd(pVal, &value);
    }
    HRESULT STDMETHODCALLTYPE Grid(LONG rows, LONG columns, VARIANT* pVal) override {
        if (!pVal)
            return E_POINTER;
        VariantInit(pVal);
        SAFEARRAYBOUND bounds[] = {{static_cast<ULONG>(rows), 1}, {static_cast<ULONG>(columns), 0}};
        SAFEARRAY* grid = rows >= 0 && columns >= 0 ? SafeArrayCreate(VT_I4, 2, bounds) : nullptr;
        if (!grid)
            return E_INVALIDARG;
        for (LONG r = 1; r <= rows; ++r)
            for (LONG c = 0; c < columns; ++c) {
                LONG at[] = {r, c};
                LONG value = r * 10 + c;
                SafeArrayPutElement(grid, at, &value);
            }
        pVal->vt = VT_ARRAY | VT_I4;
        pVal->parray = grid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE TypeOf(VARIANT value, LONG* pVal) override {
        if (!pVal)
            return E_POINTER;
        *pVal = value.vt;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Divide(LONG a, LONG b, LONG* remainder, LONG* pVal) override {
        if (!remainder || !pVal)
            return E_POINTER;
        if (b == 0)
            return sky::setError(E_INVALIDARG, u"Division by zero.", u"ScriptTest");
        *pVal = a / b;
        *remainder = a % b;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Twice(LONG* value) override {
        if (!value)
            return E_POINTER;
        *value *= 2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override {
        std::lock_guard<std::mutex> guard(lock_);
        return give(name_, pVal);
    }
    HRESULT STDMETHODCALLTYPE put_Name(BSTR newVal) override {
        std::lock_guard<std::mutex> guard(lock_);
        name_ = newVal ? newVal : u"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Label(LONG index, BSTR* pVal) override {
        return give(u"label " + sky::widen(std::to_string(index)), pVal);
    }
    HRESULT STDMETHODCALLTYPE get_When(DATE* pVal) override {
        if (!pVal)
            return E_POINTER;
        *pVal = when_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_When(DATE newVal) override {
        when_ = newVal;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Ratio(DOUBLE* pVal) override {
        if (!pVal)
            return E_POINTER;
        *pVal = ratio_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Ratio(DOUBLE newVal) override {
        ratio_ = newVal;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* pVal) override {
        if (!pVal)
            return E_POINTER;
        *pVal = enabled_ ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL newVal) override {
        enabled_ = newVal != VARIANT_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Color(ScriptTestColor* pVal) override {
        if (!pVal)
            return E_POINTER;
        *pVal = ScriptTestBlue;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Items(IScriptTestItems** ppItems) override {
        if (!ppItems)
            return E_POINTER;
        *ppItems = sky::makeObject<Items>().detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Fail(BSTR description) override {
        return sky::setError(E_FAIL, description ? description : u"", u"ScriptTest");
    }
    HRESULT STDMETHODCALLTYPE Refuse() override {
        return sky::setError(E_ACCESSDENIED, u"Access is denied.", u"ScriptTest");
    }
    HRESULT STDMETHODCALLTYPE Wait(LONG milliseconds) override {
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::clamp<LONG>(milliseconds, 0, 5000)));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Add(LONG a, LONG b, LONG* pVal) override {
        if (!pVal)
            return E_POINTER;
        *pVal = a + b;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Extra(BSTR* pVal) override { return give(u"extra", pVal); }
    HRESULT STDMETHODCALLTYPE get_Main(IScriptTest** ppMain) override {
        if (!ppMain)
            return E_POINTER;
        return query(IID_IScriptTest, reinterpret_cast<void**>(ppMain));
    }

private:
    std::mutex lock_;
    std::u16string name_ = u"first";
    std::atomic<DATE> when_{0.0};
    std::atomic<DOUBLE> ratio_{0.5};
    std::atomic<bool> enabled_{false};
};

} // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_ScriptTest))
        return CLASS_E_CLASSNOTAVAILABLE;
    try {
        return sky::makeClassFactory<ScriptTest>()->QueryInterface(riid, ppv);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDAPI DllCanUnloadNow() {
    return S_FALSE;
}

// Error information: the error object (IErrorInfo and ICreateErrorInfo in one) and the calling
// thread's current error, set by a failing member and taken by its caller.
#include <string>

#include "sky/com_object.h"
#include "win/oleauto.h"

namespace {

class ErrorObject final : public sky::ComObject<IErrorInfo, ICreateErrorInfo> {
public:
    HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) override {
        if (!pGUID)
            return E_INVALIDARG;
        *pGUID = guid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* pBstrSource) override {
        return copyOut(source_, pBstrSource);
    }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pBstrDescription) override {
        return copyOut(description_, pBstrDescription);
    }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* pBstrHelpFile) override {
        return copyOut(helpFile_, pBstrHelpFile);
    }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* pdwHelpContext) override {
        if (!pdwHelpContext)
            return E_INVALIDARG;
        *pdwHelpContext = helpContext_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) override {
        guid_ = rguid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR szSource) override {
        return copyIn(szSource, source_);
    }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR szDescription) override {
        return copyIn(szDescription, description_);
    }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR szHelpFile) override {
        return copyIn(szHelpFile, helpFile_);
    }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD dwHelpContext) override {
        helpContext_ = dwHelpContext;
        return S_OK;
    }

private:
    static HRESULT copyOut(const std::u16string& text, BSTR* out) {
        if (!out)
            return E_INVALIDARG;
        *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT copyIn(const OLECHAR* text, std::u16string& field) {
        try {
            field = text ? std::u16string(text) : std::u16string();
            return S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    GUID guid_ = GUID_NULL;
    std::u16string source_;
    std::u16string description_;
    std::u16string helpFile_;
    DWORD helpContext_ = 0;
};

// The thread's current error; released when it is replaced, taken or the thread ends.
struct ThreadError {
    IErrorInfo* current = nullptr;
    ~ThreadError() {
        if (current)
            current->Release();
    }
};
thread_local ThreadError threadError;

} // namespace

extern "C" {

HRESULT WINAPI CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
    if (!pperrinfo)
        return E_INVALIDARG;
    *pperrinfo = nullptr;
    try {
        *pperrinfo = sky::makeObject<ErrorObject>().detach();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT WINAPI SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
    if (dwReserved != 0)
        return E_INVALIDARG;
    if (perrinfo)
        perrinfo->AddRef();
    IErrorInfo* old = threadError.current;
    threadError.current = perrinfo;
    if (old)
        old->Release();
    return S_OK;
}

HRESULT WINAPI GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
    if (!pperrinfo)
        return E_INVALIDARG;
    *pperrinfo = nullptr;
    if (dwReserved != 0)
        return E_INVALIDARG;
    // The caller takes the thread's reference; the thread has no error afterwards.
    *pperrinfo = threadError.current;
    threadError.current = nullptr;
    return *pperrinfo ? S_OK : S_FALSE;
}

} // extern "C"

namespace sky {

HRESULT setError(HRESULT result, std::u16string_view description, std::u16string_view source,
                 REFIID iid) {
    ComPtr<ICreateErrorInfo> error;
    if (FAILED(CreateErrorInfo(error.put())))
        return result;
    const std::u16string descriptionText(description);
    const std::u16string sourceText(source);
    error->SetGUID(iid);
    error->SetDescription(const_cast<LPOLESTR>(descriptionText.c_str()));
    error->SetSource(const_cast<LPOLESTR>(sourceText.c_str()));
    if (auto info = error.tryAs<IErrorInfo>())
        SetErrorInfo(0, info.get());
    return result;
}

} // namespace sky

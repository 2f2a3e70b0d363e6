// The variant enumerator that collections return from _NewEnum.
#include <memory>

#include "sky/com_object.h"

namespace {

using Items = std::shared_ptr<const std::vector<sky::Variant>>;

class VariantEnumerator final : public sky::ComObject<IEnumVARIANT> {
public:
    VariantEnumerator(Items items, std::size_t position)
        : items_(std::move(items)), position_(position) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override {
        if (pCeltFetched)
            *pCeltFetched = 0;
        if (!rgVar || (!pCeltFetched && celt != 1))
            return E_INVALIDARG;
        ULONG fetched = 0;
        for (; fetched < celt && position_ < items_->size(); ++fetched, ++position_) {
            VariantInit(&rgVar[fetched]);
            if (HRESULT hr = VariantCopy(&rgVar[fetched], (*items_)[position_].get()); FAILED(hr)) {
                for (ULONG i = 0; i < fetched; ++i)
                    VariantClear(&rgVar[i]);
                return hr;
            }
        }
        if (pCeltFetched)
            *pCeltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        const std::size_t left = items_->size() - position_;
        if (celt > left) {
            position_ = items_->size();
            return S_FALSE;
        }
        position_ += celt;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** ppEnum) override {
        if (!ppEnum)
            return E_POINTER;
        try {
            *ppEnum = sky::makeObject<VariantEnumerator>(items_, position_).detach();
            return S_OK;
        } catch (...) {
            *ppEnum = nullptr;
            return E_OUTOFMEMORY;
        }
    }

private:
    Items items_;
    std::size_t position_;
};

} // namespace

namespace sky {

ComPtr<IEnumVARIANT> makeVariantEnumerator(std::vector<Variant> items) {
    auto shared = std::make_shared<const std::vector<Variant>>(std::move(items));
    return makeObject<VariantEnumerator>(std::move(shared), 0);
}

} // namespace sky

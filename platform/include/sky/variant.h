// sky::Variant: an owned VARIANT, with constructors for the types automation calls pass and
// conversions (VariantChangeType) that throw ComError on failure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "sky/bstr.h"
#include "sky/com_error.h"
#include "sky/com_ptr.h"
#include "sky/export.h"
#include "win/oleauto.h"

namespace sky {

class SKY_API Variant {
public:
    Variant() noexcept { VariantInit(&v_); }
    Variant(bool value) noexcept : Variant() {
        v_.vt = VT_BOOL;
        v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
    Variant(std::int16_t value) noexcept : Variant() {
        v_.vt = VT_I2;
        v_.iVal = value;
    }
    Variant(std::int32_t value) noexcept : Variant() {
        v_.vt = VT_I4;
        v_.lVal = value;
    }
    Variant(std::int64_t value) noexcept : Variant() {
        v_.vt = VT_I8;
        v_.llVal = value;
    }
    Variant(float value) noexcept : Variant() {
        v_.vt = VT_R4;
        v_.fltVal = value;
    }
    Variant(double value) noexcept : Variant() {
        v_.vt = VT_R8;
        v_.dblVal = value;
    }
    Variant(std::u16string_view text) : Variant() {
        Bstr bstr(text);
        v_.vt = VT_BSTR;
        v_.bstrVal = bstr.detach();
    }
    Variant(const WCHAR* text) : Variant(std::u16string_view(text ? text : u"")) {}
    Variant(const std::u16string& text) : Variant(std::u16string_view(text)) {}
    Variant(const Bstr& text) : Variant(text.view()) {}
    // Narrow text is ambiguous (code page or UTF-8?): say Bstr::fromUtf8 instead.
    Variant(const char*) = delete;
    Variant(IDispatch* object) noexcept : Variant() { holdObject(VT_DISPATCH, object); }
    Variant(IUnknown* object) noexcept : Variant() { holdObject(VT_UNKNOWN, object); }
    template <class T> Variant(const ComPtr<T>& object) noexcept : Variant() {
        if constexpr (std::is_convertible_v<T*, IDispatch*>)
            holdObject(VT_DISPATCH, static_cast<IDispatch*>(object.get()));
        else
            holdObject(VT_UNKNOWN, static_cast<IUnknown*>(object.get()));
    }
    // A copy of a VARIANT the caller keeps (VariantCopy).
    explicit Variant(const VARIANT& value) : Variant() { check(VariantCopy(&v_, &value)); }
    // Takes over the contents of a VARIANT the caller owns; `value` is left VT_EMPTY.
    static Variant adopt(VARIANT& value) noexcept {
        Variant result;
        result.v_ = value;
        VariantInit(&value);
        return result;
    }

    Variant(const Variant& other) : Variant() { check(VariantCopy(&v_, &other.v_)); }
    Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
    Variant& operator=(const Variant& other) {
        check(VariantCopy(&v_, &other.v_));
        return *this;
    }
    Variant& operator=(Variant&& other) noexcept {
        if (this != &other) {
            VariantClear(&v_);
            v_ = other.v_;
            VariantInit(&other.v_);
        }
        return *this;
    }
    ~Variant() { VariantClear(&v_); }

    VARTYPE type() const noexcept { return v_.vt; }
    bool isEmpty() const noexcept { return v_.vt == VT_EMPTY; }
    const VARIANT* get() const noexcept { return &v_; }
    VARIANT* get() noexcept { return &v_; }
    // For out parameters: clears the current value and hands out the VARIANT to fill.
    VARIANT* put() noexcept {
        VariantClear(&v_);
        return &v_;
    }
    // Gives up the contents; the caller owns (and must clear) the returned VARIANT.
    [[nodiscard]] VARIANT detach() noexcept {
        VARIANT result = v_;
        VariantInit(&v_);
        return result;
    }

    // This value as another type (VariantChangeType); ComError on failure.
    Variant converted(VARTYPE vt, USHORT flags = 0) const {
        Variant result;
        HRESULT hr = VariantChangeType(result.get(), &v_, flags, vt);
        if (FAILED(hr))
            throw ComError(hr, resultText(hr));
        return result;
    }
    std::int32_t toInt32() const { return converted(VT_I4).v_.lVal; }
    double toDouble() const { return converted(VT_R8).v_.dblVal; }
    bool toBool() const { return converted(VT_BOOL).v_.boolVal != VARIANT_FALSE; }
    // Text as Basic shows it: booleans as "True" / "False".
    std::u16string toString() const {
        return std::u16string(
            Bstr::adopt(converted(VT_BSTR, VARIANT_ALPHABOOL).detach().bstrVal).view());
    }
    std::string toUtf8() const { return narrow(toString()); }
    ComPtr<IDispatch> toDispatch() const {
        return ComPtr<IDispatch>(converted(VT_DISPATCH).v_.pdispVal);
    }
    // The object held (VT_DISPATCH or VT_UNKNOWN) asked for T; ComError if there is none or
    // it does not support T.
    template <class T> ComPtr<T> as() const {
        Variant object = converted(VT_UNKNOWN);
        if (!object.v_.punkVal)
            throw ComError(E_POINTER, resultText(E_POINTER));
        return ComPtr<IUnknown>(object.v_.punkVal).template as<T>();
    }

private:
    void holdObject(VARTYPE vt, IUnknown* object) noexcept {
        v_.vt = vt;
        v_.punkVal = object;
        if (object)
            object->AddRef();
    }

    VARIANT v_;
};

} // namespace sky

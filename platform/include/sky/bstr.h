// sky::Bstr: an owned BSTR, with conversions from and to std::u16string and UTF-8.
#pragma once

#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "sky/export.h"
#include "sky/text.h"
#include "win/oleauto.h"

namespace sky {

class SKY_API Bstr {
public:
    Bstr() noexcept = default;
    explicit Bstr(std::u16string_view text) : p_(allocate(text)) {}
    // A null pointer gives the null BSTR (which automation reads as the empty string).
    explicit Bstr(const WCHAR* text) : p_(text ? allocate(text) : nullptr) {}
    static Bstr fromUtf8(std::string_view text) { return Bstr(widen(text)); }
    // Takes over a BSTR the caller owns.
    static Bstr adopt(BSTR bstr) noexcept {
        Bstr result;
        result.p_ = bstr;
        return result;
    }

    Bstr(const Bstr& other) : p_(other.p_ ? allocate(other.view()) : nullptr) {}
    Bstr(Bstr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Bstr& operator=(const Bstr& other) {
        Bstr(other).swap(*this);
        return *this;
    }
    Bstr& operator=(Bstr&& other) noexcept {
        Bstr(std::move(other)).swap(*this);
        return *this;
    }
    ~Bstr() { SysFreeString(p_); }

    void swap(Bstr& other) noexcept { std::swap(p_, other.p_); }
    void reset() noexcept { SysFreeString(std::exchange(p_, nullptr)); }
    [[nodiscard]] BSTR detach() noexcept { return std::exchange(p_, nullptr); }
    BSTR get() const noexcept { return p_; }
    // For out parameters: frees the current string and hands out the slot to fill.
    BSTR* put() noexcept {
        reset();
        return &p_;
    }

    std::size_t size() const noexcept { return SysStringLen(p_); }
    bool empty() const noexcept { return size() == 0; }
    std::u16string_view view() const noexcept {
        return p_ ? std::u16string_view(p_, size()) : std::u16string_view();
    }
    std::u16string str() const { return std::u16string(view()); }
    std::string utf8() const { return narrow(view()); }

    friend bool operator==(const Bstr& a, const Bstr& b) noexcept { return a.view() == b.view(); }
    friend bool operator==(const Bstr& a, std::u16string_view b) noexcept { return a.view() == b; }

private:
    static BSTR allocate(std::u16string_view text) {
        BSTR result = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!result)
            throw std::bad_alloc();
        return result;
    }

    BSTR p_ = nullptr;
};

} // namespace sky

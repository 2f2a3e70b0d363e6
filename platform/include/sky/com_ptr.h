// sky::ComPtr: an owning reference to an interface (AddRef on share, Release on drop).
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "sky/com_error.h"
#include "win/com.h"

namespace sky {

template <class T> class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Shares the object: takes a reference of its own (AddRef). Use adopt() for a reference that
    // the caller already owns (an out parameter, a new object).
    explicit ComPtr(T* object) noexcept : p_(object) {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    template <class U>
    requires std::is_convertible_v<U*, T*> ComPtr(const ComPtr<U>& other)
    noexcept : ComPtr(static_cast<T*>(other.get())) {}
    template <class U>
    requires std::is_convertible_v<U*, T*> ComPtr(ComPtr<U>&& other)
    noexcept : p_(other.detach()) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    // Takes over a reference the caller owns, without AddRef.
    static ComPtr adopt(T* object) noexcept {
        ComPtr result;
        result.p_ = object;
        return result;
    }
    void attach(T* object) noexcept {
        reset();
        p_ = object;
    }
    // Gives up the reference without Release; the caller owns it now.
    [[nodiscard]] T* detach() noexcept { return std::exchange(p_, nullptr); }
    void reset() noexcept {
        if (T* old = std::exchange(p_, nullptr))
            old->Release();
    }
    void swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // For out parameters: drops the current reference and hands out the slot to fill.
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** putVoid() noexcept {
        reset();
        return reinterpret_cast<void**>(put());
    }

    // QueryInterface for U: the result code, and `out` filled on success.
    template <class U> HRESULT query(ComPtr<U>& out) const noexcept {
        if (!p_) {
            out.reset();
            return E_POINTER;
        }
        // An object of several faces has a QueryInterface per face; its own query() asks as
        // its default face does.
        if constexpr (requires(T * t) { t->query(uuidOf<U>(), out.putVoid()); })
            return p_->query(uuidOf<U>(), out.putVoid());
        else
            return p_->QueryInterface(uuidOf<U>(), out.putVoid());
    }
    // QueryInterface for U; ComError when the object does not support it.
    template <class U> ComPtr<U> as() const {
        ComPtr<U> result;
        if (HRESULT hr = query(result); FAILED(hr))
            throw ComError(hr, resultText(hr));
        return result;
    }
    // QueryInterface for U; empty when the object does not support it.
    template <class U> ComPtr<U> tryAs() const noexcept {
        ComPtr<U> result;
        query(result);
        return result;
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.p_ == b.p_; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

private:
    T* p_ = nullptr;
};

} // namespace sky

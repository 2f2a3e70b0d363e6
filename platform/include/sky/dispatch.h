// Calling automation objects by name (GetIDsOfNames + Invoke), creating them by programmatic
// identifier, and walking a collection's _NewEnum.
#pragma once

#include <array>
#include <cstddef>
#include <iterator>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "sky/com_error.h"
#include "sky/com_ptr.h"
#include "sky/export.h"
#include "sky/variant.h"
#include "win/oleauto.h"

namespace sky {

// CLSIDFromProgID, CoCreateInstance (in-process or local server) for IUnknown, then
// QueryInterface for T. Every failure becomes a ComError.
SKY_API ComPtr<IUnknown> createObject(std::u16string_view progId);
template <class T> ComPtr<T> createObject(std::u16string_view progId) {
    return createObject(progId).template as<T>();
}

// The dispatch identifier of a member name; ComError (DISP_E_UNKNOWNNAME) if there is none.
SKY_API DISPID dispatchId(IDispatch* object, std::u16string_view name);

// IDispatch::Invoke with `arguments` in their natural order (they are passed reversed, as
// DISPPARAMS wants them). A DISP_E_EXCEPTION becomes a ComError carrying the EXCEPINFO's code
// and description; any other failure a ComError with the thread's error information.
SKY_API Variant invoke(IDispatch* object, DISPID member, WORD kind,
                       std::span<const Variant> arguments);

SKY_API Variant getProperty(IDispatch* object, std::u16string_view name);
SKY_API void putProperty(IDispatch* object, std::u16string_view name, const Variant& value);

template <class... Args>
Variant callMethod(IDispatch* object, std::u16string_view name, Args&&... args) {
    const std::array<Variant, sizeof...(Args)> arguments{Variant(std::forward<Args>(args))...};
    return invoke(object, dispatchId(object, name), DISPATCH_METHOD, arguments);
}

namespace detail {

// The input iterator of a range that fetches one item at a time: Range::fetch() moves to the
// next item (false at the end) and Range::current() is that item.
template <class Range, class Item> class FetchIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = Item;
    using difference_type = std::ptrdiff_t;
    using pointer = const Item*;
    using reference = const Item&;

    FetchIterator() = default;
    explicit FetchIterator(Range* range) : range_(range) { advance(); }
    reference operator*() const { return range_->current(); }
    pointer operator->() const { return &range_->current(); }
    FetchIterator& operator++() {
        advance();
        return *this;
    }
    void operator++(int) { advance(); }
    friend bool operator==(const FetchIterator& a, const FetchIterator& b) {
        return a.range_ == b.range_;
    }

private:
    void advance() {
        if (range_ && !range_->fetch())
            range_ = nullptr;
    }
    Range* range_ = nullptr;
};

} // namespace detail

// The items of a collection, through its _NewEnum (DISPID_NEWENUM) and IEnumVARIANT:
//
//   for (const sky::Variant& item : sky::enumerate(collection)) ...
//
// A failure of the enumerator ends the loop with a ComError. The items are asked for up to
// `batch` at a time (IEnumVARIANT::Next with that count), so that an enumerator in another
// process answers with one round trip for many items.
class SKY_API Enumeration {
public:
    using iterator = detail::FetchIterator<Enumeration, Variant>;

    explicit Enumeration(ComPtr<IEnumVARIANT> enumerator) : enumerator_(std::move(enumerator)) {}

    // The next item into `item`; false at the end.
    bool next(Variant& item);

    iterator begin() { return iterator(this); }
    iterator end() { return iterator(); }
    bool fetch() { return next(current_); }
    const Variant& current() const { return current_; }

private:
    static constexpr ULONG batch = 32;

    ComPtr<IEnumVARIANT> enumerator_; // null once it said it has no more
    std::vector<Variant> fetched_;    // items fetched and not yet handed out, from fetched_[next_]
    std::size_t next_ = 0;
    Variant current_;
};

// The variant enumerator of a collection object (its _NewEnum).
SKY_API Enumeration enumerate(IDispatch* collection);

// The items of a collection asked for interface T: a ComError ends the loop when an item does
// not support it.
template <class T> class ObjectEnumeration {
public:
    using iterator = detail::FetchIterator<ObjectEnumeration, ComPtr<T>>;

    explicit ObjectEnumeration(Enumeration items) : items_(std::move(items)) {}

    iterator begin() { return iterator(this); }
    iterator end() { return iterator(); }
    bool fetch() {
        Variant item;
        if (!items_.next(item))
            return false;
        current_ = item.as<T>();
        return true;
    }
    const ComPtr<T>& current() const { return current_; }

private:
    Enumeration items_;
    ComPtr<T> current_;
};

template <class T> ObjectEnumeration<T> enumerateAs(IDispatch* collection) {
    return ObjectEnumeration<T>(enumerate(collection));
}

} // namespace sky

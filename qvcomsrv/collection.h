// The collections the object model hands out (zones, servers, applications, users, groups): a
// snapshot of items taken when the collection was asked for, with _NewEnum (the variant
// enumerator, items as dispatch objects), Count, Item (counted from 1), and Reset and Skip,
// which move the position where the next enumeration starts. A collection's members are for the
// administrators of the farm its items were read from (the farm of the object that made it).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "SkyloomCOM_notimpl.h"
#include "com_class.h"
#include "farm_connection.h"
#include "results.h"
#include "sky/com_object.h"
#include "sky/variant.h"

namespace qvcomsrv {

template <class Interface, class NotImplemented>
class Collection final : public ComClass<NotImplemented> {
public:
    Collection(Farm farm, std::vector<sky::ComPtr<IDispatch>> items)
        : farm_(std::move(farm)), items_(std::move(items)) {}

    HRESULT STDMETHODCALLTYPE get__NewEnum(IEnumVARIANT** out) override {
        if (!out)
            return nullOut();
        return catchExceptions([&] {
            std::vector<sky::Variant> rest;
            rest.reserve(items_.size() - position_);
            for (std::size_t i = position_; i < items_.size(); ++i)
                rest.emplace_back(items_[i]);
            *out = sky::makeVariantEnumerator(std::move(rest)).detach();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_Count(LONG* out) override {
        return returnLong(out, static_cast<LONG>(items_.size()));
    }
    HRESULT STDMETHODCALLTYPE get_Item(LONG index, IDispatch** out) override {
        if (!out)
            return nullOut();
        if (index < 1 || static_cast<std::size_t>(index) > items_.size())
            return withErrorInfo(DISP_E_BADINDEX, "There is no item " + std::to_string(index) +
                                                      " in a collection of " +
                                                      std::to_string(items_.size()) +
                                                      "; items are counted from 1.");
        return returnObject(out, items_[static_cast<std::size_t>(index) - 1]);
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const std::size_t left = items_.size() - position_;
        if (count > left) {
            position_ = items_.size();
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }

protected:
    FarmConnection* accessFarm() override { return farm_.get(); }

private:
    Farm farm_;
    std::vector<sky::ComPtr<IDispatch>> items_;
    std::size_t position_ = 0;
};

using ZoneCollection = Collection<ISkyloomZones, ISkyloomZonesNotImpl>;
using ServerCollection = Collection<ISkyloomServers, ISkyloomServersNotImpl>;
using ApplicationCollection = Collection<ISkyloomApplications, ISkyloomApplicationsNotImpl>;
using UserCollection = Collection<ISkyloomUsers, ISkyloomUsersNotImpl>;
using GroupCollection = Collection<ISkyloomGroups, ISkyloomGroupsNotImpl>;

// Hands out a new collection of `items` (each an object's default interface) read from `farm`.
template <class CollectionType, class Interface>
HRESULT returnCollection(Interface** out, Farm farm, std::vector<sky::ComPtr<IDispatch>> items) {
    if (!out)
        return nullOut();
    return catchExceptions([&] {
        *out = static_cast<Interface*>(
            create<CollectionType>(std::move(farm), std::move(items)).detach());
        return S_OK;
    });
}

// Hands out a new collection holding, for each of `values` read from `farm`, the object
// `make(value)` makes.
template <class CollectionType, class Interface, class Values, class Make>
HRESULT returnCollection(Interface** out, Farm farm, Values&& values, Make&& make) {
    std::vector<sky::ComPtr<IDispatch>> items;
    items.reserve(values.size());
    for (auto& value : values)
        items.emplace_back(make(value)->template self<IDispatch>());
    return returnCollection<CollectionType>(out, std::move(farm), std::move(items));
}

} // namespace qvcomsrv

// The farm as every operation meets it first: a fresh farm object in the shared farm reference,
// and the administrator check.
#pragma once

#include <string>
#include <string_view>

#include "core/admin_state.h"
#include "sky/bstr.h"
#include "sky/com_error.h"

namespace brask {

inline constexpr std::u16string_view kFarmProgId = u"SkyloomCOM.SkyloomFarm";

// Creates "SkyloomCOM.SkyloomFarm", asks it for ISkyloomFarm6, stores it as the shared farm
// reference and binds it to the farm (Initialize with SkyloomWinFarmObject). Throws sky::ComError.
ISkyloomFarm6* openFarm(AdminState& state);

// Opens a fresh farm and asks its Windows settings object, by name, whether the user running the
// tool is a farm administrator: any value other than 0 says yes. Throws sky::ComError.
bool isFarmAdministrator(AdminState& state);

// The text a string property getter returns: `getText(&ISkyloomFarm::get_FarmName, farm)`.
template <class Object, class Base>
std::u16string getText(HRESULT (STDMETHODCALLTYPE Base::*getter)(BSTR*), Object* object) {
    sky::Bstr value;
    sky::check((object->*getter)(value.put()));
    return value.str();
}

// The object a getter returns: `getObject(&ISkyloomFarm::get_Zones, farm)`.
template <class Result, class Object, class Base>
sky::ComPtr<Result> getObject(HRESULT (STDMETHODCALLTYPE Base::*getter)(Result**), Object* from) {
    sky::ComPtr<Result> value;
    sky::check((from->*getter)(value.put()));
    return value;
}

} // namespace brask

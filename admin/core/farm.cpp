#include "core/farm.h"

#include "sky/dispatch.h"

namespace brask {

ISkyloomFarm6* openFarm(AdminState& state) {
    state.farm = sky::createObject<ISkyloomFarm6>(kFarmProgId);
    sky::check(state.farm->Initialize(SkyloomWinFarmObject));
    return state.farm.get();
}

bool isFarmAdministrator(AdminState& state) {
    ISkyloomFarm6* farm = openFarm(state);
    sky::ComPtr<ISkyloomWinFarm> settings = getObject(&ISkyloomFarm::get_WinFarmObject, farm);
    return sky::getProperty(settings.get(), u"IsVantorAdministrator").toDouble() != 0;
}

} // namespace brask

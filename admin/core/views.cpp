#include "core/views.h"

#include <stdexcept>

#include "core/farm.h"
#include "core/names.h"
#include "sky/dispatch.h"

namespace brask {

namespace {

std::u16string decimal(long number) {
    const std::string digits = std::to_string(number);
    return std::u16string(digits.begin(), digits.end());
}

} // namespace

std::vector<std::u16string> farmViewItems(AdminState& state) {
    ISkyloomFarm6* farm = openFarm(state);
    std::vector<std::u16string> items;
    items.push_back(u"Farm name\t: " + getText(&ISkyloomFarm::get_FarmName, farm));
    sky::ComPtr<ISkyloomZones> zones = getObject(&ISkyloomFarm::get_Zones, farm);
    for (const sky::ComPtr<ISkyloomZone3>& zone : sky::enumerateAs<ISkyloomZone3>(zones.get())) {
        items.push_back(u"Zone name\t: " + getText(&ISkyloomZone::get_ZoneName, zone.get()));
        items.push_back(u"   Data collector\t:    " +
                        getText(&ISkyloomZone::get_DataCollector, zone.get()));
    }
    sky::ComPtr<ISkyloomServers> servers = getObject(&ISkyloomFarm::get_Servers, farm);
    LONG count = 0;
    sky::check(servers->get_Count(&count));
    items.push_back(u"Number of servers\t: " + decimal(count));
    return items;
}

std::vector<std::u16string> applicationViewItems(AdminState& state) {
    ISkyloomFarm6* farm = openFarm(state);
    sky::ComPtr<ISkyloomApplications> applications =
        getObject(&ISkyloomFarm::get_Applications, farm);
    std::vector<std::u16string> items;
    for (const sky::ComPtr<ISkyloomApplication5>& application :
         sky::enumerateAs<ISkyloomApplication5>(applications.get())) {
        state.application = application;
        items.push_back(applicationEntry(
            getText(&ISkyloomApplication::get_DistinguishedName, state.application.get())));
    }
    return items;
}

std::vector<std::u16string> serverViewItems(AdminState& state) {
    ISkyloomFarm6* farm = openFarm(state);
    sky::ComPtr<ISkyloomServers> servers = getObject(&ISkyloomFarm::get_Servers, farm);
    std::vector<std::u16string> items;
    for (const sky::ComPtr<ISkyloomServer5>& server :
         sky::enumerateAs<ISkyloomServer5>(servers.get())) {
        state.server = server;
        items.push_back(getText(&ISkyloomServer::get_ServerName, state.server.get()));
    }
    return items;
}

std::vector<std::u16string> viewItems(AdminState& state, int view) {
    switch (view) {
    case kFarmView:
        return farmViewItems(state);
    case kApplicationView:
        return applicationViewItems(state);
    case kServerView:
        return serverViewItems(state);
    }
    throw std::invalid_argument("no such view");
}

bool viewListSorted(int view) {
    return view == kApplicationView || view == kServerView;
}

std::vector<std::u16string> viewListEntries(AdminState& state, int view) {
    std::vector<std::u16string> entries = viewItems(state, view);
    if (viewListSorted(view)) {
        sortLikeListBox(entries);
    }
    return entries;
}

} // namespace brask

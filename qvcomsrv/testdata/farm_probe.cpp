// qvcomsrv_farm_probe: a second program on the test's machine that reaches the farm the way every
// program does (CoCreateInstance by programmatic identifier), for the tests of what one process
// saves and another reads.
//
//   qvcomsrv_farm_probe list                 one line per application:
//                                            DN|kind|servers|users|groups|DefaultWindowType
//   qvcomsrv_farm_probe publish DN SERVER    publishes DN on SERVER and saves it
//   qvcomsrv_farm_probe admin                "administrator N": IsVantorAdministrator by name
//   qvcomsrv_farm_probe hold                 holds a farm and its applications, prints
//                                            "holding" and waits until it is killed
//
// Exit code 0, or 1 with "error 0x...: description" on standard error.
#include <windows.h>

#include <cstdio>
#include <string>

#include "SkyloomCOM.h"
#include "sky/automation.h"

namespace {

using sky::Bstr;
using sky::ComPtr;

template <class Collection, class Item, class Name>
std::string names(Collection* collection, Name name) {
    std::string text;
    for (const ComPtr<Item>& item : sky::enumerateAs<Item>(collection)) {
        Bstr value;
        sky::check((item.get()->*name)(value.put()));
        if (!text.empty())
            text += ",";
        text += value.utf8();
    }
    return text;
}

void list() {
    auto farm = sky::createObject<ISkyloomFarm6>(u"SkyloomCOM.SkyloomFarm");
    sky::check(farm->Initialize(SkyloomWinFarmObject));
    ComPtr<ISkyloomApplications> apps;
    sky::check(farm->get_Applications(apps.put()));
    for (const auto& app : sky::enumerateAs<ISkyloomApplication5>(apps.get())) {
        Bstr dn;
        SkyloomObjectType type{};
        sky::check(app->get_DistinguishedName(dn.put()));
        sky::check(app->get_AppType(&type));
        ComPtr<ISkyloomServers> servers;
        ComPtr<ISkyloomUsers> users;
        ComPtr<ISkyloomGroups> groups;
        sky::check(app->get_Servers(servers.put()));
        sky::check(app->get_Users(users.put()));
        sky::check(app->get_Groups(groups.put()));
        ComPtr<ISkyloomWinApp4> settings;
        sky::check(app->get_WinAppObject4(settings.put()));
        QVWinWindowType window{};
        sky::check(settings->get_DefaultWindowType(&window));
        std::printf(
            "%s|%d|%s|%s|%s|%d\n", dn.utf8().c_str(), static_cast<int>(type),
            names<ISkyloomServers, ISkyloomServer5>(servers.get(), &ISkyloomServer5::get_ServerName)
                .c_str(),
            names<ISkyloomUsers, ISkyloomUser5>(users.get(), &ISkyloomUser5::get_UserName).c_str(),
            names<ISkyloomGroups, ISkyloomGroup5>(groups.get(), &ISkyloomGroup5::get_GroupName)
                .c_str(),
            static_cast<int>(window));
    }
}

void publish(const std::string& dn, const std::string& server) {
    auto app = sky::createObject<ISkyloomApplication5>(u"SkyloomCOM.SkyloomApplication");
    sky::check(app->Initialize(SkyloomWinAppObject, Bstr::fromUtf8(dn).get()));
    sky::check(app->LoadData(-1));
    auto binding = sky::createObject<ISkyloomAppSrvBinding2>(u"SkyloomCOM.SkyloomAppSrvBinding");
    sky::check(binding->Initialize(SkyloomWinSrvObject, Bstr::fromUtf8(server).get(),
                                   Bstr::fromUtf8("").get()));
    sky::check(app->AddServer(binding.as<ISkyloomAppSrvBinding>().get()));
    sky::check(app->SaveData());
}

void admin() {
    auto farm = sky::createObject<ISkyloomFarm6>(u"SkyloomCOM.SkyloomFarm");
    sky::check(farm->Initialize(SkyloomWinFarmObject));
    ComPtr<ISkyloomWinFarm> settings;
    sky::check(farm->get_WinFarmObject(settings.put()));
    std::printf("administrator %d\n",
                sky::getProperty(settings.get(), u"IsVantorAdministrator").toInt32());
}

[[noreturn]] void hold() {
    auto farm = sky::createObject<ISkyloomFarm6>(u"SkyloomCOM.SkyloomFarm");
    sky::check(farm->Initialize(SkyloomWinFarmObject));
    ComPtr<ISkyloomApplications> apps;
    sky::check(farm->get_Applications(apps.put()));
    std::printf("holding\n");
    std::fflush(stdout);
    for (;;)
        Sleep(1000);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: qvcomsrv_farm_probe list | publish DN SERVER | admin | hold\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int code = 0;
    try {
        const std::string command = argv[1];
        if (command == "list")
            list();
        else if (command == "admin")
            admin();
        else if (command == "hold")
            hold();
        else if (command == "publish" && argc == 4)
            publish(argv[2], argv[3]);
        else {
            std::fprintf(stderr, "unknown command\n");
            code = 2;
        }
    } catch (const sky::ComError& e) {
        std::fprintf(stderr, "error 0x%08X: %s\n", static_cast<unsigned>(e.result()), e.what());
        code = 1;
    }
    CoUninitialize();
    return code;
}

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
//   qvcomsrv_farm_probe icon write|read DN FILE [late]
//                                            WriteIconToFile or ReadIconFromFile(FILE, 0) of
//                                            DN's Windows settings, early-bound or by name
//                                            (IDispatch::Invoke); nothing printed on success
//   qvcomsrv_farm_probe demoted DN           reads DN's name ("name value X"), then waits until
//                                            the farm refuses the caller ("servers 0x..."), and
//                                            reads the name and description again (see demoted)
//   qvcomsrv_farm_probe sweep                calls every member of every face of every
//                                            creatable class (the farm bound first), each by
//                                            IDispatch::Invoke and early-bound, with plausible
//                                            arguments; one line per call:
//                                            "late|early Interface.Member kind 0xHRESULT"
//
// Exit code 0, or 1 with "error 0x...: description" on standard error.
#include <windows.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "SkyloomCOM.h"
#include "sky/automation.h"
#include "sky/remote.h"

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

// "0x...: description" of a get's failure, or "value" and what it gave.
template <class Object, class Getter> std::string got(Object* object, Getter getter) {
    Bstr value;
    const HRESULT hr = (object->*getter)(value.put());
    if (SUCCEEDED(hr))
        return "value " + value.utf8();
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    return code;
}

// Reads the application's name as an administrator (the first get of the object, which brings
// the snapshot of its properties) and takes its settings as their first version (which brings
// the snapshot of their widest version), says so, then calls Servers (not a snapshot member)
// every 50 ms until the farm refuses it (the caller is no administrator any more, within 30 s),
// and reads the name and the description again, and settings through the first version and
// through version 4 (asked for only now, answered without a call).
void demoted(const std::string& dn) {
    auto app = sky::createObject<ISkyloomApplication5>(u"SkyloomCOM.SkyloomApplication");
    sky::check(app->Initialize(SkyloomWinAppObject, Bstr::fromUtf8(dn).get()));
    sky::check(app->LoadData(-1));
    ComPtr<ISkyloomWinApp> settings;
    sky::check(app->get_WinAppObject(settings.put()));
    std::printf("name %s\n", got(app.get(), &ISkyloomApplication5::get_AppName).c_str());
    std::fflush(stdout);
    HRESULT hr = S_OK;
    for (int i = 0; i < 600 && SUCCEEDED(hr); ++i) {
        ComPtr<ISkyloomServers> servers;
        hr = app->get_Servers(servers.put());
        if (SUCCEEDED(hr))
            usleep(50000);
    }
    std::printf("servers 0x%08X\n", static_cast<unsigned>(hr));
    std::printf("name %s\n", got(app.get(), &ISkyloomApplication5::get_AppName).c_str());
    std::printf("description %s\n", got(app.get(), &ISkyloomApplication5::get_Description).c_str());
    std::printf("program %s\n", got(settings.get(), &ISkyloomWinApp::get_DefaultInitProg).c_str());
    ComPtr<ISkyloomWinApp4> fourth;
    sky::check(settings->QueryInterface(IID_ISkyloomWinApp4, fourth.putVoid()));
    std::printf("folder %s\n", got(fourth.get(), &ISkyloomWinApp4::get_StartMenuFolder).c_str());
}

void icon(const std::string& use, const std::string& dn, const std::string& file, bool late) {
    auto app = sky::createObject<ISkyloomApplication5>(u"SkyloomCOM.SkyloomApplication");
    sky::check(app->Initialize(SkyloomWinAppObject, Bstr::fromUtf8(dn).get()));
    sky::check(app->LoadData(-1));
    ComPtr<ISkyloomWinApp4> settings;
    sky::check(app->get_WinAppObject4(settings.put()));
    const Bstr name = Bstr::fromUtf8(file);
    if (late && use == "write")
        sky::callMethod(settings.get(), u"WriteIconToFile", name);
    else if (late)
        sky::callMethod(settings.get(), u"ReadIconFromFile", name, std::int32_t{0});
    else if (use == "write")
        sky::check(settings->WriteIconToFile(name.get()));
    else
        sky::check(settings->ReadIconFromFile(name.get(), 0));
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

// A value of type `vt` that a member would take: a name that exists in the test's farm, kind 3
// (a Windows application), nothing for objects.
VARIANT argumentOf(VARTYPE vt) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.llVal = 0;
    if (vt == VT_BSTR)
        v.bstrVal = SysAllocString(u"Applications/Notepad");
    else if (vt == VT_I4)
        v.lVal = 3;
    else if (vt == VT_VARIANT)
        v.vt = VT_EMPTY;
    return v;
}

void report(const char* way, const sky::dispatch::Table& table, const sky::dispatch::Member& m,
            HRESULT hr) {
    std::printf("%s %s.%s %u 0x%08X\n", way, Bstr(table.name).utf8().c_str(),
                Bstr(m.name).utf8().c_str(), static_cast<unsigned>(m.invkind),
                static_cast<unsigned>(hr));
}

void sweepFace(IUnknown* object, const IID& iid) {
    const sky::remote::InterfaceMarshal* marshal = sky::remote::findInterface(iid);
    if (!marshal)
        throw sky::ComError(E_NOINTERFACE, u"no marshalling for a face");
    ComPtr<IDispatch> face;
    sky::check(object->QueryInterface(iid, face.putVoid()));
    const sky::dispatch::Table& table = *marshal->table;
    for (WORD i = 0; i < table.memberCount; ++i) {
        const sky::dispatch::Member& m = table.members[i];
        std::vector<VARIANT> args;
        for (WORD k = 0; k < m.paramCount; ++k)
            args.push_back(argumentOf(m.params[k].vt));
        // Late-bound: the arguments in reverse order, a put's value named.
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPID put = DISPID_PROPERTYPUT;
        const bool isPut = m.invkind == INVOKE_PROPERTYPUT || m.invkind == INVOKE_PROPERTYPUTREF;
        DISPPARAMS params{reversed.data(), isPut ? &put : nullptr,
                          static_cast<UINT>(reversed.size()), isPut ? 1u : 0u};
        VARIANT result;
        VariantInit(&result);
        report("late", table, m,
               face->Invoke(m.dispid, IID_NULL, 0, m.invkind, &params, &result, nullptr, nullptr));
        VariantClear(&result);
        // Early-bound: the member's own slot of the proxy, through the table's thunk.
        VARIANT value;
        VariantInit(&value);
        value.llVal = 0;
        const HRESULT hr = m.thunk(face.get(), args.data(), &value);
        report("early", table, m, hr);
        if (SUCCEEDED(hr) && m.resultVt != VT_EMPTY && m.resultVt != VT_VARIANT) {
            value.vt = m.resultVt;
            VariantClear(&value);
        } else if (SUCCEEDED(hr) && m.resultVt == VT_VARIANT) {
            VariantClear(&value);
        }
        for (VARIANT& v : args)
            VariantClear(&v);
    }
}

// Every face of every creatable class; the farm is bound first, as a logon does.
void sweep() {
    struct Class {
        const char16_t* progId;
        std::vector<IID> faces;
    };
    const Class classes[] = {
        {u"SkyloomCOM.SkyloomFarm", {IID_ISkyloomFarm6, IID_ISkyloomWinFarm6}},
        {u"SkyloomCOM.SkyloomApplication",
         {IID_ISkyloomApplication5, IID_ISkyloomWinApp5, IID_ISkyloomContent4}},
        {u"SkyloomCOM.SkyloomServer", {IID_ISkyloomServer5, IID_ISkyloomWinServer5}},
        {u"SkyloomCOM.SkyloomFolder",
         {IID_ISkyloomFolder5, IID_ISkyloomAppFolder5, IID_ISkyloomSrvFolder4,
          IID_ISkyloomAccountFolder4, IID_ISkyloomAIEFolder}},
        {u"SkyloomCOM.SkyloomZone", {IID_ISkyloomZone3}},
        {u"SkyloomCOM.SkyloomAppSrvBinding", {IID_ISkyloomAppSrvBinding2}},
        {u"SkyloomCOM.SkyloomUser", {IID_ISkyloomUser5}},
        {u"SkyloomCOM.SkyloomGroup", {IID_ISkyloomGroup5}},
        {u"SkyloomCOM.SkyloomCredential", {IID_ISkyloomCredential}},
    };
    for (const Class& cls : classes) {
        auto object = sky::createObject(cls.progId);
        if (cls.faces.front() == IID_ISkyloomFarm6)
            std::printf("bind 0x%08X\n",
                        static_cast<unsigned>(
                            object.as<ISkyloomFarm6>()->Initialize(SkyloomWinFarmObject)));
        for (const IID& face : cls.faces)
            sweepFace(object.get(), face);
    }
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
        else if (command == "sweep")
            sweep();
        else if (command == "demoted" && argc == 3)
            demoted(argv[2]);
        else if (command == "publish" && argc == 4)
            publish(argv[2], argv[3]);
        else if (command == "icon" && (argc == 5 || (argc == 6 && argv[5] == std::string("late"))))
            icon(argv[2], argv[3], argv[4], argc == 6);
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

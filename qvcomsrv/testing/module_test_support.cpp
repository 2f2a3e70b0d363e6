#include "module_test_support.h"

#include <fstream>

#include "qvcomsrv.h"
#include "qvcomsrv/store/icon.h"
#include "qvcomsrv/store/machine_farms.h"
#include "sky/machine.h"
#include "sky/temp_machine.h"
#include "sky/text.h"

namespace qvcomsrv::testing {

using namespace sky::farm;

namespace {

std::string currentUser() {
    WCHAR buffer[UNLEN + 1];
    DWORD size = UNLEN + 1;
    EXPECT_TRUE(GetUserNameW(buffer, &size));
    return sky::narrow(std::u16string_view(buffer, size - 1));
}

Account account(std::int32_t type, std::int32_t authority, std::string authorityName,
                std::string name) {
    return Account{type, authority, std::move(authorityName), std::move(name)};
}

} // namespace

FarmImage sampleFarm() {
    FarmImage image;
    image.farm.name = "Skyfarm";
    image.administrators = {currentUser()};
    image.zones = {{"East", "ALPHA"}, {"West", "GAMMA"}};
    image.servers = {{"ALPHA", "East", 5, 2}, {"BETA", "East", 6, 1}, {"GAMMA", "West", 5, 0}};
    image.folders = {"Applications/Office", "Applications/Office/Tools"};

    Application notepad;
    notepad.name = "Notepad";
    notepad.description = "Text editor";
    (void)notepad.settings.set(AppSetting::DefaultInitProg, "C:\\WINDOWS\\notepad.exe");
    (void)notepad.settings.set(AppSetting::DefaultWindowType, 3);
    notepad.servers = {"ALPHA", "BETA"};
    notepad.users = {account(QVAccountDomainUser, QVAccountAuthorityNTDomain, "CORP", "alice")};
    notepad.groups = {account(QVAccountGlobalGroup, QVAccountAuthorityNTDomain, "CORP", "Staff")};
    notepad.icon = colourIcon(0xFF3060C0u);

    Application word;
    word.folder = "Applications/Office";
    word.name = "Word";
    word.servers = {"ALPHA"};
    word.icon = Bytes();

    Application intranet;
    intranet.name = "Intranet";
    intranet.type = SkyloomContentObject;
    intranet.servers = {"GAMMA"};
    intranet.icon = Bytes();

    image.applications = {notepad, word, intranet};
    return image;
}

void installFarm(const FarmImage& image, bool reportsSessionReliability) {
    FarmInfo info = image.farm;
    info.reportsSessionReliability = reportsSessionReliability;
    const StoreLocation location = farmStoreOnMachine(info.name);
    auto store = createFarmStore(location, info);
    ASSERT_TRUE(store) << store.status().toString();
    FarmImage copy = image;
    copy.farm = info;
    ASSERT_TRUE((*store)->replace(copy));
    ASSERT_TRUE(setMachineFarmStore(location));
}

std::unique_ptr<FarmStore> servedStore() {
    auto store = openMachineFarmStore();
    EXPECT_TRUE(store) << store.status().toString();
    return store ? std::move(*store) : nullptr;
}

std::u16string modulePath() {
    return sky::machine::toWindowsPath(sky::testing::buildBin() / "qvcomsrv.dll");
}

void registerModule() {
    const HMODULE module = LoadLibraryW(modulePath().c_str());
    ASSERT_NE(module, nullptr) << "cannot load " << sky::narrow(modulePath()) << ": "
                               << GetLastError();
    const auto registerServer = reinterpret_cast<DllRegisterServerProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllRegisterServer")));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), S_OK) << failureText();
}

Bytes colourIcon(std::uint32_t argb) {
    IconPicture picture;
    picture.pixels.fill(argb);
    return encodeIcon(picture);
}

Bytes iconFile(std::initializer_list<std::uint32_t> colours) {
    // Each one-image file is a 6-byte directory, a 16-byte entry and the image.
    std::vector<Bytes> images;
    for (std::uint32_t colour : colours)
        images.push_back(colourIcon(colour));
    const std::size_t count = images.size();
    Bytes file = {0, 0, 1, 0, static_cast<std::uint8_t>(count), 0};
    std::size_t offset = 6 + 16 * count;
    for (const Bytes& image : images) {
        Bytes entry(image.begin() + 6, image.begin() + 22);
        const std::size_t size = image.size() - 22;
        for (int i = 0; i < 4; ++i)
            entry[12 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
        file.insert(file.end(), entry.begin(), entry.end());
        offset += size;
    }
    for (const Bytes& image : images)
        file.insert(file.end(), image.begin() + 22, image.end());
    return file;
}

std::u16string windowsPathOnC(std::string_view name) {
    return u"C:\\" + sky::widen(name);
}

std::filesystem::path hostPathOnC(std::string_view name) {
    return sky::machine::driveC() / name;
}

std::string failureText() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return "(no error information)";
    BSTR description = nullptr;
    info->GetDescription(&description);
    info->Release();
    std::string text =
        description ? sky::narrow(std::u16string_view(description, SysStringLen(description)))
                    : std::string();
    SysFreeString(description);
    return text;
}

void ObjectModelTest::SetUp() {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    installFarm(sampleFarm());
    registerModule();
}

void ObjectModelTest::TearDown() {
    CoUninitialize();
}

sky::ComPtr<ISkyloomFarm6> ObjectModelTest::openFarm() {
    auto farm = sky::createObject<ISkyloomFarm6>(u"SkyloomCOM.SkyloomFarm");
    EXPECT_EQ(farm->Initialize(SkyloomWinFarmObject), S_OK) << failureText();
    return farm;
}

sky::ComPtr<ISkyloomApplication5> ObjectModelTest::openApplication(std::string_view dn) {
    auto app = sky::createObject<ISkyloomApplication5>(u"SkyloomCOM.SkyloomApplication");
    EXPECT_EQ(app->Initialize(SkyloomWinAppObject, bstr(dn).get()), S_OK) << failureText();
    EXPECT_EQ(app->LoadData(-1), S_OK) << failureText();
    return app;
}

sky::ComPtr<ISkyloomAppSrvBinding2> ObjectModelTest::binding(std::string_view server,
                                                             std::string_view dn) {
    auto binding = sky::createObject<ISkyloomAppSrvBinding2>(u"SkyloomCOM.SkyloomAppSrvBinding");
    EXPECT_EQ(binding->Initialize(SkyloomWinSrvObject, bstr(server).get(), bstr(dn).get()), S_OK)
        << failureText();
    return binding;
}

Application ObjectModelTest::stored(std::string_view dn) {
    auto store = servedStore();
    auto app = store->application(dn);
    EXPECT_TRUE(app) << app.status().toString();
    return app ? std::move(*app) : Application();
}

bool ObjectModelTest::exists(std::string_view dn) {
    auto store = servedStore();
    return store->application(dn).isOk();
}

} // namespace qvcomsrv::testing

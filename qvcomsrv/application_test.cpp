// Applications through their life: loaded, changed, saved; created and saved; replaced; deleted;
// changed as a collection hands them out; and the settings the options editor and the import
// write.
#include <map>

#include "results.h"
#include "sky/heap_tally.h"
#include "testing/module_test_support.h"

namespace qvcomsrv::testing {
namespace {

using sky::ComPtr;
using sky::farm::AppSetting;

class ApplicationTest : public ObjectModelTest {};

TEST_F(ApplicationTest, ChangesReachTheFarmOnlyWithSaveData) {
    auto app = openApplication("Applications/Notepad");
    ComPtr<ISkyloomWinApp4> settings;
    ASSERT_EQ(app->get_WinAppObject4(settings.put()), S_OK);
    ASSERT_EQ(settings->put_DefaultWindowType(QVWinWindow1600X1200), S_OK);
    ASSERT_EQ(settings->put_Description(bstr("Plain text").get()), S_OK);

    // Another program sees nothing yet.
    EXPECT_EQ(stored("Applications/Notepad").settings.number(AppSetting::DefaultWindowType), 3);
    sky::Bstr description;
    ASSERT_EQ(openApplication("Applications/Notepad")->get_Description(description.put()), S_OK);
    EXPECT_EQ(description.utf8(), "Text editor");

    ASSERT_EQ(app->SaveData(), S_OK) << failureText();
    const auto saved = stored("Applications/Notepad");
    EXPECT_EQ(saved.settings.number(AppSetting::DefaultWindowType), QVWinWindow1600X1200);
    EXPECT_EQ(saved.description, "Plain text");
    EXPECT_EQ(saved.servers, (std::vector<std::string>{"ALPHA", "BETA"})) << "untouched";
}

TEST_F(ApplicationTest, SaveDataOnTheSettingsObjectIsTheApplicationsSave) {
    // The options editor: Initialize, LoadData, WinAppObject4, seven puts, SaveData on the
    // settings reference.
    auto app = openApplication("Applications/Office/Word");
    ComPtr<ISkyloomWinApp4> settings;
    ASSERT_EQ(app->get_WinAppObject4(settings.put()), S_OK);
    ASSERT_EQ(settings->put_DefaultEncryption(QVWinEncryption128Bit), S_OK);
    ASSERT_EQ(settings->put_DefaultSoundType(QVWinSoundBasic), S_OK);
    ASSERT_EQ(settings->put_DefaultWindowColor(QVWinColor16M), S_OK);
    ASSERT_EQ(settings->put_DefaultWindowType(QVWinWindow800X600), S_OK);
    ASSERT_EQ(settings->put_DefaultWindowScale(90), S_OK);
    ASSERT_EQ(settings->put_DefaultWindowHeight(480), S_OK);
    ASSERT_EQ(settings->put_DefaultWindowWidth(640), S_OK);
    ASSERT_EQ(settings->SaveData(), S_OK) << failureText();

    const auto saved = stored("Applications/Office/Word");
    EXPECT_EQ(saved.settings.number(AppSetting::DefaultEncryption), QVWinEncryption128Bit);
    EXPECT_EQ(saved.settings.number(AppSetting::DefaultSoundType), QVWinSoundBasic);
    EXPECT_EQ(saved.settings.number(AppSetting::DefaultWindowColor), QVWinColor16M);
    EXPECT_EQ(saved.settings.number(AppSetting::DefaultWindowType), QVWinWindow800X600);
    // Width, height and scale are kept whatever the window type.
    EXPECT_EQ(saved.settings.number(AppSetting::DefaultWindowScale), 90);
    EXPECT_EQ(saved.settings.number(AppSetting::DefaultWindowHeight), 480);
    EXPECT_EQ(saved.settings.number(AppSetting::DefaultWindowWidth), 640);

    // The application face sees the same state: nothing left to save.
    QVWinWindowType type{};
    ASSERT_EQ(settings->get_DefaultWindowType(&type), S_OK);
    EXPECT_EQ(type, QVWinWindow800X600);
}

TEST_F(ApplicationTest, BitSetsAndEnumerationsTakeTheirValuesAndRefuseOthers) {
    auto settings = openApplication("Applications/Notepad").as<ISkyloomWinApp4>();
    // Minimum sound and minimum encryption: one value of a bit set.
    EXPECT_EQ(settings->put_LumoAttributes(static_cast<QVWinAppLumoAttribute>(6)), S_OK);
    EXPECT_EQ(settings->put_DefaultWindowType(QVWinWindow1600X1200), S_OK);
    EXPECT_EQ(settings->put_DefaultWindowType(static_cast<QVWinWindowType>(9)), E_INVALIDARG);
    EXPECT_NE(failureText().find("DefaultWindowType"), std::string::npos);
    EXPECT_EQ(settings->put_LumoAttributes(static_cast<QVWinAppLumoAttribute>(64)), E_INVALIDARG);
    ASSERT_EQ(settings->SaveData(), S_OK);
    const auto saved = stored("Applications/Notepad");
    EXPECT_EQ(saved.settings.number(AppSetting::LumoAttributes), 6);
    EXPECT_EQ(saved.settings.number(AppSetting::DefaultWindowType), 8);
}

TEST_F(ApplicationTest, ANewApplicationExistsOnlyAfterItsSave) {
    // The import: AddApplication4, the settings object, name, folder, settings, SaveData.
    auto farm = openFarm();
    ComPtr<ISkyloomApplication4> added;
    ASSERT_EQ(farm->AddApplication4(SkyloomWinAppObject, added.put()), S_OK);
    auto app = added.as<ISkyloomApplication5>();
    ComPtr<ISkyloomWinApp4> settings;
    ASSERT_EQ(app->get_WinAppObject4(settings.put()), S_OK);
    ASSERT_EQ(settings->put_AppName(bstr("Calculator").get()), S_OK);
    ASSERT_EQ(settings->put_ParentFolderDN(bstr("Applications/Office/Tools").get()), S_OK);
    ASSERT_EQ(settings->put_DefaultInitProg(bstr("C:\\WINDOWS\\calc.exe").get()), S_OK);
    ASSERT_EQ(settings->put_InstanceLimit(5), S_OK);

    sky::Bstr dn;
    ASSERT_EQ(app->get_DistinguishedName(dn.put()), S_OK);
    EXPECT_EQ(dn.utf8(), "Applications/Office/Tools/Calculator");
    ComPtr<ISkyloomApplication4> lookup;
    EXPECT_EQ(farm->GetApplication4(SkyloomWinAppObject, dn.get(), lookup.put()), kNotFound);
    EXPECT_FALSE(exists(dn.utf8()));

    ASSERT_EQ(app->SaveData(), S_OK) << failureText();
    EXPECT_EQ(farm->GetApplication4(SkyloomWinAppObject, dn.get(), lookup.put()), S_OK);
    const auto saved = stored(dn.utf8());
    EXPECT_EQ(saved.settings.text(AppSetting::DefaultInitProg), "C:\\WINDOWS\\calc.exe");
    EXPECT_EQ(saved.settings.number(AppSetting::InstanceLimit), 5);
    EXPECT_EQ(saved.type, SkyloomWinAppObject);

    // The object now stands for the saved application: a second save changes nothing, a change
    // saves again.
    ASSERT_EQ(app->SaveData(), S_OK);
    ASSERT_EQ(settings->put_EnableApp(0), S_OK);
    ASSERT_EQ(app->SaveData(), S_OK);
    EXPECT_EQ(stored(dn.utf8()).settings.number(AppSetting::EnableApp), 0);
}

TEST_F(ApplicationTest, ANewApplicationReplacesOneOfItsNameInTheRootFolder) {
    auto farm = openFarm();
    ComPtr<ISkyloomApplication4> added;
    ASSERT_EQ(farm->AddApplication4(SkyloomWinAppObject, added.put()), S_OK);
    auto app = added.as<ISkyloomApplication5>();
    auto settings = app.as<ISkyloomWinApp4>();
    ASSERT_EQ(settings->put_AppName(bstr("Notepad").get()), S_OK);
    ASSERT_EQ(settings->put_ParentFolderDN(bstr("Applications").get()), S_OK);
    ASSERT_EQ(settings->AddServer(
                  binding("GAMMA", "Applications/Notepad").as<ISkyloomAppSrvBinding>().get()),
              S_OK)
        << failureText();

    // A save before the old one is gone fails: the name is taken.
    EXPECT_EQ(app->SaveData(), kAlreadyExists);
    EXPECT_NE(failureText().find("already exists"), std::string::npos);

    // Step 5 and 6 of storing an application, then its save.
    sky::Bstr name;
    ASSERT_EQ(app->get_AppName(name.put()), S_OK);
    ComPtr<ISkyloomApplication4> old;
    ASSERT_EQ(farm->GetApplication4(SkyloomWinAppObject, bstr("Applications/" + name.utf8()).get(),
                                    old.put()),
              S_OK);
    sky::callMethod(old.get(), u"Delete");
    EXPECT_FALSE(exists("Applications/Notepad"));
    ASSERT_EQ(app->SaveData(), S_OK) << failureText();

    const auto saved = stored("Applications/Notepad");
    EXPECT_EQ(saved.servers, std::vector<std::string>{"GAMMA"});
    EXPECT_EQ(saved.description, "");
    EXPECT_TRUE(saved.users.empty());
}

TEST_F(ApplicationTest, DeleteRemovesTheApplicationAndEndsTheObject) {
    auto app = openApplication("Applications/Office/Word");
    ASSERT_EQ(app->Delete(), S_OK);
    EXPECT_FALSE(exists("Applications/Office/Word"));
    EXPECT_EQ(app->SaveData(), E_UNEXPECTED);
    EXPECT_NE(failureText().find("deleted"), std::string::npos);
    EXPECT_EQ(app->Delete(), kNotFound);

    // An object bound to a name that is not there.
    auto missing = sky::createObject<ISkyloomApplication5>(u"SkyloomCOM.SkyloomApplication");
    ASSERT_EQ(missing->Initialize(SkyloomWinAppObject, bstr("Applications/Office/Word").get()),
              S_OK);
    EXPECT_EQ(missing->Delete(), kNotFound);
    EXPECT_EQ(missing->LoadData(-1), kNotFound);
    EXPECT_NE(failureText().find("Applications/Office/Word"), std::string::npos);
}

TEST_F(ApplicationTest, AnApplicationSavedIntoAFolderThatDoesNotExistFails) {
    auto farm = openFarm();
    ComPtr<ISkyloomApplication4> added;
    ASSERT_EQ(farm->AddApplication4(SkyloomWinAppObject, added.put()), S_OK);
    auto settings = added.as<ISkyloomWinApp4>();
    ASSERT_EQ(settings->put_AppName(bstr("Paint").get()), S_OK);
    ASSERT_EQ(settings->put_ParentFolderDN(bstr("Applications/Graphics").get()), S_OK);
    EXPECT_EQ(settings->SaveData(), kNotFound);
    EXPECT_NE(failureText().find("Applications/Graphics"), std::string::npos);
    EXPECT_FALSE(exists("Applications/Graphics/Paint"));

    // Names and folders that cannot be distinguished names are refused at once.
    EXPECT_EQ(settings->put_AppName(bstr("A/B").get()), E_INVALIDARG);
    EXPECT_EQ(settings->put_ParentFolderDN(bstr("Programs/Office").get()), E_INVALIDARG);
    EXPECT_NE(failureText().find("Applications"), std::string::npos);
}

TEST_F(ApplicationTest, AnEnumeratedApplicationTakesChangesAndASaveAsItComes) {
    // Take offline: the server's applications, RemoveServer and SaveData on each, no LoadData.
    auto farm = openFarm();
    ComPtr<ISkyloomServer4> server;
    ASSERT_EQ(farm->GetServer4(SkyloomWinSrvObject, bstr("ALPHA").get(), server.put()), S_OK);
    ComPtr<ISkyloomApplications> apps;
    ASSERT_EQ(server->get_Applications(apps.put()), S_OK);
    std::vector<std::string> withdrawn;
    for (const auto& app : sky::enumerateAs<ISkyloomApplication5>(apps.get())) {
        ASSERT_EQ(app->RemoveServer(bstr("ALPHA").get()), S_OK) << failureText();
        ASSERT_EQ(app->SaveData(), S_OK) << failureText();
        sky::Bstr dn;
        ASSERT_EQ(app->get_DistinguishedName(dn.put()), S_OK);
        withdrawn.push_back(dn.utf8());
    }
    EXPECT_EQ(withdrawn,
              (std::vector<std::string>{"Applications/Notepad", "Applications/Office/Word"}));
    EXPECT_EQ(stored("Applications/Notepad").servers, std::vector<std::string>{"BETA"});
    EXPECT_TRUE(stored("Applications/Office/Word").servers.empty());
    // The icon, which the collection left in the store, is still there.
    EXPECT_EQ(stored("Applications/Notepad").icon, colourIcon(0xFF3060C0u));

    ComPtr<ISkyloomApplications> none;
    ASSERT_EQ(server->get_Applications(none.put()), S_OK);
    LONG count = -1;
    ASSERT_EQ(none->get_Count(&count), S_OK);
    EXPECT_EQ(count, 0);
}

TEST_F(ApplicationTest, ASaveKeepsWhatAnotherProgramSavedMeanwhile) {
    auto first = openApplication("Applications/Notepad");
    auto second = openApplication("Applications/Notepad");
    ASSERT_EQ(first.as<ISkyloomWinApp4>()->put_DefaultWindowColor(QVWinColor256), S_OK);
    ASSERT_EQ(second->RemoveServer(bstr("BETA").get()), S_OK);
    ASSERT_EQ(first->SaveData(), S_OK);
    ASSERT_EQ(second->SaveData(), S_OK);
    const auto saved = stored("Applications/Notepad");
    EXPECT_EQ(saved.settings.number(AppSetting::DefaultWindowColor), QVWinColor256);
    EXPECT_EQ(saved.servers, std::vector<std::string>{"ALPHA"});
}

// An application deleted (through another object) after this one loaded or saved it is written
// again by this object's save, as this object holds it: changed or not, the save never reports
// a write it did not make.
TEST_F(ApplicationTest, ASaveWritesAgainAnApplicationDeletedMeanwhile) {
    auto unchanged = openApplication("Applications/Notepad");
    ASSERT_EQ(unchanged->LoadData(-1), S_OK);
    ASSERT_EQ(openApplication("Applications/Notepad")->Delete(), S_OK);
    ASSERT_FALSE(exists("Applications/Notepad"));
    ASSERT_EQ(unchanged->SaveData(), S_OK) << failureText();
    ASSERT_TRUE(exists("Applications/Notepad"));
    const auto again = stored("Applications/Notepad");
    EXPECT_EQ(again.servers, (std::vector<std::string>{"ALPHA", "BETA"}));
    EXPECT_EQ(again.icon, colourIcon(0xFF3060C0u));
    EXPECT_EQ(again.users.size(), 1u);

    // Changed since: written again with the change, and the object saves on as before.
    auto changed = openApplication("Applications/Office/Word");
    ASSERT_EQ(changed->RemoveServer(bstr("ALPHA").get()), S_OK);
    ASSERT_EQ(openApplication("Applications/Office/Word")->Delete(), S_OK);
    ASSERT_EQ(changed->SaveData(), S_OK) << failureText();
    EXPECT_TRUE(stored("Applications/Office/Word").servers.empty());
    ASSERT_EQ(changed.as<ISkyloomWinApp4>()->put_Description(bstr("back").get()), S_OK);
    ASSERT_EQ(changed->SaveData(), S_OK) << failureText();
    EXPECT_EQ(stored("Applications/Office/Word").description, "back");
}

// The objects of an application collection hold each application once while they are only read
// (the application view reads each one's name): as loaded and as changed only once one is
// changed, and a save that changes nothing leaves it as saved. Each application here has a long
// description, so that the copies show in the bytes held.
TEST_F(ApplicationTest, ACollectionsApplicationsAreHeldOnceUntilOneIsChanged) {
    sky::farm::FarmImage image = sampleFarm();
    constexpr std::size_t kCount = 100, kDescription = 20000;
    for (std::size_t i = 0; i < kCount; ++i) {
        sky::farm::Application app;
        app.name = "Bulk " + std::to_string(i);
        app.description = std::string(kDescription, static_cast<char>('a' + i % 26));
        app.icon = sky::farm::Bytes();
        image.applications.push_back(app);
    }
    ASSERT_TRUE(servedStore()->replace(image));
    auto farm = openFarm();
    const long long descriptions = kCount * kDescription;

    sky::testing::HeapTally tally;
    ComPtr<ISkyloomApplications> apps;
    ASSERT_EQ(farm->get_Applications(apps.put()), S_OK);
    std::vector<ComPtr<ISkyloomApplication5>> all;
    for (const auto& app : sky::enumerateAs<ISkyloomApplication5>(apps.get()))
        all.push_back(app);
    ASSERT_EQ(all.size(), kCount + 3);
    for (const auto& app : all) {
        sky::Bstr name, description;
        ASSERT_EQ(app->get_DistinguishedName(name.put()), S_OK);
        ASSERT_EQ(app->get_Description(description.put()), S_OK);
        QVWinWindowType type{};
        ASSERT_EQ(app.as<ISkyloomWinApp4>()->get_DefaultWindowType(&type), S_OK);
    }
    const long long read = tally.held();
    EXPECT_GT(read, descriptions);
    EXPECT_LT(read, descriptions * 5 / 4) << "an application held twice while only read";

    // A change holds the one changed as loaded too, until it is saved.
    ASSERT_EQ(all.back().as<ISkyloomWinApp>()->put_Description(bstr("short").get()), S_OK);
    ASSERT_EQ(all.front().as<ISkyloomWinApp>()->put_Description(bstr("shorter").get()), S_OK);
    const long long changed = tally.held() - read;
    EXPECT_GT(changed, static_cast<long long>(kDescription));
    EXPECT_LT(changed, static_cast<long long>(2 * kDescription));
    ASSERT_EQ(all.front()->SaveData(), S_OK) << failureText();
    EXPECT_LT(tally.held() - read, static_cast<long long>(kDescription));
    EXPECT_EQ(stored(sky::farm::Application{.name = "Bulk 0"}.distinguishedName()).description,
              "shorter");
    EXPECT_EQ(stored("Applications/Bulk 99").description, std::string(kDescription, 'a' + 99 % 26));
}

TEST_F(ApplicationTest, ApplicationsOfOtherKindsLiveInTheFarm) {
    auto farm = openFarm();
    ComPtr<ISkyloomApplications> apps;
    ASSERT_EQ(farm->get_Applications(apps.put()), S_OK);
    std::map<std::string, SkyloomObjectType> kinds;
    for (const auto& app : sky::enumerateAs<ISkyloomApplication5>(apps.get())) {
        sky::Bstr name;
        SkyloomObjectType type{};
        ASSERT_EQ(app->get_AppName(name.put()), S_OK);
        ASSERT_EQ(app->get_AppType(&type), S_OK);
        kinds[name.utf8()] = type;
    }
    EXPECT_EQ(kinds["Intranet"], SkyloomContentObject);
    EXPECT_EQ(kinds["Notepad"], SkyloomWinAppObject);

    ComPtr<ISkyloomApplication4> desktop;
    ASSERT_EQ(farm->AddApplication4(SkyloomDesktopObject, desktop.put()), S_OK);
    ASSERT_EQ(desktop.as<ISkyloomWinApp>()->put_AppName(bstr("Full desktop").get()), S_OK);
    ASSERT_EQ(desktop->SaveData(), S_OK) << failureText();
    EXPECT_EQ(stored("Applications/Full desktop").type, SkyloomDesktopObject);

    EXPECT_EQ(farm->AddApplication4(SkyloomWinSrvObject, desktop.put()), E_INVALIDARG);
}

TEST_F(ApplicationTest, AnApplicationAnswersItsThreeFamiliesAsOneObject) {
    auto app = openApplication("Applications/Notepad");
    const IID* own[] = {
        &IID_ISkyloomApplication,  &IID_ISkyloomApplication2, &IID_ISkyloomApplication3,
        &IID_ISkyloomApplication4, &IID_ISkyloomApplication5, &IID_ISkyloomWinApp,
        &IID_ISkyloomWinApp2,      &IID_ISkyloomWinApp3,      &IID_ISkyloomWinApp4,
        &IID_ISkyloomWinApp5,      &IID_ISkyloomContent,      &IID_ISkyloomContent4};
    for (const IID* iid : own) {
        ComPtr<IUnknown> face;
        EXPECT_EQ(app->QueryInterface(*iid, face.putVoid()), S_OK);
    }
    ComPtr<IUnknown> none;
    EXPECT_EQ(app->QueryInterface(IID_ISkyloomFarm, none.putVoid()), E_NOINTERFACE);

    // SaveData resolves by name on the settings face, and saves what that face changed; Delete
    // on the application's dispatch face, and deletes it.
    ComPtr<ISkyloomWinApp> settings;
    ASSERT_EQ(app->get_WinAppObject(settings.put()), S_OK);
    ASSERT_EQ(settings->put_Description(bstr("Saved through its name").get()), S_OK);
    EXPECT_EQ(stored("Applications/Notepad").description, "Text editor");
    EXPECT_EQ(sky::callMethod(settings.get(), u"SaveData").type(), VT_EMPTY);
    EXPECT_EQ(stored("Applications/Notepad").description, "Saved through its name");

    const DISPID deleteId = sky::dispatchId(app.get(), u"Delete");
    EXPECT_NE(deleteId, sky::dispatchId(app.get(), u"SaveData"));
    EXPECT_EQ(sky::dispatchId(app.get(), u"delete"), deleteId) << "names are matched in any case";
    sky::invoke(app.get(), deleteId, DISPATCH_METHOD, {});
    EXPECT_FALSE(exists("Applications/Notepad"));
}

TEST_F(ApplicationTest, ObjectsThatAreNotBoundSayWhatIsMissing) {
    auto app = sky::createObject<ISkyloomApplication5>(u"SkyloomCOM.SkyloomApplication");
    EXPECT_EQ(app->SaveData(), E_UNEXPECTED);
    EXPECT_NE(failureText().find("Initialize"), std::string::npos);
    EXPECT_EQ(app->Initialize(SkyloomWinAppObject, bstr("Applications").get()), E_INVALIDARG);
    EXPECT_EQ(app->Initialize(SkyloomWinFarmObject, bstr("Applications/Notepad").get()),
              E_INVALIDARG);
    EXPECT_NE(failureText().find("SkyloomWinAppObject"), std::string::npos);
    // Bound without a load, the application is read when first needed.
    ASSERT_EQ(app->Initialize(SkyloomWinAppObject, bstr("applications/notepad").get()), S_OK);
    sky::Bstr name;
    ASSERT_EQ(app->get_AppName(name.put()), S_OK);
    EXPECT_EQ(name.utf8(), "Notepad");
}

} // namespace
} // namespace qvcomsrv::testing

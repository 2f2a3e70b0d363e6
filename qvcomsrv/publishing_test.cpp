// Publishing through bindings: AddServer with a binding for whichever application, or for a named
// one; the refusals for servers the farm does not know, applications already published there or
// not published there; and the clone's walk over a server's applications.
#include "results.h"
#include "testing/module_test_support.h"

namespace qvcomsrv::testing {
namespace {

using sky::ComPtr;

class PublishingTest : public ObjectModelTest {
protected:
    HRESULT addServer(const ComPtr<ISkyloomApplication5>& app,
                      const ComPtr<ISkyloomAppSrvBinding2>& binding) {
        // The tool passes the binding as its first version.
        return app->AddServer(binding.as<ISkyloomAppSrvBinding>().get());
    }
};

TEST_F(PublishingTest, ABindingWithoutAnApplicationPublishesOnItsServer) {
    // Publish: Initialize, LoadData(-1), a binding with an empty AppDN, AddServer, SaveData.
    auto app = openApplication("Applications/Office/Word");
    ASSERT_EQ(addServer(app, binding("GAMMA")), S_OK) << failureText();
    EXPECT_EQ(stored("Applications/Office/Word").servers, std::vector<std::string>{"ALPHA"});
    ASSERT_EQ(app->SaveData(), S_OK) << failureText();
    EXPECT_EQ(stored("Applications/Office/Word").servers,
              (std::vector<std::string>{"ALPHA", "GAMMA"}));
}

TEST_F(PublishingTest, ABindingForTheApplicationPublishesToo) {
    // Bring online: a binding naming the application, spelled as the snapshot file has it.
    auto app = openApplication("Applications/Office/Word");
    ASSERT_EQ(addServer(app, binding("beta", "Applications/office/word")), S_OK) << failureText();
    ASSERT_EQ(app->SaveData(), S_OK);
    EXPECT_EQ(stored("Applications/Office/Word").servers,
              (std::vector<std::string>{"ALPHA", "BETA"}))
        << "kept in the farm's spelling";
}

TEST_F(PublishingTest, ABindingForAnotherApplicationIsRefused) {
    auto app = openApplication("Applications/Office/Word");
    EXPECT_EQ(addServer(app, binding("BETA", "Applications/Notepad")), E_INVALIDARG);
    EXPECT_NE(failureText().find("Applications/Notepad"), std::string::npos);
}

TEST_F(PublishingTest, AServerTheFarmDoesNotKnowIsRefused) {
    auto binding = sky::createObject<ISkyloomAppSrvBinding2>(u"SkyloomCOM.SkyloomAppSrvBinding");
    EXPECT_EQ(binding->Initialize(SkyloomWinSrvObject, bstr("OMEGA").get(), bstr("").get()),
              kNotFound);
    EXPECT_NE(failureText().find("OMEGA"), std::string::npos);
    // A binding that was never initialized names no server.
    auto app = openApplication("Applications/Office/Word");
    EXPECT_EQ(app->AddServer(binding.as<ISkyloomAppSrvBinding>().get()), E_UNEXPECTED);
    EXPECT_NE(failureText().find("Initialize"), std::string::npos);
    EXPECT_EQ(binding->Initialize(SkyloomWinFarmObject, bstr("ALPHA").get(), bstr("").get()),
              E_INVALIDARG);
}

TEST_F(PublishingTest, PublishingTwiceOnOneServerIsRefused) {
    auto app = openApplication("Applications/Notepad");
    EXPECT_EQ(addServer(app, binding("ALPHA")), SKYLOOM_E_ALREADY_PUBLISHED);
    const std::string text = failureText();
    EXPECT_NE(text.find("already published"), std::string::npos) << text;
    EXPECT_NE(text.find("ALPHA"), std::string::npos) << text;
    // The same within one object, before any save.
    ASSERT_EQ(addServer(app, binding("GAMMA")), S_OK);
    EXPECT_EQ(addServer(app, binding("gamma")), SKYLOOM_E_ALREADY_PUBLISHED);
    // The refusal is not the code of a server the farm lacks, nor of a failed save.
    EXPECT_NE(SKYLOOM_E_ALREADY_PUBLISHED, kNotFound);
    EXPECT_NE(SKYLOOM_E_ALREADY_PUBLISHED, kAlreadyExists);
}

TEST_F(PublishingTest, WithdrawingFromAServerItDoesNotRunOnIsRefused) {
    auto app = openApplication("Applications/Office/Word");
    EXPECT_EQ(app->RemoveServer(bstr("BETA").get()), SKYLOOM_E_NOT_PUBLISHED);
    EXPECT_NE(failureText().find("not published on server BETA"), std::string::npos);
    // A server the farm does not have at all is another failure.
    EXPECT_EQ(app->RemoveServer(bstr("OMEGA").get()), kNotFound);
    EXPECT_NE(failureText().find("OMEGA"), std::string::npos);
    // Unpublish: RemoveServer and SaveData.
    ASSERT_EQ(app->RemoveServer(bstr("alpha").get()), S_OK);
    ASSERT_EQ(app->SaveData(), S_OK);
    EXPECT_TRUE(stored("Applications/Office/Word").servers.empty());
}

TEST_F(PublishingTest, CloneAddsTheTargetToEveryApplicationOfTheSource) {
    // The clone spells the class "SkyloomCom.SkyloomServer".
    auto source = sky::createObject<ISkyloomServer5>(u"SkyloomCom.SkyloomServer");
    ASSERT_EQ(source->Initialize(SkyloomWinSrvObject, bstr("ALPHA").get()), S_OK);
    ComPtr<ISkyloomApplications> apps;
    ASSERT_EQ(source->get_Applications(apps.put()), S_OK);
    for (const auto& app : sky::enumerateAs<ISkyloomApplication5>(apps.get())) {
        ASSERT_EQ(app->LoadData(-1), S_OK);
        ASSERT_EQ(addServer(app, binding("GAMMA")), S_OK) << failureText();
        ASSERT_EQ(app->SaveData(), S_OK) << failureText();
    }
    EXPECT_EQ(stored("Applications/Notepad").servers,
              (std::vector<std::string>{"ALPHA", "BETA", "GAMMA"}));
    EXPECT_EQ(stored("Applications/Office/Word").servers,
              (std::vector<std::string>{"ALPHA", "GAMMA"}));

    // A second clone onto the same target stops at the first application.
    ComPtr<ISkyloomApplications> again;
    ASSERT_EQ(source->get_Applications(again.put()), S_OK);
    ComPtr<IDispatch> first;
    ASSERT_EQ(again->get_Item(1, first.put()), S_OK);
    auto app = first.as<ISkyloomApplication5>();
    ASSERT_EQ(app->LoadData(-1), S_OK);
    EXPECT_EQ(addServer(app, binding("GAMMA")), SKYLOOM_E_ALREADY_PUBLISHED);
}

TEST_F(PublishingTest, AnApplicationListsItsServersAndBindings) {
    auto app = openApplication("Applications/Notepad");
    ComPtr<ISkyloomServers> servers;
    ASSERT_EQ(app->get_Servers(servers.put()), S_OK);
    std::vector<std::string> names;
    for (const auto& server : sky::enumerateAs<ISkyloomServer5>(servers.get())) {
        sky::Bstr name;
        ASSERT_EQ(server->get_ServerName(name.put()), S_OK);
        names.push_back(name.utf8());
        // The server's own data is read when asked for.
        ComPtr<ISkyloomWinServer4> windows;
        ASSERT_EQ(server->get_WinServerObject4(windows.put()), S_OK);
        LONG major = 0;
        ASSERT_EQ(windows->get_WinNTVerMajor(&major), S_OK);
        EXPECT_GE(major, 5);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ALPHA", "BETA"}));

    ComPtr<ISkyloomAppSrvBinding2> bound;
    ASSERT_EQ(app->GetServerBinding2(bstr("beta").get(), bound.put()), S_OK);
    sky::Bstr server, dn;
    ASSERT_EQ(bound->get_ServerName(server.put()), S_OK);
    ASSERT_EQ(bound->get_AppDistinguishedName(dn.put()), S_OK);
    EXPECT_EQ(server.utf8() + " " + dn.utf8(), "BETA Applications/Notepad");
    EXPECT_EQ(app->GetServerBinding2(bstr("GAMMA").get(), bound.put()), kNotFound);
}

TEST_F(PublishingTest, ZonesListTheirServers) {
    auto farm = openFarm();
    ComPtr<ISkyloomZone3> east;
    ASSERT_EQ(farm->GetZone3(bstr("east").get(), east.put()), S_OK);
    LONG count = 0;
    ASSERT_EQ(east->get_ServerCount(&count), S_OK);
    EXPECT_EQ(count, 2);
    ComPtr<ISkyloomServer5> alpha;
    ASSERT_EQ(farm->GetServer5(SkyloomWinSrvObject, bstr("ALPHA").get(), alpha.put()), S_OK);
    VARIANT_BOOL collects = VARIANT_FALSE;
    ASSERT_EQ(alpha->get_IsDataCollector(&collects), S_OK);
    EXPECT_EQ(collects, VARIANT_TRUE);
    ComPtr<ISkyloomZone3> none;
    EXPECT_EQ(farm->GetZone3(bstr("North").get(), none.put()), kNotFound);
}

} // namespace
} // namespace qvcomsrv::testing

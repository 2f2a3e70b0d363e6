// Application folders as the import creates them: InitAppFolder on an existing folder, then
// CreateSubFolder, which fails for a folder that exists already.
#include "results.h"
#include "testing/module_test_support.h"

namespace qvcomsrv::testing {
namespace {

using sky::ComPtr;

class FolderTest : public ObjectModelTest {
protected:
    ComPtr<ISkyloomFolder5> folder(std::string_view dn) {
        auto folder = sky::createObject<ISkyloomFolder5>(u"SkyloomCOM.SkyloomFolder");
        EXPECT_EQ(folder->InitAppFolder(bstr(dn).get()), S_OK) << failureText();
        return folder;
    }
};

TEST_F(FolderTest, TheImportCreatesMissingFoldersOneLevelAtATime) {
    // ParentFolderDN=Applications/Office/Tools/Extra: Office and Tools exist, Extra does not.
    EXPECT_EQ(folder("Applications")->CreateSubFolder(bstr("Office").get()), kAlreadyExists);
    EXPECT_NE(failureText().find("Office"), std::string::npos);
    EXPECT_EQ(folder("Applications/Office")->CreateSubFolder(bstr("Tools").get()), kAlreadyExists);
    ASSERT_EQ(folder("Applications/Office/Tools")->CreateSubFolder(bstr("Extra").get()), S_OK)
        << failureText();
    EXPECT_TRUE(*servedStore()->folderExists("Applications/Office/Tools/Extra"));

    // Now an application can be saved there.
    auto farm = openFarm();
    ComPtr<ISkyloomApplication4> app;
    ASSERT_EQ(farm->AddApplication4(SkyloomWinAppObject, app.put()), S_OK);
    auto settings = app.as<ISkyloomWinApp4>();
    ASSERT_EQ(settings->put_AppName(bstr("Grep").get()), S_OK);
    ASSERT_EQ(settings->put_ParentFolderDN(bstr("Applications/Office/Tools/Extra").get()), S_OK);
    ASSERT_EQ(app->SaveData(), S_OK) << failureText();
    EXPECT_TRUE(exists("Applications/Office/Tools/Extra/Grep"));
}

TEST_F(FolderTest, AFolderThatDoesNotExistCannotBeOpened) {
    auto folder = sky::createObject<ISkyloomFolder5>(u"SkyloomCOM.SkyloomFolder");
    EXPECT_EQ(folder->InitAppFolder(bstr("Applications/Games").get()), kNotFound);
    EXPECT_NE(failureText().find("Applications/Games"), std::string::npos);
    EXPECT_EQ(folder->CreateSubFolder(bstr("Chess").get()), E_UNEXPECTED);
    EXPECT_EQ(folder->InitAppFolder(bstr("Games").get()), E_INVALIDARG);
}

TEST_F(FolderTest, AFolderKnowsItsPlaceAndItsApplications) {
    auto office = folder("applications/office");
    sky::Bstr dn, name;
    ASSERT_EQ(office->get_DistinguishedName(dn.put()), S_OK);
    ASSERT_EQ(office->get_FolderName(name.put()), S_OK);
    EXPECT_EQ(dn.utf8(), "Applications/Office") << "the farm's spelling";
    EXPECT_EQ(name.utf8(), "Office");
    LONG count = 0;
    ASSERT_EQ(office->get_SubFolderCount(&count), S_OK);
    EXPECT_EQ(count, 1);
    ComPtr<ISkyloomFolder5> parent;
    ASSERT_EQ(office->get_ParentFolder5(parent.put()), S_OK);
    VARIANT_BOOL root = VARIANT_FALSE;
    ASSERT_EQ(parent->get_IsRoot(&root), S_OK);
    EXPECT_EQ(root, VARIANT_TRUE);
    ComPtr<ISkyloomFolder5> above;
    EXPECT_EQ(parent->get_ParentFolder5(above.put()), kNotFound);

    auto apps = office.as<ISkyloomAppFolder5>();
    ASSERT_EQ(apps->get_ApplicationCount(&count), S_OK);
    EXPECT_EQ(count, 1);
    VARIANT_BOOL contains = VARIANT_FALSE;
    ASSERT_EQ(apps->ContainsApplication(bstr("word").get(), &contains), S_OK);
    EXPECT_EQ(contains, VARIANT_TRUE);

    // Every folder family answers; this farm keeps application folders only.
    for (const IID* iid :
         {&IID_ISkyloomFolder, &IID_ISkyloomFolder2, &IID_ISkyloomAppFolder,
          &IID_ISkyloomSrvFolder4, &IID_ISkyloomAccountFolder, &IID_ISkyloomAIEFolder}) {
        ComPtr<IUnknown> face;
        EXPECT_EQ(office->QueryInterface(*iid, face.putVoid()), S_OK);
    }
    ComPtr<ISkyloomServers> servers;
    EXPECT_EQ(office.as<ISkyloomSrvFolder>()->get_Servers(servers.put()), E_NOTIMPL);
}

} // namespace
} // namespace qvcomsrv::testing

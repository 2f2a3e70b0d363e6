// What one program saves through the object model, another program reads, and the other way
// round: the probe program is a second process on the test's machine.
#include <cstdio>
#include <sstream>

#include "sky/temp_machine.h"
#include "testing/module_test_support.h"

namespace qvcomsrv::testing {
namespace {

struct ProbeRun {
    int code;
    std::string output;
};

ProbeRun probe(const std::string& arguments) {
    const std::string command =
        (sky::testing::buildBin() / "testprograms" / "qvcomsrv_farm_probe").string() + " " +
        arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {-1, "cannot start the probe"};
    std::string output;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class PersistenceTest : public ObjectModelTest {};

TEST_F(PersistenceTest, ASecondProcessReadsWhatThisOneSaved) {
    auto farm = openFarm();
    sky::ComPtr<ISkyloomApplication4> added;
    ASSERT_EQ(farm->AddApplication4(SkyloomWinAppObject, added.put()), S_OK);
    auto settings = added.as<ISkyloomWinApp4>();
    ASSERT_EQ(settings->put_AppName(bstr("Paint").get()), S_OK);
    ASSERT_EQ(settings->put_ParentFolderDN(bstr("Applications/Office").get()), S_OK);
    ASSERT_EQ(settings->put_DefaultWindowType(QVWinWindowFullScreen), S_OK);
    ASSERT_EQ(settings->AddServer(binding("BETA").as<ISkyloomAppSrvBinding>().get()), S_OK);
    auto user = sky::createObject<ISkyloomUser5>(u"SkyloomCOM.SkyloomUser");
    ASSERT_EQ(user->Initialize2(QVAccountAuthorityNTDomain, bstr("CORP").get(), QVAccountDomainUser,
                                bstr("dave").get(), nullptr),
              S_OK);
    ASSERT_EQ(settings->AddUser2(user.as<ISkyloomUser2>().get()), S_OK);
    ASSERT_EQ(added->SaveData(), S_OK) << failureText();

    const ProbeRun run = probe("list");
    ASSERT_EQ(run.code, 0) << run.output;
    EXPECT_EQ(run.output, "Applications/Intranet|4|GAMMA|||2\n"
                          "Applications/Notepad|3|ALPHA,BETA|alice|Staff|3\n"
                          "Applications/Office/Paint|3|BETA|dave||7\n"
                          "Applications/Office/Word|3|ALPHA|||2\n");
}

TEST_F(PersistenceTest, ThisProcessReadsWhatASecondOneSaved) {
    const ProbeRun run = probe("publish Applications/Office/Word GAMMA");
    ASSERT_EQ(run.code, 0) << run.output;
    auto app = openApplication("Applications/Office/Word");
    VARIANT_BOOL published = VARIANT_FALSE;
    ASSERT_EQ(app->ServerInList(bstr("GAMMA").get(), &published), S_OK);
    EXPECT_EQ(published, VARIANT_TRUE);

    // The second program's failures arrive with their descriptions.
    const ProbeRun again = probe("publish Applications/Office/Word GAMMA");
    EXPECT_EQ(again.code, 1);
    EXPECT_NE(again.output.find("already published on server GAMMA"), std::string::npos)
        << again.output;
}

} // namespace
} // namespace qvcomsrv::testing

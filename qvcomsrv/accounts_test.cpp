// Granting applications to users and groups: one credential object for every grant, accounts
// kept with their account type, authority type and authority name, and read back as the export
// reads them.
#include "results.h"
#include "testing/module_test_support.h"

namespace qvcomsrv::testing {
namespace {

using sky::ComPtr;
using sky::farm::Account;

class AccountsTest : public ObjectModelTest {
protected:
    ComPtr<ISkyloomUser5> user(const ComPtr<ISkyloomCredential>& credential,
                               QVAccountAuthorityType authority, std::string_view authorityName,
                               SkyloomAccountType type, std::string_view name) {
        auto user = sky::createObject<ISkyloomUser5>(u"SkyloomCOM.SkyloomUser");
        EXPECT_EQ(user->Initialize2(authority, bstr(authorityName).get(), type, bstr(name).get(),
                                    credential.get()),
                  S_OK)
            << failureText();
        return user;
    }
    ComPtr<ISkyloomGroup5> group(const ComPtr<ISkyloomCredential>& credential,
                                 QVAccountAuthorityType authority, std::string_view authorityName,
                                 SkyloomAccountType type, std::string_view name) {
        auto group = sky::createObject<ISkyloomGroup5>(u"SkyloomCOM.SkyloomGroup");
        EXPECT_EQ(group->Initialize2(authority, bstr(authorityName).get(), type, bstr(name).get(),
                                     credential.get()),
                  S_OK)
            << failureText();
        return group;
    }
};

TEST_F(AccountsTest, OneCredentialServesEveryGrant) {
    // Created once, never filled in.
    auto credential = sky::createObject<ISkyloomCredential>(u"SkyloomCOM.SkyloomCredential");
    auto app = openApplication("Applications/Office/Word");
    auto settings = app.as<ISkyloomWinApp4>();

    auto bob = user(credential, QVAccountAuthorityNTDomain, "CORP", QVAccountDomainUser, "bob");
    auto carol =
        user(credential, QVAccountAuthorityADS, "corp.example", QVAccountDomainUser, "carol");
    auto local = user(credential, QVAccountAuthorityUnknown, "", QVAccountLocalUser, "kiosk");
    auto staff =
        group(credential, QVAccountAuthorityNTDomain, "CORP", QVAccountGlobalGroup, "Staff");
    auto readers = group(credential, QVAccountAuthorityADS, "corp.example", QVAccountUniversalGroup,
                         "Readers");
    for (const auto& u : {bob, carol, local})
        ASSERT_EQ(settings->AddUser2(u.as<ISkyloomUser2>().get()), S_OK) << failureText();
    for (const auto& g : {staff, readers})
        ASSERT_EQ(settings->AddGroup2(g.as<ISkyloomGroup2>().get()), S_OK) << failureText();
    // Granting again changes nothing.
    ASSERT_EQ(settings->AddUser2(bob.as<ISkyloomUser2>().get()), S_OK);
    ASSERT_EQ(app->SaveData(), S_OK) << failureText();

    const auto saved = stored("Applications/Office/Word");
    EXPECT_EQ(
        saved.users,
        (std::vector<Account>{{QVAccountDomainUser, QVAccountAuthorityNTDomain, "CORP", "bob"},
                              {QVAccountDomainUser, QVAccountAuthorityADS, "corp.example", "carol"},
                              {QVAccountLocalUser, QVAccountAuthorityUnknown, "", "kiosk"}}));
    EXPECT_EQ(saved.groups,
              (std::vector<Account>{
                  {QVAccountGlobalGroup, QVAccountAuthorityNTDomain, "CORP", "Staff"},
                  {QVAccountUniversalGroup, QVAccountAuthorityADS, "corp.example", "Readers"}}));
}

TEST_F(AccountsTest, TheExportReadsAccountsBack) {
    auto app = openApplication("Applications/Notepad");
    ComPtr<ISkyloomUsers> users;
    ASSERT_EQ(app->get_Users(users.put()), S_OK);
    std::vector<std::string> lines;
    for (const auto& u : sky::enumerateAs<ISkyloomUser5>(users.get())) {
        SkyloomAccountType type{};
        QVAccountAuthorityType authority{};
        sky::Bstr authorityName, name;
        ASSERT_EQ(u->get_AccountType(&type), S_OK);
        ASSERT_EQ(u->get_AAType(&authority), S_OK);
        ASSERT_EQ(u->get_AAName(authorityName.put()), S_OK);
        ASSERT_EQ(u->get_UserName(name.put()), S_OK);
        lines.push_back(std::to_string(type) + ":" + std::to_string(authority) + ":" +
                        authorityName.utf8() + ":" + name.utf8());
    }
    ComPtr<ISkyloomGroups> groups;
    ASSERT_EQ(app->get_Groups(groups.put()), S_OK);
    for (const auto& g : sky::enumerateAs<ISkyloomGroup5>(groups.get())) {
        sky::Bstr name;
        ASSERT_EQ(g->get_GroupName(name.put()), S_OK);
        lines.push_back(name.utf8());
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"2:1:CORP:alice", "Staff"}));
}

TEST_F(AccountsTest, AccountsTheFarmCannotKeepAreRefused) {
    auto credential = sky::createObject<ISkyloomCredential>(u"SkyloomCOM.SkyloomCredential");
    auto u = sky::createObject<ISkyloomUser5>(u"SkyloomCOM.SkyloomUser");
    EXPECT_EQ(u->Initialize2(QVAccountAuthorityNTDomain, bstr("CORP").get(),
                             static_cast<SkyloomAccountType>(12), bstr("bob").get(),
                             credential.get()),
              E_INVALIDARG);
    EXPECT_NE(failureText().find("account type 12"), std::string::npos);
    EXPECT_EQ(u->Initialize2(QVAccountAuthorityNTDomain, bstr("CORP").get(), QVAccountDomainUser,
                             bstr("").get(), credential.get()),
              E_INVALIDARG);

    // An object that names no account cannot be granted.
    auto app = openApplication("Applications/Notepad");
    EXPECT_EQ(app.as<ISkyloomWinApp2>()->AddUser2(u.as<ISkyloomUser2>().get()), E_UNEXPECTED);
    EXPECT_NE(failureText().find("Initialize2"), std::string::npos);
}

// No account or domain name holds ":", which parts an account's fields in the farm definition
// file: a grant of such a name is refused, however it is asked for, and nothing is granted.
TEST_F(AccountsTest, NamesHoldingAColonAreNotGranted) {
    auto credential = sky::createObject<ISkyloomCredential>(u"SkyloomCOM.SkyloomCredential");
    auto app = openApplication("Applications/Notepad");
    auto settings = app.as<ISkyloomWinApp4>();
    const auto before = stored("Applications/Notepad");
    for (const auto& [authority, name] :
         {std::pair<std::string, std::string>{"CO:RP", "a"}, {"CORP", "a:b"}, {"", ":"}}) {
        auto colon =
            user(credential, QVAccountAuthorityNTDomain, authority, QVAccountDomainUser, name);
        EXPECT_EQ(settings->AddUser2(colon.as<ISkyloomUser2>().get()), E_INVALIDARG) << name;
        EXPECT_NE(failureText().find("cannot hold \":\""), std::string::npos) << failureText();
        EXPECT_EQ(app->AddAccount(QVAccountAuthorityNTDomain, bstr(authority).get(),
                                  QVAccountDomainUser, bstr(name).get()),
                  E_INVALIDARG)
            << name;
    }
    auto staff =
        group(credential, QVAccountAuthorityNTDomain, "CORP", QVAccountGlobalGroup, "St:aff");
    EXPECT_EQ(settings->AddGroup2(staff.as<ISkyloomGroup2>().get()), E_INVALIDARG);
    EXPECT_NE(failureText().find("CORP\\St:aff"), std::string::npos) << failureText();
    ASSERT_EQ(app->SaveData(), S_OK) << failureText();
    EXPECT_EQ(stored("Applications/Notepad").users, before.users);
    EXPECT_EQ(stored("Applications/Notepad").groups, before.groups);
}

TEST_F(AccountsTest, RevokingTakesAnAccountAway) {
    auto app = openApplication("Applications/Notepad");
    auto settings = app.as<ISkyloomWinApp2>();
    auto alice = sky::createObject<ISkyloomUser5>(u"SkyloomCOM.SkyloomUser");
    ASSERT_EQ(
        alice->Initialize(QVAccountAuthorityNTDomain, bstr("corp").get(), bstr("ALICE").get()),
        S_OK);
    ASSERT_EQ(settings->RemoveUser2(alice.as<ISkyloomUser2>().get()), S_OK) << failureText();
    EXPECT_EQ(settings->RemoveUser2(alice.as<ISkyloomUser2>().get()), kNotFound);
    ASSERT_EQ(app->SaveData(), S_OK);
    EXPECT_TRUE(stored("Applications/Notepad").users.empty());
}

} // namespace
} // namespace qvcomsrv::testing

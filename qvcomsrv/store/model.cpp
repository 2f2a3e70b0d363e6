#include "qvcomsrv/store/model.h"

#include <algorithm>

namespace sky::farm {

bool Account::sameAccount(const Account& other) const {
    return authorityType == other.authorityType && sameName(authorityName, other.authorityName) &&
           sameName(name, other.name);
}

std::string Account::displayName() const {
    return authorityName.empty() ? name : authorityName + "\\" + name;
}

std::string Application::distinguishedName() const {
    return joinDistinguishedName(folder, name);
}

bool Application::isPublishedOn(std::string_view server) const {
    return std::any_of(servers.begin(), servers.end(),
                       [&](const std::string& s) { return sameName(s, server); });
}

Status alreadyPublished(std::string_view dn, std::string_view server) {
    return Status::alreadyExists("The application " + std::string(dn) +
                                 " is already published on server " + std::string(server) + ".");
}

Status notPublished(std::string_view dn, std::string_view server) {
    return Status::notFound("The application " + std::string(dn) + " is not published on server " +
                            std::string(server) + ".");
}

Status publishOn(Application& app, std::string_view server) {
    if (app.isPublishedOn(server))
        return alreadyPublished(app.distinguishedName(), server);
    app.servers.emplace_back(server);
    return Status::ok();
}

Status withdrawFrom(Application& app, std::string_view server) {
    auto it = std::find_if(app.servers.begin(), app.servers.end(),
                           [&](const std::string& s) { return sameName(s, server); });
    if (it == app.servers.end())
        return notPublished(app.distinguishedName(), server);
    app.servers.erase(it);
    return Status::ok();
}

namespace {

void grant(std::vector<Account>& accounts, Account account) {
    const bool granted = std::any_of(accounts.begin(), accounts.end(),
                                     [&](const Account& a) { return a.sameAccount(account); });
    if (!granted)
        accounts.push_back(std::move(account));
}

} // namespace

void grantUser(Application& app, Account user) {
    grant(app.users, std::move(user));
}

void grantGroup(Application& app, Account group) {
    grant(app.groups, std::move(group));
}

Status checkAccount(const Account& account) {
    if (account.name.empty())
        return Status::invalidArgument("An account name must not be empty.");
    if (!isMember(kAccountType, account.accountType))
        return Status::invalidArgument("The account type " + std::to_string(account.accountType) +
                                       " of " + account.displayName() +
                                       " is not valid: " + describeRange(kAccountType) + ".");
    if (!isMember(kAuthorityType, account.authorityType))
        return Status::invalidArgument(
            "The account authority type " + std::to_string(account.authorityType) + " of " +
            account.displayName() + " is not valid: " + describeRange(kAuthorityType) + ".");
    return Status::ok();
}

} // namespace sky::farm

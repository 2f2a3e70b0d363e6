// The application's life cycle, its servers and its accounts. Its settings are in
// application_settings.cpp, its icon in application_icon.cpp.
#include "application_object.h"

#include <algorithm>

#include "account_objects.h"
#include "collection.h"
#include "folder_object.h"
#include "qvcomsrv/store/names.h"
#include "results.h"
#include "server_objects.h"
#include "sky/bstr.h"

namespace qvcomsrv {

using sky::farm::Account;
using sky::farm::Application;
using sky::farm::FarmStore;
using sky::farm::Status;

namespace {

bool isApplicationKind(std::int32_t type) {
    return type == SkyloomWinAppObject || type == SkyloomContentObject ||
           type == SkyloomDesktopObject;
}

HRESULT notInitialized() {
    return withErrorInfo(E_UNEXPECTED,
                         "The application object is not bound to an application yet; call "
                         "Initialize with its distinguished name first.");
}

} // namespace

HRESULT checkApplicationKind(SkyloomObjectType type) {
    if (isApplicationKind(type))
        return S_OK;
    return withErrorInfo(E_INVALIDARG,
                         "The object kind " + std::to_string(type) +
                             " is not a kind of application: pass SkyloomWinAppObject (3), "
                             "SkyloomContentObject (4) or SkyloomDesktopObject (5).");
}

sky::ComPtr<ApplicationObject> ApplicationObject::loaded(Farm farm, Application app) {
    auto object = create<ApplicationObject>();
    object->farm_ = std::move(farm);
    object->app_ = std::move(app);
    object->state_ = State::Loaded;
    return object;
}

sky::ComPtr<ApplicationObject> ApplicationObject::created(Farm farm, std::int32_t type) {
    auto object = create<ApplicationObject>();
    object->farm_ = std::move(farm);
    object->app_.type = type;
    object->app_.icon = sky::farm::Bytes(); // no icon of its own: the default icon
    object->state_ = State::New;
    return object;
}

// ---- life cycle ----

HRESULT ApplicationObject::bind(Farm farm, SkyloomObjectType type, BSTR dn) {
    if (HRESULT hr = checkApplicationKind(type); FAILED(hr))
        return hr;
    const std::string name = textOf(dn);
    auto segments = sky::farm::splitDistinguishedName(name);
    if (!segments)
        return withErrorInfo(segments.status());
    if (segments->empty())
        return withErrorInfo(E_INVALIDARG, name + " is the root folder, not an application.");
    if (!farm)
        farm = farm_;
    if (!farm) {
        auto connected = connectToMachineFarm();
        if (!connected)
            return withErrorInfo(connected.status(), "The farm cannot be opened");
        farm = *connected;
    }
    farm_ = std::move(farm);
    boundName_ = name;
    app_ = Application();
    storedApart_.reset();
    state_ = State::Bound;
    return S_OK;
}

HRESULT ApplicationObject::open(Farm farm, SkyloomObjectType type, BSTR dn) {
    return catchExceptions([&] {
        if (HRESULT hr = bind(std::move(farm), type, dn); FAILED(hr))
            return hr;
        return load();
    });
}

HRESULT ApplicationObject::Initialize(SkyloomObjectType AppType, BSTR AppDN) {
    return catchExceptions([&] { return bind(nullptr, AppType, AppDN); });
}

std::string ApplicationObject::storedName() const {
    return state_ == State::Bound || state_ == State::Deleted ? boundName_
                                                              : stored().distinguishedName();
}

HRESULT ApplicationObject::load() {
    auto found = farm_->use([&](FarmStore& store) { return store.application(storedName()); });
    if (!found)
        return withErrorInfo(found.status());
    app_ = std::move(*found);
    storedApart_.reset();
    state_ = State::Loaded;
    return S_OK;
}

HRESULT ApplicationObject::ready() {
    switch (state_) {
    case State::Created:
        return notInitialized();
    case State::Bound:
        return load();
    case State::Deleted:
        return withErrorInfo(E_UNEXPECTED,
                             "The application " + storedName() +
                                 " was deleted from the farm; the object takes no more "
                                 "calls.");
    case State::Loaded:
    case State::New:
        break;
    }
    return S_OK;
}

HRESULT ApplicationObject::LoadData(LONG ForceLoad) {
    return catchExceptions([&] {
        switch (state_) {
        case State::New:
            if (!ForceLoad)
                return S_OK;
            return withErrorInfo(kNotFound,
                                 "The application has not been saved to the farm yet, so "
                                 "there is nothing to load.");
        case State::Loaded:
            return ForceLoad ? load() : S_OK;
        default:
            return ready();
        }
    });
}

HRESULT ApplicationObject::SaveData() {
    return catchExceptions([&] {
        if (HRESULT hr = ready(); FAILED(hr))
            return hr;
        auto saved = farm_->use([&](FarmStore& store) -> sky::farm::Result<Application> {
            if (state_ == State::New)
                return store.saveApplication(app_, nullptr);
            // The application as this object loaded or last saved it may be gone since (deleted
            // by another program, or through another object: an import deletes the application
            // it replaces, which may be the one it has just stored). The save then writes it
            // again as this object holds it: a save never reports a write it did not make.
            const auto writeAgain = [&] {
                Application again = app_;
                again.id = 0;
                return store.saveApplication(again, nullptr);
            };
            if (!storedApart_ || app_ == *storedApart_) {
                auto there = store.applicationExists(app_.id);
                if (!there)
                    return there.status();
                if (*there)
                    return app_; // nothing changed since the load: nothing to write
                return writeAgain();
            }
            auto merged = store.saveApplication(app_, storedApart_.get());
            if (merged || merged.status().code() != Status::Code::NotFound)
                return merged;
            // NotFound is also a server or folder the farm does not have: only a missing
            // application is written again.
            auto there = store.applicationExists(storedApart_->id);
            return there && !*there ? writeAgain() : merged;
        });
        if (!saved)
            return withErrorInfo(saved.status());
        app_ = std::move(*saved);
        storedApart_.reset();
        state_ = State::Loaded;
        return S_OK;
    });
}

HRESULT ApplicationObject::Delete() {
    return catchExceptions([&] {
        if (state_ == State::Created)
            return notInitialized();
        if (state_ == State::New)
            return withErrorInfo(kNotFound,
                                 "The application has not been saved to the farm, so there is "
                                 "nothing to delete.");
        if (state_ == State::Deleted)
            return withErrorInfo(kNotFound,
                                 "The application " + storedName() + " was deleted already.");
        const std::string name = storedName();
        const Status status =
            farm_->use([&](FarmStore& store) { return store.deleteApplication(name); });
        if (!status)
            return withErrorInfo(status);
        boundName_ = name;
        state_ = State::Deleted;
        return S_OK;
    });
}

// ---- what the application is ----

HRESULT ApplicationObject::get_AppName(BSTR* pVal) {
    return read([&](const Application& app) { return returnText(pVal, app.name); });
}

HRESULT ApplicationObject::get_AppType(SkyloomObjectType* pVal) {
    return read([&](const Application& app) { return returnEnum(pVal, app.type); });
}

HRESULT ApplicationObject::get_Description(BSTR* pVal) {
    return read([&](const Application& app) { return returnText(pVal, app.description); });
}

HRESULT ApplicationObject::get_DistinguishedName(BSTR* pVal) {
    return read([&](const Application& app) { return returnText(pVal, app.distinguishedName()); });
}

HRESULT ApplicationObject::get_IsPublishedContent(VARIANT_BOOL* pVal) {
    return read(
        [&](const Application& app) { return returnBool(pVal, app.type == SkyloomContentObject); });
}

HRESULT ApplicationObject::get_IsPublished(VARIANT_BOOL* pVal) {
    return read([&](const Application& app) { return returnBool(pVal, !app.servers.empty()); });
}

HRESULT ApplicationObject::get_UserCount(LONG* pVal) {
    return read([&](const Application& app) {
        return returnLong(pVal, static_cast<LONG>(app.users.size()));
    });
}

HRESULT ApplicationObject::get_GroupCount(LONG* pVal) {
    return read([&](const Application& app) {
        return returnLong(pVal, static_cast<LONG>(app.groups.size()));
    });
}

HRESULT ApplicationObject::get_ServerCount(LONG* pVal) {
    return read([&](const Application& app) {
        return returnLong(pVal, static_cast<LONG>(app.servers.size()));
    });
}

HRESULT ApplicationObject::put_AppName(BSTR newVal) {
    return change([&](Application& app) {
        std::string name = textOf(newVal);
        if (Status s = sky::farm::checkSegmentName("application", name); !s)
            return withErrorInfo(s);
        app.name = std::move(name);
        return S_OK;
    });
}

HRESULT ApplicationObject::Rename(BSTR NewName) {
    return put_AppName(NewName);
}

HRESULT ApplicationObject::put_Description(BSTR newVal) {
    return change([&](Application& app) {
        app.description = textOf(newVal);
        return S_OK;
    });
}

HRESULT ApplicationObject::get_ParentFolderDN(BSTR* pVal) {
    return read([&](const Application& app) { return returnText(pVal, app.folder); });
}

HRESULT ApplicationObject::put_ParentFolderDN(BSTR newVal) {
    return change([&](Application& app) {
        std::string folder = textOf(newVal);
        if (auto segments = sky::farm::splitDistinguishedName(folder); !segments)
            return withErrorInfo(segments.status());
        app.folder = std::move(folder);
        return S_OK;
    });
}

HRESULT ApplicationObject::MoveTo(BSTR FolderDN) {
    return put_ParentFolderDN(FolderDN);
}

// ---- the faces and the objects it hands out ----

HRESULT ApplicationObject::get_WinAppObjectAs(REFIID riid, void** out) {
    return selfAs(riid, out);
}
HRESULT ApplicationObject::get_ContentObjectAs(REFIID riid, void** out) {
    return selfAs(riid, out);
}

HRESULT ApplicationObject::get_Servers(ISkyloomServers** ppServers) {
    return read([&](const Application& app) {
        return returnCollection<ServerCollection>(
            ppServers, farm_, app.servers,
            [&](const std::string& server) { return ServerObject::named(farm_, server); });
    });
}

HRESULT ApplicationObject::get_Users(ISkyloomUsers** ppUsers) {
    return read([&](const Application& app) {
        return returnCollection<UserCollection>(
            ppUsers, farm_, app.users,
            [&](const Account& user) { return UserObject::of(farm_, user); });
    });
}

HRESULT ApplicationObject::get_Groups(ISkyloomGroups** ppGroups) {
    return read([&](const Application& app) {
        return returnCollection<GroupCollection>(
            ppGroups, farm_, app.groups,
            [&](const Account& group) { return GroupObject::of(farm_, group); });
    });
}

HRESULT ApplicationObject::get_ParentFolderAs(REFIID riid, void** out) {
    return read([&](const Application& app) {
        auto exists = farm_->use([&](FarmStore& store) { return store.folderExists(app.folder); });
        if (!exists)
            return withErrorInfo(exists.status());
        if (!*exists)
            return withErrorInfo(kNotFound, "The folder " + app.folder +
                                                " of the application does not "
                                                "exist in the farm.");
        return FolderObject::at(farm_, app.folder)->query(riid, out);
    });
}

// ---- servers ----

HRESULT ApplicationObject::AddServer(ISkyloomAppSrvBinding* pBinding) {
    if (!pBinding)
        return withErrorInfo(E_INVALIDARG, "AddServer needs a binding object naming the server.");
    return change([&](Application& app) {
        sky::Bstr server, application;
        if (HRESULT hr = pBinding->get_ServerName(server.put()); FAILED(hr))
            return hr;
        if (HRESULT hr = pBinding->get_AppDistinguishedName(application.put()); FAILED(hr))
            return hr;
        const std::string forApplication = application.utf8();
        if (!forApplication.empty() &&
            !sky::farm::sameName(forApplication, app.distinguishedName()) &&
            !(state_ == State::Loaded &&
              sky::farm::sameName(forApplication, stored().distinguishedName())))
            return withErrorInfo(E_INVALIDARG, "The binding names the application " +
                                                   forApplication + ", not " +
                                                   app.distinguishedName() + ".");
        // The binding checked its server against the farm; the save checks it again. Already
        // published there is a refusal of its own: the farm is as the caller wants it.
        if (Status s = sky::farm::publishOn(app, server.utf8()); !s)
            return withErrorInfo(SKYLOOM_E_ALREADY_PUBLISHED, s.message());
        return S_OK;
    });
}

HRESULT ApplicationObject::RemoveServer(BSTR ServerName) {
    return change([&](Application& app) {
        const std::string server = textOf(ServerName);
        const Status withdrawn = sky::farm::withdrawFrom(app, server);
        if (withdrawn)
            return S_OK;
        // A clearer reason for a server the farm does not have at all; not published on a server
        // it has is a refusal of its own: the farm is as the caller wants it.
        auto known = farm_->use([&](FarmStore& store) { return store.server(server); });
        if (!known)
            return withErrorInfo(known.status());
        return withErrorInfo(SKYLOOM_E_NOT_PUBLISHED, withdrawn.message());
    });
}

HRESULT ApplicationObject::RemoveAllServers() {
    return change([&](Application& app) {
        app.servers.clear();
        return S_OK;
    });
}

HRESULT ApplicationObject::ServerInList(BSTR ServerName, VARIANT_BOOL* pVal) {
    return read([&](const Application& app) {
        return returnBool(pVal, app.isPublishedOn(textOf(ServerName)));
    });
}

HRESULT ApplicationObject::GetServerBindingAs(BSTR server, REFIID riid, void** out) {
    return read([&](const Application& app) {
        const std::string name = textOf(server);
        auto it = std::find_if(app.servers.begin(), app.servers.end(),
                               [&](const std::string& s) { return sky::farm::sameName(s, name); });
        if (it == app.servers.end())
            return withErrorInfo(sky::farm::notPublished(app.distinguishedName(), name));
        return BindingObject::of(farm_, *it, app.distinguishedName())->query(riid, out);
    });
}

// ---- users and groups ----

namespace {

// The account named by the user or group object passed to a grant or revoke.
HRESULT accountArgument(IUnknown* object, bool group, Account& account) {
    if (!object)
        return withErrorInfo(E_INVALIDARG,
                             group ? "No group object was passed." : "No user object was passed.");
    return group ? accountOf(static_cast<ISkyloomGroup*>(object), account)
                 : accountOf(static_cast<ISkyloomUser*>(object), account);
}

// An account that can be granted: one the store takes, whose names hold no ":". No account or
// domain name on Windows holds one, and the farm definition file parts an account's fields with it:
// "User=2:1:CO:RP:a:b" would come back as another account. Accounts granted before stay as they
// are: they can still be saved, listed and removed.
Status checkGrant(const Account& account) {
    if (Status s = sky::farm::checkAccount(account); !s)
        return s;
    if (account.authorityName.find(':') != std::string::npos ||
        account.name.find(':') != std::string::npos)
        return Status::invalidArgument("The account " + account.displayName() +
                                       " cannot be granted: an account name cannot hold \":\".");
    return Status::ok();
}

} // namespace

HRESULT ApplicationObject::grant(IUnknown* object, bool group) {
    return change([&](Application& app) {
        Account account;
        if (HRESULT hr = accountArgument(object, group, account); FAILED(hr))
            return hr;
        if (Status s = checkGrant(account); !s)
            return withErrorInfo(s);
        if (group)
            sky::farm::grantGroup(app, std::move(account));
        else
            sky::farm::grantUser(app, std::move(account));
        return S_OK;
    });
}

HRESULT ApplicationObject::revoke(IUnknown* object, bool group) {
    return change([&](Application& app) {
        Account account;
        if (HRESULT hr = accountArgument(object, group, account); FAILED(hr))
            return hr;
        std::vector<Account>& accounts = group ? app.groups : app.users;
        const auto removed = std::erase_if(
            accounts, [&](const Account& granted) { return granted.sameAccount(account); });
        if (removed == 0)
            return withErrorInfo(kNotFound, account.displayName() +
                                                " is not granted the application " +
                                                app.distinguishedName() + ".");
        return S_OK;
    });
}

HRESULT ApplicationObject::AddUser(ISkyloomUser* pUser) {
    return grant(pUser, false);
}
HRESULT ApplicationObject::AddUser2(ISkyloomUser2* pUser) {
    return grant(static_cast<ISkyloomUser*>(pUser), false);
}
HRESULT ApplicationObject::RemoveUser(ISkyloomUser* pUser) {
    return revoke(pUser, false);
}
HRESULT ApplicationObject::RemoveUser2(ISkyloomUser2* pUser) {
    return revoke(static_cast<ISkyloomUser*>(pUser), false);
}
HRESULT ApplicationObject::AddGroup(ISkyloomGroup* pGroup) {
    return grant(pGroup, true);
}
HRESULT ApplicationObject::AddGroup2(ISkyloomGroup2* pGroup) {
    return grant(static_cast<ISkyloomGroup*>(pGroup), true);
}
HRESULT ApplicationObject::RemoveGroup(ISkyloomGroup* pGroup) {
    return revoke(pGroup, true);
}
HRESULT ApplicationObject::RemoveGroup2(ISkyloomGroup2* pGroup) {
    return revoke(static_cast<ISkyloomGroup*>(pGroup), true);
}

HRESULT ApplicationObject::RemoveAllUsers() {
    return change([&](Application& app) {
        app.users.clear();
        return S_OK;
    });
}

HRESULT ApplicationObject::RemoveAllGroups() {
    return change([&](Application& app) {
        app.groups.clear();
        return S_OK;
    });
}

HRESULT ApplicationObject::RemoveAllAccounts() {
    return change([&](Application& app) {
        app.users.clear();
        app.groups.clear();
        return S_OK;
    });
}

namespace {

bool isGroupType(std::int32_t type) {
    return type >= QVAccountLocalGroup && type <= QVAccountDomainLocalGroup;
}

} // namespace

HRESULT ApplicationObject::AddAccount(QVAccountAuthorityType AAType, BSTR AAName,
                                      SkyloomAccountType AccountType, BSTR AccountName) {
    return change([&](Application& app) {
        Account account{AccountType, AAType, textOf(AAName), textOf(AccountName)};
        if (Status s = checkGrant(account); !s)
            return withErrorInfo(s);
        if (isGroupType(AccountType))
            sky::farm::grantGroup(app, std::move(account));
        else
            sky::farm::grantUser(app, std::move(account));
        return S_OK;
    });
}

HRESULT ApplicationObject::RemoveAccount(QVAccountAuthorityType AAType, BSTR AAName,
                                         SkyloomAccountType AccountType, BSTR AccountName) {
    return change([&](Application& app) {
        const Account account{AccountType, AAType, textOf(AAName), textOf(AccountName)};
        std::vector<Account>& accounts = isGroupType(AccountType) ? app.groups : app.users;
        const auto removed = std::erase_if(
            accounts, [&](const Account& granted) { return granted.sameAccount(account); });
        if (removed == 0)
            return withErrorInfo(kNotFound, account.displayName() +
                                                " is not granted the application " +
                                                app.distinguishedName() + ".");
        return S_OK;
    });
}

HRESULT ApplicationObject::AccountInList(QVAccountAuthorityType AAType, BSTR AAName,
                                         SkyloomAccountType AccountType, BSTR AccountName,
                                         VARIANT_BOOL* pVal) {
    return read([&](const Application& app) {
        const Account account{AccountType, AAType, textOf(AAName), textOf(AccountName)};
        const std::vector<Account>& accounts = isGroupType(AccountType) ? app.groups : app.users;
        return returnBool(pVal,
                          std::any_of(accounts.begin(), accounts.end(),
                                      [&](const Account& a) { return a.sameAccount(account); }));
    });
}

} // namespace qvcomsrv

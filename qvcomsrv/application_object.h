// SkyloomApplication: a published application (ISkyloomApplication to ISkyloomApplication5), its
// Windows settings (ISkyloomWinApp to ISkyloomWinApp5) and its content settings (ISkyloomContent
// to ISkyloomContent4), all one object with one state. WinAppObject hands out the object itself at
// its settings face, so a SaveData through either face saves the same application.
//
// Life of an application object:
//   created     by the class factory: nothing to work on until Initialize;
//   bound       Initialize(kind, DN): the application is read from the store when first needed
//               (LoadData, or any member that reads or changes it);
//   loaded      read from the store, or handed out by a collection as the collection read it;
//               changes (settings, AddServer, RemoveServer, grants, icon) stay in the object;
//   new         from the farm's AddApplication: exists in the farm only after its SaveData;
//   deleted     by Delete: gone from the farm; the object takes nothing more.
// SaveData writes the changes made since the load into the store in one transaction, keeping
// what others saved meanwhile, and the object stays loaded with the application as saved.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "SkyloomCOM_notimpl.h"
#include "com_class.h"
#include "farm_connection.h"
#include "qvcomsrv/store/model.h"
#include "qvcomsrv/store/settings.h"
#include "results.h"
#include "setting_properties.h"

namespace qvcomsrv {

class ApplicationObject final : public ComClass<ISkyloomApplication5NotImpl, ISkyloomWinApp5NotImpl,
                                                ISkyloomContent4NotImpl> {
public:
    ApplicationObject() = default;

    // An application as a collection read it: loaded, its icon left in the store.
    static sky::ComPtr<ApplicationObject> loaded(Farm farm, sky::farm::Application app);
    // A new application of kind `type` (already checked) that is not in the farm yet.
    static sky::ComPtr<ApplicationObject> created(Farm farm, std::int32_t type);
    // Initialize on a known connection, then LoadData: the farm's GetApplication.
    HRESULT open(Farm farm, SkyloomObjectType type, BSTR dn);

    // ISkyloomApplication
    HRESULT STDMETHODCALLTYPE Initialize(SkyloomObjectType AppType, BSTR AppDN) override;
    HRESULT STDMETHODCALLTYPE LoadData(LONG ForceLoad) override;
    HRESULT STDMETHODCALLTYPE SaveData() override;
    HRESULT STDMETHODCALLTYPE Delete() override;
    HRESULT STDMETHODCALLTYPE AddServer(ISkyloomAppSrvBinding* pBinding) override;
    HRESULT STDMETHODCALLTYPE RemoveServer(BSTR ServerName) override;
    HRESULT STDMETHODCALLTYPE get_AppName(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_AppType(SkyloomObjectType* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Description(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_DistinguishedName(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Servers(ISkyloomServers** ppServers) override;
    HRESULT STDMETHODCALLTYPE get_Users(ISkyloomUsers** ppUsers) override;
    HRESULT STDMETHODCALLTYPE get_Groups(ISkyloomGroups** ppGroups) override;
    // Every version of WinAppObject, ContentObject, ParentFolder and GetServerBinding, at the
    // interface `riid`.
    HRESULT get_WinAppObjectAs(REFIID riid, void** out) override;
    HRESULT get_ContentObjectAs(REFIID riid, void** out) override;
    HRESULT get_ParentFolderAs(REFIID riid, void** out) override;
    HRESULT STDMETHODCALLTYPE AddUser(ISkyloomUser* pUser) override;
    HRESULT STDMETHODCALLTYPE RemoveUser(ISkyloomUser* pUser) override;
    HRESULT STDMETHODCALLTYPE AddGroup(ISkyloomGroup* pGroup) override;
    HRESULT STDMETHODCALLTYPE RemoveGroup(ISkyloomGroup* pGroup) override;
    HRESULT STDMETHODCALLTYPE Rename(BSTR NewName) override;
    HRESULT STDMETHODCALLTYPE MoveTo(BSTR FolderDN) override;
    HRESULT STDMETHODCALLTYPE ServerInList(BSTR ServerName, VARIANT_BOOL* pVal) override;
    HRESULT GetServerBindingAs(BSTR ServerName, REFIID riid, void** out) override;
    HRESULT STDMETHODCALLTYPE RemoveAllServers() override;
    HRESULT STDMETHODCALLTYPE RemoveAllAccounts() override;
    // ISkyloomApplication2
    HRESULT STDMETHODCALLTYPE get_IsPublishedContent(VARIANT_BOOL* pVal) override;
    // ISkyloomApplication3
    HRESULT STDMETHODCALLTYPE AddAccount(QVAccountAuthorityType AAType, BSTR AAName,
                                         SkyloomAccountType AccountType, BSTR AccountName) override;
    HRESULT STDMETHODCALLTYPE RemoveAccount(QVAccountAuthorityType AAType, BSTR AAName,
                                            SkyloomAccountType AccountType,
                                            BSTR AccountName) override;
    HRESULT STDMETHODCALLTYPE AccountInList(QVAccountAuthorityType AAType, BSTR AAName,
                                            SkyloomAccountType AccountType, BSTR AccountName,
                                            VARIANT_BOOL* pVal) override;
    HRESULT STDMETHODCALLTYPE get_UserCount(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE get_GroupCount(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE get_ServerCount(LONG* pVal) override;
    // ISkyloomApplication4
    HRESULT STDMETHODCALLTYPE get_IsPublished(VARIANT_BOOL* pVal) override;

    // ISkyloomWinApp (LoadData, SaveData, AddServer, RemoveServer, AddUser, AddGroup,
    // RemoveUser and RemoveGroup are the application's own, above)
    HRESULT STDMETHODCALLTYPE put_AppName(BSTR newVal) override;
    HRESULT STDMETHODCALLTYPE put_Description(BSTR newVal) override;
    HRESULT STDMETHODCALLTYPE get_ParentFolderDN(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE put_ParentFolderDN(BSTR newVal) override;
    // ISkyloomWinApp to ISkyloomWinApp4: the Windows application settings
    SKY_APP_SETTINGS(QV_SETTING_DECLARATION)
    HRESULT STDMETHODCALLTYPE ReadIconFromFile(BSTR FileName, LONG index) override;
    HRESULT STDMETHODCALLTYPE WriteIconToFile(BSTR FileName) override;
    HRESULT STDMETHODCALLTYPE RemoveAllUsers() override;
    HRESULT STDMETHODCALLTYPE RemoveAllGroups() override;
    HRESULT STDMETHODCALLTYPE get_HasIcon(VARIANT_BOOL* pVal) override;
    HRESULT STDMETHODCALLTYPE ResetIcon() override;
    // ISkyloomWinApp2
    HRESULT STDMETHODCALLTYPE AddUser2(ISkyloomUser2* pUser) override;
    HRESULT STDMETHODCALLTYPE AddGroup2(ISkyloomGroup2* pGroup) override;
    HRESULT STDMETHODCALLTYPE RemoveUser2(ISkyloomUser2* pUser) override;
    HRESULT STDMETHODCALLTYPE RemoveGroup2(ISkyloomGroup2* pGroup) override;

private:
    enum class State { Created, Bound, Loaded, New, Deleted };

    // Connects (unless the object already works on a farm) and binds the object to `dn`.
    HRESULT bind(Farm farm, SkyloomObjectType type, BSTR dn);
    // Makes sure the application's data is in the object: loads a bound application, refuses
    // an object that is not initialized or was deleted.
    HRESULT ready() override;
    HRESULT load();
    // The distinguished name the application has in the store.
    std::string storedName() const;

    // Runs `read(app_)` on a ready object.
    template <typename Read> HRESULT read(Read&& read);
    // Runs `change(app_)` on a ready object, holding the application as stored apart first.
    template <typename Change> HRESULT change(Change&& change);
    // The application as loaded or last saved (Loaded).
    const sky::farm::Application& stored() const { return storedApart_ ? *storedApart_ : app_; }

    HRESULT getProperty(sky::farm::AppSetting setting, LONG* out);
    HRESULT getProperty(sky::farm::AppSetting setting, BSTR* out);
    template <typename Enumeration>
    HRESULT getProperty(sky::farm::AppSetting setting, Enumeration* out);
    HRESULT putProperty(sky::farm::AppSetting setting, LONG value);
    HRESULT putProperty(sky::farm::AppSetting setting, BSTR value);
    template <typename Enumeration>
    HRESULT putProperty(sky::farm::AppSetting setting, Enumeration value);
    HRESULT changeSetting(sky::farm::AppSetting setting, sky::farm::SettingValue value);

    // Reads the application's own icon from the store when the object does not hold it yet.
    HRESULT haveIcon();

    HRESULT grant(IUnknown* account, bool group);
    HRESULT revoke(IUnknown* account, bool group);

    FarmConnection* accessFarm() override { return farm_.get(); }
    Farm farm_;
    State state_ = State::Created;
    std::string boundName_;      // the name given to Initialize, or the one deleted
    sky::farm::Application app_; // with the object's changes (Loaded, New)
    // The application as loaded or last saved, once the object was asked to change it; until then
    // it is app_ itself. A collection's objects, which are mostly only read, hold one copy each
    // (an application's settings are held in place: about a kilobyte before any text).
    std::unique_ptr<sky::farm::Application> storedApart_;
};

template <typename Read> HRESULT ApplicationObject::read(Read&& read) {
    return whenReady([&] { return read(std::as_const(app_)); });
}

template <typename Change> HRESULT ApplicationObject::change(Change&& change) {
    return whenReady([&] {
        if (state_ == State::Loaded && !storedApart_)
            storedApart_ = std::make_unique<sky::farm::Application>(app_);
        return change(app_);
    });
}

// Ok for the kinds an application can be (Windows application, content, desktop); otherwise
// E_INVALIDARG with a description.
HRESULT checkApplicationKind(SkyloomObjectType type);

} // namespace qvcomsrv

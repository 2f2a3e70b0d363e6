// SkyloomUser, SkyloomGroup and SkyloomCredential. A user or group object names one account
// (account type, authority type, authority name, name); Initialize2 binds it, and an
// application's AddUser2 / AddGroup2 grants it. The credential is what the caller would log on
// to an account authority with; accounts are kept as given, so no logon happens and any
// credential object, filled in or not, serves every grant.
#pragma once

#include "SkyloomCOM_notimpl.h"
#include "com_class.h"
#include "farm_connection.h"
#include "qvcomsrv/store/model.h"

namespace qvcomsrv {

// What users and groups share: `NotImplemented` is ISkyloomUser5NotImpl or ISkyloomGroup5NotImpl.
template <class NotImplemented> class AccountObject : public ComClass<NotImplemented> {
public:
    HRESULT STDMETHODCALLTYPE get_AAName(BSTR* pVal) override {
        return this->whenReady([&] { return returnText(pVal, account_.authorityName); });
    }
    HRESULT STDMETHODCALLTYPE get_AAType(QVAccountAuthorityType* pVal) override {
        return this->whenReady([&] { return returnEnum(pVal, account_.authorityType); });
    }
    HRESULT STDMETHODCALLTYPE get_AccountType(SkyloomAccountType* pVal) override {
        return this->whenReady([&] { return returnEnum(pVal, account_.accountType); });
    }
    // Initialize names a domain account when an authority name is given, else a local one.
    HRESULT STDMETHODCALLTYPE Initialize(QVAccountAuthorityType AAType, BSTR AAName,
                                         BSTR AcctName) override {
        return bind(AAType, AAName, impliedType(SysStringLen(AAName) > 0), AcctName);
    }
    HRESULT STDMETHODCALLTYPE Initialize2(QVAccountAuthorityType AAType, BSTR AAName,
                                          SkyloomAccountType type, BSTR name,
                                          ISkyloomCredential*) override {
        return bind(AAType, AAName, type, name);
    }
    HRESULT STDMETHODCALLTYPE get_QualifiedName(BSTR* pVal) override {
        return this->whenReady([&] { return returnText(pVal, account_.displayName()); });
    }

protected:
    HRESULT ready() override;
    HRESULT bind(std::int32_t authorityType, BSTR authorityName, std::int32_t accountType,
                 BSTR name);
    // The account type Initialize gives a user or group named with or without an authority.
    virtual std::int32_t impliedType(bool domain) const = 0;

    // The members of an account read from a farm (an application's users and groups) are for
    // that farm's administrators; those of one created on its own for the machine's farm's.
    FarmConnection* accessFarm() override { return farm_.get(); }

    bool initialized_ = false;
    sky::farm::Account account_;
    Farm farm_;
};

class UserObject final : public AccountObject<ISkyloomUser5NotImpl> {
public:
    UserObject() = default;
    // The account `account` of an application read from `farm`.
    static sky::ComPtr<UserObject> of(Farm farm, sky::farm::Account account);

    HRESULT STDMETHODCALLTYPE get_UserName(BSTR* pVal) override {
        return whenReady([&] { return returnText(pVal, account_.name); });
    }

protected:
    std::int32_t impliedType(bool domain) const override {
        return domain ? QVAccountDomainUser : QVAccountLocalUser;
    }
};

class GroupObject final : public AccountObject<ISkyloomGroup5NotImpl> {
public:
    GroupObject() = default;
    // The account `account` of an application read from `farm`.
    static sky::ComPtr<GroupObject> of(Farm farm, sky::farm::Account account);

    HRESULT STDMETHODCALLTYPE get_GroupName(BSTR* pVal) override {
        return whenReady([&] { return returnText(pVal, account_.name); });
    }

protected:
    std::int32_t impliedType(bool domain) const override {
        return domain ? QVAccountGlobalGroup : QVAccountLocalGroup;
    }
};

class CredentialObject final : public ComClass<ISkyloomCredentialNotImpl> {
public:
    CredentialObject() = default;

    HRESULT STDMETHODCALLTYPE get_UserName(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE put_UserName(BSTR newVal) override;
    HRESULT STDMETHODCALLTYPE put_Password(BSTR newVal) override;
    HRESULT STDMETHODCALLTYPE get_Domain(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE put_Domain(BSTR newVal) override;
    HRESULT STDMETHODCALLTYPE get_AuthorityType(QVAccountAuthorityType* pVal) override;
    HRESULT STDMETHODCALLTYPE put_AuthorityType(QVAccountAuthorityType newVal) override;
    HRESULT STDMETHODCALLTYPE Clear() override;
    HRESULT STDMETHODCALLTYPE get_IsEmpty(VARIANT_BOOL* pVal) override;

private:
    std::string userName_;
    std::string password_;
    std::string domain_;
    std::int32_t authorityType_ = 0;
};

// The account a user or group object names, read through its interface (so any implementation
// will do). Fails with the object's own error when it is not initialized.
HRESULT accountOf(ISkyloomUser* user, sky::farm::Account& account);
HRESULT accountOf(ISkyloomGroup* group, sky::farm::Account& account);

} // namespace qvcomsrv

#include "account_objects.h"

#include "results.h"
#include "sky/bstr.h"

namespace qvcomsrv {

using sky::farm::Account;

// ---- users and groups ----

template <class NotImplemented> HRESULT AccountObject<NotImplemented>::ready() {
    if (initialized_)
        return S_OK;
    return withErrorInfo(E_UNEXPECTED, "The object names no account yet; call Initialize2 with the "
                                       "account first.");
}

template <class NotImplemented>
HRESULT AccountObject<NotImplemented>::bind(std::int32_t authorityType, BSTR authorityName,
                                            std::int32_t accountType, BSTR name) {
    return catchExceptions([&] {
        Account candidate{accountType, authorityType, textOf(authorityName), textOf(name)};
        if (sky::farm::Status s = sky::farm::checkAccount(candidate); !s)
            return withErrorInfo(s);
        account_ = std::move(candidate);
        initialized_ = true;
        return S_OK;
    });
}

template class AccountObject<ISkyloomUser5NotImpl>;
template class AccountObject<ISkyloomGroup5NotImpl>;

sky::ComPtr<UserObject> UserObject::of(Farm farm, Account account) {
    auto user = create<UserObject>();
    user->farm_ = std::move(farm);
    user->account_ = std::move(account);
    user->initialized_ = true;
    return user;
}

sky::ComPtr<GroupObject> GroupObject::of(Farm farm, Account account) {
    auto group = create<GroupObject>();
    group->farm_ = std::move(farm);
    group->account_ = std::move(account);
    group->initialized_ = true;
    return group;
}

namespace {

template <class Item>
HRESULT readAccount(Item* item, Account& account, HRESULT (STDMETHODCALLTYPE Item::*name)(BSTR*)) {
    if (!item)
        return withErrorInfo(E_INVALIDARG, "No account object was passed.");
    sky::Bstr authorityName, accountName;
    SkyloomAccountType type{};
    QVAccountAuthorityType authorityType{};
    HRESULT hr = item->get_AccountType(&type);
    if (SUCCEEDED(hr))
        hr = item->get_AAType(&authorityType);
    if (SUCCEEDED(hr))
        hr = item->get_AAName(authorityName.put());
    if (SUCCEEDED(hr))
        hr = (item->*name)(accountName.put());
    if (FAILED(hr))
        return hr;
    account = Account{static_cast<std::int32_t>(type), static_cast<std::int32_t>(authorityType),
                      authorityName.utf8(), accountName.utf8()};
    return S_OK;
}

} // namespace

HRESULT accountOf(ISkyloomUser* user, Account& account) {
    return readAccount(user, account, &ISkyloomUser::get_UserName);
}

HRESULT accountOf(ISkyloomGroup* group, Account& account) {
    return readAccount(group, account, &ISkyloomGroup::get_GroupName);
}

// ---- SkyloomCredential ----

HRESULT CredentialObject::get_UserName(BSTR* pVal) {
    return returnText(pVal, userName_);
}

HRESULT CredentialObject::put_UserName(BSTR newVal) {
    return catchExceptions([&] {
        userName_ = textOf(newVal);
        return S_OK;
    });
}

HRESULT CredentialObject::put_Password(BSTR newVal) {
    return catchExceptions([&] {
        password_ = textOf(newVal);
        return S_OK;
    });
}

HRESULT CredentialObject::get_Domain(BSTR* pVal) {
    return returnText(pVal, domain_);
}

HRESULT CredentialObject::put_Domain(BSTR newVal) {
    return catchExceptions([&] {
        domain_ = textOf(newVal);
        return S_OK;
    });
}

HRESULT CredentialObject::get_AuthorityType(QVAccountAuthorityType* pVal) {
    return returnEnum(pVal, authorityType_);
}

HRESULT CredentialObject::put_AuthorityType(QVAccountAuthorityType newVal) {
    if (!sky::farm::isMember(sky::farm::kAuthorityType, newVal))
        return withErrorInfo(
            E_INVALIDARG,
            "The account authority type " + std::to_string(newVal) +
                " is not valid: " + sky::farm::describeRange(sky::farm::kAuthorityType) + ".");
    authorityType_ = newVal;
    return S_OK;
}

HRESULT CredentialObject::Clear() {
    userName_.clear();
    password_.clear();
    domain_.clear();
    authorityType_ = 0;
    return S_OK;
}

HRESULT CredentialObject::get_IsEmpty(VARIANT_BOOL* pVal) {
    return returnBool(pVal, userName_.empty() && password_.empty() && domain_.empty());
}

} // namespace qvcomsrv

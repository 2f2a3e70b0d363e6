#include "folder_object.h"

#include <algorithm>

#include "application_object.h"
#include "collection.h"
#include "qvcomsrv/store/names.h"
#include "results.h"
#include "sky/bstr.h"

namespace qvcomsrv {

using sky::farm::FarmStore;
using sky::farm::kRootFolder;

namespace {

// The part of `dn` after its last "/" (the root's own name for the root).
std::string lastSegment(const std::string& dn) {
    const std::size_t slash = dn.rfind('/');
    return slash == std::string::npos ? dn : dn.substr(slash + 1);
}

std::string parentOf(const std::string& dn) {
    const std::size_t slash = dn.rfind('/');
    return slash == std::string::npos ? std::string() : dn.substr(0, slash);
}

bool isRoot(const std::string& dn) {
    return dn.find('/') == std::string::npos;
}

} // namespace

sky::ComPtr<FolderObject> FolderObject::at(Farm farm, std::string dn) {
    auto object = create<FolderObject>();
    object->farm_ = std::move(farm);
    object->dn_ = std::move(dn);
    return object;
}

HRESULT FolderObject::bind(Farm farm, const std::string& dn) {
    auto segments = sky::farm::splitDistinguishedName(dn);
    if (!segments)
        return withErrorInfo(segments.status());
    if (!farm)
        farm = farm_;
    if (!farm) {
        auto connected = connectToMachineFarm();
        if (!connected)
            return withErrorInfo(connected.status(), "The farm cannot be opened");
        farm = *connected;
    }
    std::string spelled(kRootFolder);
    if (!segments->empty()) {
        // The folder as the farm spells it.
        auto folders = farm->use([](FarmStore& store) { return store.folders(); });
        if (!folders)
            return withErrorInfo(folders.status());
        auto it = std::find_if(folders->begin(), folders->end(),
                               [&](const std::string& f) { return sky::farm::sameName(f, dn); });
        if (it == folders->end())
            return withErrorInfo(kNotFound,
                                 "There is no application folder " + dn + " in the farm.");
        spelled = *it;
    }
    farm_ = std::move(farm);
    dn_ = std::move(spelled);
    return S_OK;
}

HRESULT FolderObject::open(Farm farm, BSTR dn) {
    return catchExceptions([&] { return bind(std::move(farm), textOf(dn)); });
}

HRESULT FolderObject::InitAppFolder(BSTR FolderDN) {
    return open(nullptr, FolderDN);
}

HRESULT FolderObject::Initialize(SkyloomObjectType FolderType, BSTR FolderDN) {
    if (FolderType != SkyloomAppFolderObject)
        return withErrorInfo(kNotSupported,
                             "This farm keeps application folders only; Initialize takes "
                             "SkyloomAppFolderObject (13).");
    return InitAppFolder(FolderDN);
}

HRESULT FolderObject::InitRootFolder(SkyloomObjectType FolderType) {
    if (FolderType != SkyloomAppFolderObject)
        return withErrorInfo(kNotSupported,
                             "This farm keeps application folders only; InitRootFolder "
                             "takes SkyloomAppFolderObject (13).");
    return catchExceptions([&] { return bind(nullptr, std::string(kRootFolder)); });
}

HRESULT FolderObject::ready() {
    if (!dn_.empty())
        return S_OK;
    return withErrorInfo(E_UNEXPECTED,
                         "The folder object names no folder yet; call InitAppFolder with "
                         "the folder's distinguished name first.");
}

HRESULT FolderObject::get_FolderName(BSTR* pVal) {
    return whenReady([&] { return returnText(pVal, lastSegment(dn_)); });
}

HRESULT FolderObject::get_DistinguishedName(BSTR* pVal) {
    return whenReady([&] { return returnText(pVal, dn_); });
}

HRESULT FolderObject::get_FolderType(SkyloomObjectType* pVal) {
    return whenReady([&] { return returnEnum(pVal, SkyloomAppFolderObject); });
}

HRESULT FolderObject::get_IsRoot(VARIANT_BOOL* pVal) {
    return whenReady([&] { return returnBool(pVal, isRoot(dn_)); });
}

HRESULT FolderObject::get_Depth(LONG* pVal) {
    return whenReady([&] {
        return returnLong(pVal, static_cast<LONG>(std::count(dn_.begin(), dn_.end(), '/')));
    });
}

HRESULT FolderObject::get_RelativePath(BSTR* pVal) {
    return whenReady([&] {
        return returnText(pVal, isRoot(dn_) ? std::string() : dn_.substr(dn_.find('/') + 1));
    });
}

HRESULT FolderObject::get_RootName(BSTR* pVal) {
    return whenReady([&] { return returnText(pVal, kRootFolder); });
}

HRESULT FolderObject::Exists(VARIANT_BOOL* pVal) {
    return whenReady([&] {
        auto exists = farm_->use([&](FarmStore& store) { return store.folderExists(dn_); });
        if (!exists)
            return withErrorInfo(exists.status());
        return returnBool(pVal, *exists);
    });
}

HRESULT FolderObject::get_SubFolderCount(LONG* pVal) {
    return whenReady([&] {
        auto folders = farm_->use([](FarmStore& store) { return store.folders(); });
        if (!folders)
            return withErrorInfo(folders.status());
        const auto count = std::count_if(folders->begin(), folders->end(), [&](const auto& f) {
            return sky::farm::sameName(parentOf(f), dn_);
        });
        return returnLong(pVal, static_cast<LONG>(count));
    });
}

HRESULT FolderObject::createSubFolder(BSTR name, REFIID riid, void** out) {
    return whenReady([&] {
        const std::string folder = textOf(name);
        auto created =
            farm_->use([&](FarmStore& store) { return store.createSubFolder(dn_, folder); });
        if (!created)
            return withErrorInfo(created.status());
        if (!out)
            return S_OK;
        return at(farm_, *created)->query(riid, out);
    });
}

HRESULT FolderObject::CreateSubFolder(BSTR FolderName) {
    return createSubFolder(FolderName, IID_ISkyloomFolder, nullptr);
}

HRESULT FolderObject::CreateSubFolderAs(BSTR FolderName, REFIID riid, void** out) {
    if (!out)
        return nullOut();
    return createSubFolder(FolderName, riid, out);
}

HRESULT FolderObject::GetSubFolder5(BSTR FolderName, ISkyloomFolder5** ppFolder5) {
    if (!ppFolder5)
        return nullOut();
    return whenReady([&] {
        auto child = create<FolderObject>();
        const std::string name = textOf(FolderName);
        if (sky::farm::Status s = sky::farm::checkSegmentName("folder", name); !s)
            return withErrorInfo(s);
        if (HRESULT hr = child->bind(farm_, sky::farm::joinDistinguishedName(dn_, name));
            FAILED(hr))
            return hr;
        return returnObject(ppFolder5, child->self<ISkyloomFolder5>());
    });
}

HRESULT FolderObject::get_ParentFolderAs(REFIID riid, void** out) {
    if (!out)
        return nullOut();
    return whenReady([&] {
        if (isRoot(dn_))
            return withErrorInfo(kNotFound, dn_ + " is the root folder; it has no parent.");
        return at(farm_, parentOf(dn_))->query(riid, out);
    });
}

// ---- the applications in the folder ----

namespace {

std::vector<sky::farm::Application> inFolder(std::vector<sky::farm::Application> apps,
                                             const std::string& dn) {
    std::erase_if(apps, [&](const sky::farm::Application& app) {
        return !sky::farm::sameName(app.folder, dn);
    });
    return apps;
}

} // namespace

HRESULT FolderObject::get_Applications(ISkyloomApplications** ppApplications) {
    if (!ppApplications)
        return nullOut();
    return whenReady([&] {
        auto apps = farm_->use(
            [](FarmStore& store) { return store.applications(sky::farm::IconLoading::Skip); });
        if (!apps)
            return withErrorInfo(apps.status());
        return returnCollection<ApplicationCollection>(
            ppApplications, farm_, inFolder(std::move(*apps), dn_),
            [&](sky::farm::Application& app) {
                return ApplicationObject::loaded(farm_, std::move(app));
            });
    });
}

HRESULT FolderObject::get_ApplicationCount(LONG* pVal) {
    return whenReady([&] {
        auto apps = farm_->use(
            [](FarmStore& store) { return store.applications(sky::farm::IconLoading::Skip); });
        if (!apps)
            return withErrorInfo(apps.status());
        return returnLong(pVal, static_cast<LONG>(inFolder(std::move(*apps), dn_).size()));
    });
}

HRESULT FolderObject::ContainsApplication(BSTR AppName, VARIANT_BOOL* pVal) {
    return whenReady([&] {
        const std::string dn = sky::farm::joinDistinguishedName(dn_, textOf(AppName));
        auto app = farm_->use([&](FarmStore& store) { return store.application(dn); });
        if (!app && app.status().code() != sky::farm::Status::Code::NotFound)
            return withErrorInfo(app.status());
        return returnBool(pVal, app.isOk());
    });
}

HRESULT FolderObject::FindApplication5(BSTR AppName, ISkyloomApplication5** ppApplication5) {
    if (!ppApplication5)
        return nullOut();
    return whenReady([&] {
        auto app = create<ApplicationObject>();
        sky::Bstr dn = sky::Bstr::fromUtf8(sky::farm::joinDistinguishedName(dn_, textOf(AppName)));
        if (HRESULT hr = app->open(farm_, SkyloomWinAppObject, dn.get()); FAILED(hr))
            return hr;
        return returnObject(ppApplication5, app->self<ISkyloomApplication5>());
    });
}

} // namespace qvcomsrv

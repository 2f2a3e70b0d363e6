#include "folder_object.h"

#include <algorithm>

#include "application_object.h"
#include "collection.h"
#include "names.h"
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

void* FolderObject::face(REFIID riid) {
    if (answersFor<ISkyloomFolder5, ISkyloomFolder4, ISkyloomFolder3, ISkyloomFolder2,
                   ISkyloomFolder>(riid))
        return static_cast<ISkyloomFolder5*>(this);
    if (answersFor<ISkyloomAppFolder5, ISkyloomAppFolder4, ISkyloomAppFolder3, ISkyloomAppFolder2,
                   ISkyloomAppFolder>(riid))
        return static_cast<ISkyloomAppFolder5*>(this);
    if (answersFor<ISkyloomSrvFolder4, ISkyloomSrvFolder3, ISkyloomSrvFolder2, ISkyloomSrvFolder>(
            riid))
        return static_cast<ISkyloomSrvFolder4*>(this);
    if (answersFor<ISkyloomAccountFolder4, ISkyloomAccountFolder3, ISkyloomAccountFolder2,
                   ISkyloomAccountFolder>(riid))
        return static_cast<ISkyloomAccountFolder4*>(this);
    if (answersFor<ISkyloomAIEFolder>(riid))
        return static_cast<ISkyloomAIEFolder*>(this);
    return nullptr;
}

HRESULT FolderObject::bind(Farm farm, const std::string& dn) {
    auto segments = sky::farm::splitDistinguishedName(dn);
    if (!segments)
        return fail(segments.status());
    if (!farm)
        farm = farm_;
    if (!farm) {
        auto connected = connectToMachineFarm();
        if (!connected)
            return fail(connected.status(), "The farm cannot be opened");
        farm = *connected;
    }
    std::string spelled(kRootFolder);
    if (!segments->empty()) {
        // The folder as the farm spells it.
        auto folders = farm->use([](FarmStore& store) { return store.folders(); });
        if (!folders)
            return fail(folders.status());
        auto it = std::find_if(folders->begin(), folders->end(),
                               [&](const std::string& f) { return sky::farm::sameName(f, dn); });
        if (it == folders->end())
            return fail(kNotFound, "There is no application folder " + dn + " in the farm.");
        spelled = *it;
    }
    farm_ = std::move(farm);
    dn_ = std::move(spelled);
    return S_OK;
}

HRESULT FolderObject::open(Farm farm, BSTR dn) {
    return guarded([&] { return bind(std::move(farm), textOf(dn)); });
}

HRESULT FolderObject::InitAppFolder(BSTR FolderDN) {
    return open(nullptr, FolderDN);
}

HRESULT FolderObject::Initialize(SkyloomObjectType FolderType, BSTR FolderDN) {
    if (FolderType != SkyloomAppFolderObject)
        return fail(kNotSupported, "This farm keeps application folders only; Initialize takes "
                                   "SkyloomAppFolderObject (13).");
    return InitAppFolder(FolderDN);
}

HRESULT FolderObject::InitRootFolder(SkyloomObjectType FolderType) {
    if (FolderType != SkyloomAppFolderObject)
        return fail(kNotSupported, "This farm keeps application folders only; InitRootFolder "
                                   "takes SkyloomAppFolderObject (13).");
    return guarded([&] { return bind(nullptr, std::string(kRootFolder)); });
}

HRESULT FolderObject::ready() {
    if (!dn_.empty())
        return S_OK;
    return fail(E_UNEXPECTED, "The folder object names no folder yet; call InitAppFolder with "
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
            return fail(exists.status());
        return returnBool(pVal, *exists);
    });
}

HRESULT FolderObject::get_SubFolderCount(LONG* pVal) {
    return whenReady([&] {
        auto folders = farm_->use([](FarmStore& store) { return store.folders(); });
        if (!folders)
            return fail(folders.status());
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
            return fail(created.status());
        if (!out)
            return S_OK;
        return at(farm_, *created)->QueryInterface(riid, out);
    });
}

HRESULT FolderObject::CreateSubFolder(BSTR FolderName) {
    return createSubFolder(FolderName, IID_ISkyloomFolder, nullptr);
}

HRESULT FolderObject::CreateSubFolder4(BSTR FolderName, ISkyloomFolder4** ppFolder4) {
    if (!ppFolder4)
        return nullOut();
    return createSubFolder(FolderName, IID_ISkyloomFolder4, reinterpret_cast<void**>(ppFolder4));
}

HRESULT FolderObject::CreateSubFolder5(BSTR FolderName, ISkyloomFolder5** ppFolder5) {
    if (!ppFolder5)
        return nullOut();
    return createSubFolder(FolderName, IID_ISkyloomFolder5, reinterpret_cast<void**>(ppFolder5));
}

HRESULT FolderObject::GetSubFolder5(BSTR FolderName, ISkyloomFolder5** ppFolder5) {
    if (!ppFolder5)
        return nullOut();
    return whenReady([&] {
        auto child = create<FolderObject>();
        const std::string name = textOf(FolderName);
        if (sky::farm::Status s = sky::farm::checkSegmentName("folder", name); !s)
            return fail(s);
        if (HRESULT hr = child->bind(farm_, sky::farm::joinDistinguishedName(dn_, name));
            FAILED(hr))
            return hr;
        return returnObject(ppFolder5, child->self<ISkyloomFolder5>());
    });
}

HRESULT FolderObject::parent(REFIID riid, void** out) {
    if (!out)
        return nullOut();
    return whenReady([&] {
        if (isRoot(dn_))
            return fail(kNotFound, dn_ + " is the root folder; it has no parent.");
        return at(farm_, parentOf(dn_))->QueryInterface(riid, out);
    });
}

HRESULT FolderObject::get_ParentFolder(ISkyloomFolder** ppFolder) {
    return parent(IID_ISkyloomFolder, reinterpret_cast<void**>(ppFolder));
}
HRESULT FolderObject::get_ParentFolder4(ISkyloomFolder4** ppFolder4) {
    return parent(IID_ISkyloomFolder4, reinterpret_cast<void**>(ppFolder4));
}
HRESULT FolderObject::get_ParentFolder5(ISkyloomFolder5** ppFolder5) {
    return parent(IID_ISkyloomFolder5, reinterpret_cast<void**>(ppFolder5));
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
            return fail(apps.status());
        return returnCollection<ApplicationCollection>(
            ppApplications, inFolder(std::move(*apps), dn_), [&](sky::farm::Application& app) {
                return ApplicationObject::loaded(farm_, std::move(app));
            });
    });
}

HRESULT FolderObject::get_ApplicationCount(LONG* pVal) {
    return whenReady([&] {
        auto apps = farm_->use(
            [](FarmStore& store) { return store.applications(sky::farm::IconLoading::Skip); });
        if (!apps)
            return fail(apps.status());
        return returnLong(pVal, static_cast<LONG>(inFolder(std::move(*apps), dn_).size()));
    });
}

HRESULT FolderObject::ContainsApplication(BSTR AppName, VARIANT_BOOL* pVal) {
    return whenReady([&] {
        const std::string dn = sky::farm::joinDistinguishedName(dn_, textOf(AppName));
        auto app = farm_->use([&](FarmStore& store) { return store.application(dn); });
        if (!app && app.status().code() != sky::farm::Status::Code::NotFound)
            return fail(app.status());
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

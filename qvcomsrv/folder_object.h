// SkyloomFolder: an application folder of the farm, named by its distinguished name
// ("Applications/Office"). The class answers for every folder family of the library (folder,
// application folder, server folder, account folder, isolation environment folder); this farm
// keeps application folders only, so the members of the other families answer E_NOTIMPL.
#pragma once

#include <string>

#include "SkyloomCOM_notimpl.h"
#include "com_class.h"
#include "farm_connection.h"

namespace qvcomsrv {

class FolderObject final
    : public ComClass<ISkyloomFolder5NotImpl, ISkyloomAppFolder5NotImpl, ISkyloomSrvFolder4NotImpl,
                      ISkyloomAccountFolder4NotImpl, ISkyloomAIEFolderNotImpl> {
public:
    FolderObject() = default;
    // InitAppFolder on a known connection: the farm's GetFolder.
    HRESULT open(Farm farm, BSTR dn);
    // A folder known to exist, by its distinguished name as the store spells it.
    static sky::ComPtr<FolderObject> at(Farm farm, std::string dn);

    // ISkyloomFolder
    HRESULT STDMETHODCALLTYPE Initialize(SkyloomObjectType FolderType, BSTR FolderDN) override;
    HRESULT STDMETHODCALLTYPE get_FolderName(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_DistinguishedName(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_FolderType(SkyloomObjectType* pVal) override;
    HRESULT STDMETHODCALLTYPE CreateSubFolder(BSTR FolderName) override;
    // Every version of ParentFolder and of CreateSubFolder that hands out the new folder, at
    // the interface `riid`.
    HRESULT get_ParentFolderAs(REFIID riid, void** out) override;
    HRESULT CreateSubFolderAs(BSTR FolderName, REFIID riid, void** out) override;
    // ISkyloomFolder2
    HRESULT STDMETHODCALLTYPE InitAppFolder(BSTR FolderDN) override;
    HRESULT STDMETHODCALLTYPE get_IsRoot(VARIANT_BOOL* pVal) override;
    // ISkyloomFolder3
    HRESULT STDMETHODCALLTYPE get_SubFolderCount(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE Exists(VARIANT_BOOL* pVal) override;
    HRESULT STDMETHODCALLTYPE InitRootFolder(SkyloomObjectType FolderType) override;
    // ISkyloomFolder4
    HRESULT STDMETHODCALLTYPE get_Depth(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE get_RelativePath(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_RootName(BSTR* pVal) override;
    // ISkyloomFolder5
    HRESULT STDMETHODCALLTYPE GetSubFolder5(BSTR FolderName, ISkyloomFolder5** ppFolder5) override;
    // ISkyloomAppFolder
    HRESULT STDMETHODCALLTYPE get_Applications(ISkyloomApplications** ppApplications) override;
    HRESULT STDMETHODCALLTYPE get_ApplicationCount(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE ContainsApplication(BSTR AppName, VARIANT_BOOL* pVal) override;
    // ISkyloomAppFolder5
    HRESULT STDMETHODCALLTYPE FindApplication5(BSTR AppName,
                                               ISkyloomApplication5** ppApplication5) override;

private:
    HRESULT bind(Farm farm, const std::string& dn);
    HRESULT ready() override;
    HRESULT createSubFolder(BSTR name, REFIID riid, void** out);

    FarmConnection* accessFarm() override { return farm_.get(); }
    Farm farm_;
    std::string dn_; // empty until the object is bound to a folder
};

} // namespace qvcomsrv

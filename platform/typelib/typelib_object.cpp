#include "typelib_object.h"

#include "documentation.h"

namespace sky::typelib {

TypeLibObject::TypeLibObject(Library lib) : lib_(std::move(lib)) {
    // Dispatch faces derive from IDispatch: make sure the library can name it.
    bool hasDual = false;
    for (const auto& t : lib_.types)
        hasDual = hasDual || (t.kind == TKIND_DISPATCH && (t.flags & TYPEFLAG_FDUAL));
    if (hasDual) {
        std::size_t found = lib_.importedTypes.size();
        for (std::size_t i = 0; i < lib_.importedTypes.size(); ++i)
            if (lib_.importedTypes[i].guid == IID_IDispatch &&
                lib_.imports[lib_.importedTypes[i].library].guid == kStdOleLibid)
                found = i;
        if (found == lib_.importedTypes.size()) {
            std::uint32_t stdole = static_cast<std::uint32_t>(lib_.imports.size());
            for (std::uint32_t i = 0; i < lib_.imports.size(); ++i)
                if (lib_.imports[i].guid == kStdOleLibid)
                    stdole = i;
            if (stdole == lib_.imports.size())
                lib_.imports.push_back({kStdOleLibid, 2, 0, 0, u"stdole2.tlb"});
            lib_.importedTypes.push_back({stdole, IID_IDispatch, u"IDispatch"});
        }
        dispatchRef_ = importedRef(found);
    }
    infos_.reserve(lib_.types.size());
    interfaceFaces_.resize(lib_.types.size());
    for (std::size_t i = 0; i < lib_.types.size(); ++i) {
        infos_.push_back(std::make_unique<TypeInfoObject>(*this, i, false));
        const TypeDescription& t = lib_.types[i];
        if (t.kind == TKIND_DISPATCH && (t.flags & TYPEFLAG_FDUAL))
            interfaceFaces_[i] = std::make_unique<TypeInfoObject>(*this, i, true);
    }
    for (auto& info : infos_)
        info->prepare();
    for (auto& info : interfaceFaces_)
        if (info)
            info->prepare();
}

TypeInfoObject* TypeLibObject::face(std::size_t index, bool interfaceFace) const {
    if (index >= infos_.size())
        return nullptr;
    return interfaceFace ? interfaceFaces_[index].get() : infos_[index].get();
}

HRESULT TypeLibObject::resolve(HREFTYPE href, ITypeInfo** out) {
    *out = nullptr;
    if (isImportedRef(href)) {
        std::size_t k = refIndex(href);
        if ((href & 3) != 0 || k >= lib_.importedTypes.size())
            return TYPE_E_ELEMENTNOTFOUND;
        const ImportedType& t = lib_.importedTypes[k];
        const ImportedLibrary& from = lib_.imports[t.library];
        if (from.guid != kStdOleLibid)
            return TYPE_E_CANTLOADLIBRARY;
        return standardLibrary().GetTypeInfoOfGuid(t.guid, out);
    }
    TypeInfoObject* info = face(refIndex(href), isInterfaceFaceRef(href));
    if (!info || (href & 3) > 1)
        return TYPE_E_ELEMENTNOTFOUND;
    info->AddRef();
    *out = info;
    return S_OK;
}

UINT TypeLibObject::GetTypeInfoCount() {
    return static_cast<UINT>(lib_.types.size());
}

HRESULT TypeLibObject::GetTypeInfo(UINT index, ITypeInfo** ppTInfo) {
    if (!ppTInfo)
        return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (index >= infos_.size())
        return TYPE_E_ELEMENTNOTFOUND;
    *ppTInfo = infos_[index].get();
    AddRef();
    return S_OK;
}

HRESULT TypeLibObject::GetTypeInfoType(UINT index, TYPEKIND* pTKind) {
    if (!pTKind)
        return E_INVALIDARG;
    if (index >= lib_.types.size())
        return TYPE_E_ELEMENTNOTFOUND;
    *pTKind = lib_.types[index].kind;
    return S_OK;
}

HRESULT TypeLibObject::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) {
    if (!ppTinfo)
        return E_INVALIDARG;
    *ppTinfo = nullptr;
    if (guid == GUID_NULL)
        return TYPE_E_ELEMENTNOTFOUND;
    for (std::size_t i = 0; i < lib_.types.size(); ++i) {
        if (lib_.types[i].guid == guid)
            return GetTypeInfo(static_cast<UINT>(i), ppTinfo);
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeLibObject::GetLibAttr(TLIBATTR** ppTLibAttr) {
    if (!ppTLibAttr)
        return E_INVALIDARG;
    auto* a = new TLIBATTR{};
    a->guid = lib_.guid;
    a->lcid = lib_.lcid;
    a->syskind = lib_.syskind;
    a->wMajorVerNum = lib_.major;
    a->wMinorVerNum = lib_.minor;
    a->wLibFlags = lib_.flags;
    *ppTLibAttr = a;
    return S_OK;
}

void TypeLibObject::ReleaseTLibAttr(TLIBATTR* pTLibAttr) {
    delete pTLibAttr;
}

HRESULT TypeLibObject::GetTypeComp(ITypeComp** ppTComp) {
    if (ppTComp)
        *ppTComp = nullptr;
    return E_NOTIMPL;
}

HRESULT TypeLibObject::GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                        DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
    const std::u16string *name, *doc;
    DWORD context;
    if (index == -1) {
        name = &lib_.name;
        doc = &lib_.doc;
        context = lib_.helpContext;
    } else if (index >= 0 && static_cast<std::size_t>(index) < lib_.types.size()) {
        const TypeDescription& t = lib_.types[static_cast<std::size_t>(index)];
        name = &t.name;
        doc = &t.doc;
        context = t.helpContext;
    } else {
        return TYPE_E_ELEMENTNOTFOUND;
    }
    return document(*name, *doc, context, lib_.helpFile, pBstrName, pBstrDocString, pdwHelpContext,
                    pBstrHelpFile);
}

HRESULT TypeLibObject::IsName(LPOLESTR szNameBuf, ULONG, BOOL* pfName) {
    if (!szNameBuf || !pfName)
        return E_INVALIDARG;
    *pfName = FALSE;
    // On a match the buffer receives the name as the library spells it.
    auto match = [&](const std::u16string& name) {
        if (!sameName(name, szNameBuf))
            return false;
        std::copy(name.begin(), name.end(), szNameBuf);
        *pfName = TRUE;
        return true;
    };
    for (const auto& t : lib_.types) {
        if (match(t.name))
            return S_OK;
        for (const auto& f : t.funcs) {
            if (match(f.name))
                return S_OK;
            for (const auto& p : f.params)
                if (match(p.name))
                    return S_OK;
        }
        for (const auto& v : t.vars)
            if (match(v.name))
                return S_OK;
    }
    return S_OK;
}

HRESULT TypeLibObject::FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                                USHORT* pcFound) {
    if (!szNameBuf || !ppTInfo || !rgMemId || !pcFound)
        return E_INVALIDARG;
    USHORT found = 0;
    for (std::size_t i = 0; i < lib_.types.size() && found < *pcFound; ++i) {
        const TypeDescription& t = lib_.types[i];
        MEMBERID id = MEMBERID_NIL;
        bool hit = sameName(t.name, szNameBuf);
        for (const auto& f : t.funcs)
            if (!hit && sameName(f.name, szNameBuf)) {
                hit = true;
                id = f.id;
            }
        for (const auto& v : t.vars)
            if (!hit && sameName(v.name, szNameBuf)) {
                hit = true;
                id = v.id;
            }
        if (hit) {
            ppTInfo[found] = infos_[i].get();
            AddRef();
            rgMemId[found] = id;
            ++found;
        }
    }
    *pcFound = found;
    return S_OK;
}

HRESULT createTypeLib(Library lib, ITypeLib** out) {
    if (!out)
        return E_INVALIDARG;
    *out = new TypeLibObject(std::move(lib));
    return S_OK;
}

HRESULT loadTypeLibFromMemory(const void* data, std::size_t size, ITypeLib** out) {
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    Library lib;
    HRESULT hr = deserialize(data, size, lib);
    if (FAILED(hr))
        return hr;
    return createTypeLib(std::move(lib), out);
}

} // namespace sky::typelib

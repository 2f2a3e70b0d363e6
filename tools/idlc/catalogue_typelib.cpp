// The catalogue of a loaded type library, read only through ITypeLib and ITypeInfo.
#include "analyzer.h"
#include "catalogue.h"
#include "sky/text.h"
#include "win/typelib.h"

namespace idlc {

namespace {

// Releases a COM pointer at the end of a scope.
template <class T> class Held {
public:
    ~Held() {
        if (p)
            p->Release();
    }
    T* p = nullptr;
};

HRESULT nameOf(ITypeInfo* info, std::string& out) {
    BSTR name = nullptr;
    HRESULT hr = info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    if (SUCCEEDED(hr))
        out = sky::narrow(name);
    SysFreeString(name);
    return hr;
}

bool isStandardBase(const GUID& guid) {
    return guid == IID_IDispatch || guid == IID_IUnknown;
}

// The vtable face of an interface description: itself, or the other face of a dual.
HRESULT vtableFace(ITypeInfo* info, const TYPEATTR& attr, ITypeInfo** out) {
    if (attr.typekind == TKIND_DISPATCH && (attr.wTypeFlags & TYPEFLAG_FDUAL)) {
        HREFTYPE href;
        HRESULT hr = info->GetRefTypeOfImplType(static_cast<UINT>(-1), &href);
        if (FAILED(hr))
            return hr;
        return info->GetRefTypeInfo(href, out);
    }
    info->AddRef();
    *out = info;
    return S_OK;
}

// The base of a vtable face, or nullptr for IDispatch / IUnknown.
HRESULT baseOf(ITypeInfo* face, ITypeInfo** out) {
    *out = nullptr;
    HREFTYPE href;
    if (FAILED(face->GetRefTypeOfImplType(0, &href)))
        return S_OK; // IUnknown itself
    Held<ITypeInfo> base;
    HRESULT hr = face->GetRefTypeInfo(href, &base.p);
    if (FAILED(hr))
        return hr;
    TYPEATTR* attr = nullptr;
    hr = base.p->GetTypeAttr(&attr);
    if (FAILED(hr))
        return hr;
    bool standard = isStandardBase(attr->guid);
    base.p->ReleaseTypeAttr(attr);
    if (!standard) {
        *out = base.p;
        base.p = nullptr;
    }
    return S_OK;
}

HRESULT interfaceLine(ITypeInfo* info, const TYPEATTR& attr, Catalogue& c) {
    Held<ITypeInfo> face;
    HRESULT hr = vtableFace(info, attr, &face.p);
    if (FAILED(hr))
        return hr;
    InterfaceLine line;
    line.iid = attr.guid;
    if (FAILED(hr = nameOf(face.p, line.name)))
        return hr;
    TYPEATTR* faceAttr = nullptr;
    if (FAILED(hr = face.p->GetTypeAttr(&faceAttr)))
        return hr;
    line.ownMembers = faceAttr->cFuncs;
    face.p->ReleaseTypeAttr(faceAttr);
    std::vector<std::string> names;
    for (int i = 0; i < line.ownMembers; ++i) {
        FUNCDESC* fd = nullptr;
        if (FAILED(hr = face.p->GetFuncDesc(static_cast<UINT>(i), &fd)))
            return hr;
        ++c.members;
        switch (fd->invkind) {
        case INVOKE_PROPERTYGET:
            ++c.propertyGetters;
            break;
        case INVOKE_PROPERTYPUT:
        case INVOKE_PROPERTYPUTREF:
            ++c.propertySetters;
            break;
        case INVOKE_FUNC:
            ++c.methods;
            break;
        }
        BSTR name = nullptr;
        UINT count = 0;
        hr = face.p->GetNames(fd->memid, &name, 1, &count);
        face.p->ReleaseFuncDesc(fd);
        if (FAILED(hr))
            return hr;
        names.push_back(count ? sky::narrow(name) : std::string());
        if (names.back() == "_NewEnum")
            ++c.newEnumMembers;
        SysFreeString(name);
    }
    c.resetSkipCollections += opensWithResetAndSkip(names) ? 1 : 0;
    // Depth: the number of interfaces from this one down to IDispatch.
    Held<ITypeInfo> at;
    at.p = face.p;
    at.p->AddRef();
    line.depth = 1;
    bool first = true;
    for (;;) {
        Held<ITypeInfo> base;
        if (FAILED(hr = baseOf(at.p, &base.p)))
            return hr;
        if (first) {
            std::string baseName;
            if (base.p && FAILED(hr = nameOf(base.p, baseName)))
                return hr;
            if (!base.p || familyStem(baseName) != familyStem(line.name))
                ++c.families;
            first = false;
        }
        if (!base.p)
            break;
        if (++line.depth > 0xFFFF)
            return TYPE_E_INVDATAREAD; // a cycle
        std::swap(at.p, base.p);
    }
    c.interfaceLines.push_back(std::move(line));
    return S_OK;
}

} // namespace

long catalogueOf(ITypeLib* lib, Catalogue& c) {
    c = Catalogue{};
    UINT count = lib->GetTypeInfoCount();
    c.typeDescriptions = static_cast<int>(count);
    for (UINT i = 0; i < count; ++i) {
        Held<ITypeInfo> info;
        HRESULT hr = lib->GetTypeInfo(i, &info.p);
        if (FAILED(hr))
            return hr;
        TYPEATTR* attr = nullptr;
        if (FAILED(hr = info.p->GetTypeAttr(&attr)))
            return hr;
        switch (attr->typekind) {
        case TKIND_COCLASS:
            ++c.coclasses;
            break;
        case TKIND_ENUM:
            ++c.enumerations;
            c.enumerationConstants += attr->cVars;
            break;
        case TKIND_ALIAS:
            ++c.aliases;
            break;
        case TKIND_INTERFACE:
        case TKIND_DISPATCH:
            ++c.interfaces;
            c.dualInterfaces += (attr->wTypeFlags & TYPEFLAG_FDUAL) ? 1 : 0;
            c.hiddenInterfaces += (attr->wTypeFlags & TYPEFLAG_FHIDDEN) ? 1 : 0;
            hr = interfaceLine(info.p, *attr, c);
            break;
        default:
            break;
        }
        info.p->ReleaseTypeAttr(attr);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

} // namespace idlc

// The object model's properties of the settings in setting_list.h: the declarations an object
// puts in its class and the definitions its settings file expands, one pair (or one get for a
// read-only setting) per line of the list. The object provides getProperty(Id, T*) and
// putProperty(Id, T) for the property types it serves (LONG, BSTR, enumerations).
#pragma once

#include "qvcomsrv/store/setting_list.h"

#define QV_SETTING_DECLARATION_ReadWrite(Name, Type)                                               \
    HRESULT STDMETHODCALLTYPE get_##Name(Type* pVal) override;                                     \
    HRESULT STDMETHODCALLTYPE put_##Name(Type newVal) override;
#define QV_SETTING_DECLARATION_ReadOnly(Name, Type)                                                \
    HRESULT STDMETHODCALLTYPE get_##Name(Type* pVal) override;
#define QV_SETTING_DECLARATION(Name, Kind, Type, Access, Default)                                  \
    QV_SETTING_DECLARATION_##Access(Name, Type)

#define QV_SETTING_DEFINITION_ReadWrite(Class, Id, Name, Type)                                     \
    HRESULT Class::get_##Name(Type* pVal) {                                                        \
        return getProperty(Id::Name, pVal);                                                        \
    }                                                                                              \
    HRESULT Class::put_##Name(Type newVal) {                                                       \
        return putProperty(Id::Name, newVal);                                                      \
    }
#define QV_SETTING_DEFINITION_ReadOnly(Class, Id, Name, Type)                                      \
    HRESULT Class::get_##Name(Type* pVal) {                                                        \
        return getProperty(Id::Name, pVal);                                                        \
    }

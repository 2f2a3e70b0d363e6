// The C++ outputs of the compiler: the declarations header and the dispatch tables source.
#pragma once

#include <string>
#include <vector>

#include "model.h"

namespace idlc {

// Interfaces as abstract structs in table order with the chain of each family
// (SKY_INTERFACE_PARENT), enumerations, IIDs, CLSIDs, the LIBID and the dispatch table
// declarations. `idlName` is named in the banner.
std::string writeHeader(const Library& lib, const std::string& idlName);

// The dispatch tables and invoke thunks of every interface, with the type library image built
// in for GetTypeInfo. `headerName` is the header it includes.
std::string writeDispatch(const Library& lib, const std::string& headerName,
                          const std::vector<unsigned char>& typelibImage);

// For every interface deriving from IDispatch, a class "<Interface>NotImpl" implementing all its
// members (its bases' included) with E_NOTIMPL and error information naming the member. The
// versions of a member that differ only in the version of the interface they hand out
// (GetApplication, GetApplication4, GetApplication5) forward to one virtual member with the
// interface's identifier (GetApplicationAs(..., REFIID, void**)).
std::string writeNotImplHeader(const Library& lib, const std::string& headerName);

// The proxies through which another process calls the library's interfaces, and the entries
// that register them with the platform (sky/remote.h) when the code is loaded.
std::string writeProxies(const Library& lib, const std::string& headerName);

// The C++ type of a parameter.
std::string cppType(const Library& lib, const TypeRef& t);

// The C++ name of a member's table slot: get_X, put_X, putref_X or X.
std::string slotName(const Member& m);

} // namespace idlc

// Type libraries: ITypeLib, ITypeInfo, loading and registration.
#pragma once

#include "win/types.h"

// The Win32 subset that the programs use, on POSIX. Every area has a header of its own under
// win/; this one brings them all in, as <windows.h> does on Windows.
#pragma once

#include "win/com.h"
#include "win/environment.h"
#include "win/errors.h"
#include "win/guid.h"
#include "win/lasterror.h"
#include "win/literals.h"
#include "win/module.h"
#include "win/oleauto.h"
#include "win/process.h"
#include "win/registry.h"
#include "win/service.h"
#include "win/strings.h"
#include "win/synch.h"
#include "win/sysinfo.h"
#include "win/typelib.h"
#include "win/types.h"
#include "win/winuser.h"

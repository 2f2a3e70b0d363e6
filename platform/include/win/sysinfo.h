// The machine profile: operating-system version, locale and ANSI code page.
#pragma once

#include "win/types.h"

// Wide-string functions and the printf/scanf formatting the programs use, for UTF-16 text.
#pragma once

#include "win/types.h"

// Modules and resources: loading, exports, string tables and binary resources.
#pragma once

#include "win/types.h"

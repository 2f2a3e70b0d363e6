// Registry: keys, values, the predefined roots and recursive deletion.
#pragma once

#include "win/types.h"

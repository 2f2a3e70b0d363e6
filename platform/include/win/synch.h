// Events, waits and handles.
#pragma once

#include "win/types.h"

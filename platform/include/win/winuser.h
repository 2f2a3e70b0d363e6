// Message boxes.
#pragma once

#include "win/types.h"

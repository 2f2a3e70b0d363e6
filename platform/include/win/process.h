// Starting programs.
#pragma once

#include "win/types.h"

// Process environment: variables, command line, system, temporary and current directories.
#pragma once

#include "win/types.h"

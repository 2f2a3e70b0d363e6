// Everything a client or an object implementation of the automation layer uses, in one include.
#pragma once

#include "sky/bstr.h"
#include "sky/com_error.h"
#include "sky/com_object.h"
#include "sky/com_ptr.h"
#include "sky/dispatch.h"
#include "sky/variant.h"

// What the platform library exports. The library is built with hidden visibility: only the
// declarations marked SKY_API (the Win32 and automation functions and the sky/ helpers meant for
// programs) are part of what programs and modules link against; the hive's classes, the module
// table and the other internals stay inside the library.
#pragma once

#define SKY_API __attribute__((visibility("default")))

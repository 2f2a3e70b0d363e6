// The string identifiers of qvcom's message module (qvcomUI.dll). The texts live there only.
#pragma once

#define IDS_DISPLAYNAME 100 // product display name: version-box caption, service name
#define IDS_DESCRIPTION 101 // description of the service
#define IDS_CLASS_FIRST 200 // 200 to 249: descriptions of the registered classes
#define IDS_CLASS_LAST 249
#define IDS_VERSION_UNKNOWN 300   // the system's version could not be read
#define IDS_VERSION_TOO_OLD 301   // older than major version 4
#define IDS_VERSION_BAD_BUILD 302 // major version 4, but not build 1381
#define IDS_VERSION_NO_SP6 303    // build 1381 without Service Pack 6 or later
#define IDS_HELP_CAPTION 350      // caption of the help box
#define IDS_HELP_TEXT 351         // text of the help box

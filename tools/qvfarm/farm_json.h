// A whole farm as JSON, the form in which qvfarm dumps and loads farms:
//
//   { "format": "skyloom-farm", "version": 1,
//     "farm": { "name": ..., "reportsSessionReliability": true, "settings": { NAME: value } },
//     "administrators": [ "alice" ],
//     "zones": [ { "name": "East", "dataCollector": "ALPHA" } ],
//     "servers": [ { "name": "ALPHA", "zone": "East", "osVersion": { "major": 5, "minor": 2 } } ],
//     "folders": [ "Applications/Office" ],
//     "applications": [ { "distinguishedName": "Applications/Office/Word", "type": 3,
//                         "description": ..., "settings": { NAME: value }, "servers": [ ... ],
//                         "users": [ { "accountType": 2, "authorityType": 1,
//                                      "authorityName": "CORP", "name": "alice" } ],
//                         "groups": [ ... ], "icon": BASE64 or null } ] }
//
// A dump lists everything; a file written by hand may leave out lists (empty), settings (their
// defaults), an application's type (3), description (empty) and icon (the default icon). Keys
// that the format does not know are refused, so a misspelt key is not silently lost.
#pragma once

#include <string>
#include <string_view>

#include "qvcomsrv/store/model.h"

namespace sky::qvfarm {

// The JSON text of a farm, indented, ending with a line break. Corrupt when the farm holds text
// that is not valid UTF-8 (a damaged store, or one another program wrote), saying where.
farm::Result<std::string> farmToJson(const farm::FarmImage& image);

// The farm of a JSON text. InvalidArgument saying where the text is wrong: "parse error at line
// 3, column 5: ..." or "/applications/2/settings/DefaultEncryption: The value 9 is not valid...".
// A key given twice in one object is refused, as is a number no double can hold.
farm::Result<farm::FarmImage> farmFromJson(std::string_view text);

} // namespace sky::qvfarm

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

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "qvcomsrv/store/model.h"

namespace sky::qvfarm {

// The JSON text of a farm, indented, ending with a line break. Corrupt when the farm holds text
// that is not valid UTF-8 (a damaged store, or one another program wrote), saying where.
farm::Result<std::string> farmToJson(const farm::FarmImage& image);
// The same text handed to `write` piece by piece as it is made (one application at a time), so
// that it need not be held whole. Corrupt as above before anything is written; IOError once
// `write` returns false, which stops the writing.
farm::Status writeFarmJson(const farm::FarmImage& image,
                           const std::function<bool(std::string_view)>& write);

// The farm of a JSON text. InvalidArgument saying where the text is wrong: "parse error at line
// 3, column 5: ..." or "/applications/2/settings/DefaultEncryption: The value 9 is not valid...".
// A key given twice in one object is refused, as is a number no double can hold.
farm::Result<farm::FarmImage> farmFromJson(std::string_view text);
// The same, read from `in` as it is parsed: the text is not held whole, and of its document only
// one application's part at a time (beside the farm made of it). Reading stops at the first
// mistake in the text; the caller sees whether `in` failed or ended early.
farm::Result<farm::FarmImage> farmFromJson(std::istream& in);

} // namespace sky::qvfarm

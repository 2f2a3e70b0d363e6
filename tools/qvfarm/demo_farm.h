// A demonstration farm that looks like a company's: two zones, nine servers of Windows 2000
// (5.0) and Windows Server 2003 (5.2), one of them running no application yet, about forty
// applications in nested folders, granted to users and groups of several account authorities,
// each with an icon of its own; a published desktop, a published document (not a Windows
// application) and a disabled application.
#pragma once

#include <cstddef>
#include <string>

#include "qvcomsrv/store/farm_store.h"
#include "qvcomsrv/store/model.h"

namespace sky::qvfarm {

farm::FarmImage demoFarm(const std::string& farmName, const std::string& administrator);

// A demonstration farm of any size, shaped like the demo: its farm settings and administrators,
// `servers` servers in the zones Headquarters (five in eight, HQ-SRV0001 on) and Branch
// (BR-SRV0001 on), and `applications` applications named after the demo's (Word 1, Excel 2,
// ...) in sets of folders below the demo's folders ("Applications/Office/Set 001"), each on up to
// three servers, granted to its folder's groups and to one of 5,000 users, with an icon of its
// own. The image holds all but the applications, which `applications` gives a batch at a time.
struct LargeDemoFarm {
    farm::FarmImage image;
    farm::ApplicationBatches applications;
};
LargeDemoFarm largeDemoFarm(const std::string& farmName, const std::string& administrator,
                            std::size_t applications, std::size_t servers);

} // namespace sky::qvfarm

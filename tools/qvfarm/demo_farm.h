// A demonstration farm that looks like a company's: two zones, nine servers of Windows 2000
// (5.0) and Windows Server 2003 (5.2), one of them running no application yet, about forty
// applications in nested folders, granted to users and groups of several account authorities,
// each with an icon of its own; a published desktop, a published document (not a Windows
// application) and a disabled application.
#pragma once

#include <string>

#include "qvcomsrv/store/model.h"

namespace sky::qvfarm {

farm::FarmImage demoFarm(const std::string& farmName, const std::string& administrator);

} // namespace sky::qvfarm

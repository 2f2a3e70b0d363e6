// Fuzz target: a server snapshot as BraskAdmin's "online" reads it, publishing what it names on a
// server of a served farm through the real object model. Whatever the file holds, the run ends
// (finished or with its error report) and the farm store reads back whole.
#include <cstdint>

#include "core/admin_state.h"
#include "definitions/definitions_fuzz_support.h"
#include "definitions/server_snapshot.h"

namespace {

using namespace brask;
using namespace brask::fuzzing;

// The farm with four applications published on SRV2.
sky::farm::FarmImage servedFarm() {
    sky::farm::FarmImage image = smallFarm("Snapshots");
    for (const char* dn : {"Notepad", "Calc", "Office/Word", "Office/Excel"}) {
        sky::farm::Application app;
        const std::string name = dn;
        const auto slash = name.rfind('/');
        app.folder =
            slash == std::string::npos ? "Applications" : "Applications/" + name.substr(0, slash);
        app.name = slash == std::string::npos ? name : name.substr(slash + 1);
        app.servers = {"SRV2"};
        image.applications.push_back(app);
    }
    return image;
}

FuzzMachine& machine() {
    static FuzzMachine instance(servedFarm(), 64);
    return instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzMachine& m = machine();
    const std::u16string& path = m.write(data, size);
    {
        AdminState state;
        QuietFeedback feedback;
        bringServerOnline(state, feedback, u"SRV1", path);
    }
    m.afterInput();
    return 0;
}

// Starting a class's service for activation. The machine's service manager is not part of the
// platform yet: no service can be started, and activation of a class whose service does not run
// fails at once.
#include "service_start.h"

namespace sky::automation {

bool startService(const std::u16string&) {
    return false;
}

bool serviceMayStillPublish(const std::u16string&) {
    return false;
}

} // namespace sky::automation

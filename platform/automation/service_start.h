// Starting the service that serves a class (its AppID's LocalService) for activation.
#pragma once

#include <string>

namespace sky::automation {

// Starts the service unless it runs already, with `parameters` (the AppID's ServiceParameters)
// as its one argument; false when it cannot be started (no such service, no service manager,
// refused).
bool startService(const std::u16string& name, const std::u16string& parameters);

// Whether the service is starting or running, so that its class objects may still appear.
bool serviceMayStillPublish(const std::u16string& name);

} // namespace sky::automation

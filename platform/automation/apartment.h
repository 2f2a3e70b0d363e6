// Apartment bookkeeping shared by the activation functions.
#pragma once

namespace sky::automation {

// True when the calling thread may use objects: it has called CoInitialize(Ex), or some thread
// of the process is in the multithreaded apartment (which every thread then joins implicitly).
bool apartmentReady();

} // namespace sky::automation

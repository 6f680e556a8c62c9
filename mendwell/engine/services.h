// Stopping the manifest's services before the file changes and starting them again after.
#pragma once
#include <map>
#include <string>

#include "mendwell/engine/manifest.h"

namespace mw {

// Service entry key -> 1 when this run stopped the service, 0 when it found it not running or could not
// open it. The key is the entry's service name in upper case (service names ignore case).
std::map<std::wstring, int>& stoppedServices();
std::wstring serviceKey(const ServiceRecord& entry);

// Stops the entry's service and records its flag. False only when the service refused to stop or did
// not stop within the wait bound; a service that cannot be opened is logged and skipped.
// True when the service exists and is not stopped; silent, for the journal.
bool serviceRunning(const ServiceRecord& entry);
bool stopService(const ServiceRecord& entry);

// Starts the entry's service with the entry's arguments unless it already runs. False when the start
// fails; a service that cannot be opened is logged and skipped.
bool startService(const ServiceRecord& entry);

// How the stop waits for a stop-pending service: a pause between two looks and a bound on the whole wait,
// after which the stop fails rather than holding the patch. Defaults: 100 ms, 30 s.
struct ServiceStopWait {
    unsigned pauseMs = 100;
    unsigned limitMs = 30000;
};
void setServiceStopWait(const ServiceStopWait& wait);

}  // namespace mw

// What becomes of the worker thread when the library's service object is destroyed, that is
// when the library is unloaded. A host is meant to stop the service first; one that does not
// must not hang. Each platform knows what waiting for a thread may cost at that moment:
// posix/ and win32/ implement this once.
#ifndef TIDEWIRE_PLATFORM_WORKERUNLOAD_H
#define TIDEWIRE_PLATFORM_WORKERUNLOAD_H

#include <thread>

namespace tidewire {

// Called by the service object's destructor after it has cleared `running`, so a live worker
// is already on its way out. Leaves worker not joinable.
void ReleaseWorkerAtUnload(std::thread& worker);

}  // namespace tidewire

#endif

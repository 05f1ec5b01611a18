// On POSIX systems a library's destructors run without any lock that a thread's exit needs, so
// the worker is simply waited for: it notices the cleared flag within one dialogue, closes the
// port and ends.
#include "platform/Platform.h"

namespace tidewire {

void ReleaseWorkerAtUnload(std::thread& worker) {
    if (!worker.joinable()) {
        return;
    }
    if (worker.get_id() == std::this_thread::get_id()) {
        worker.detach();
    } else {
        worker.join();
    }
}

}  // namespace tidewire

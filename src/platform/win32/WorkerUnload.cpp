// A DLL's destructors run inside DllMain, with the loader lock held, and a thread can neither
// start nor end without that lock (the system tells every loaded DLL about it). So a worker
// that is alive when a host calls FreeLibrary can never be waited for there: it may still be
// starting, or in its last steps, and would then go on running code that is no longer mapped.
// Hosts are meant to stop the service before they unload the library, but a legacy host has
// no way to learn when its worker has ended, and any host may forget.
//
// The library therefore keeps itself loaded from the moment it is loaded: FreeLibrary leaves
// it in memory, a worker that is still running carries on safely and can still be stopped by
// a host that loads the library again (it gets the same service back), and the destructors
// run only when the process exits. By then the system has ended every other thread, the worker
// included, so there is nothing left to wait for.
#include "platform/Platform.h"

#include <windows.h>

// The C runtime calls this before it runs the library's constructors.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        // A pin needs no reference to be released later. Should it fail, the library unloads
        // as any other, and a host that unloads it with the service running is back to the
        // risk described above; the destructor still never waits.
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(instance), &self);
    }
    return TRUE;
}

namespace tidewire {

// Only reached at process exit (or after a failed pin): the worker is gone or cannot be waited
// for, so its thread object is let go. Letting go of a thread that has already ended (a worker
// whose initialisation failed) releases it just as joining would.
void ReleaseWorkerAtUnload(std::thread& worker) {
    if (worker.joinable()) {
        worker.detach();
    }
}

}  // namespace tidewire

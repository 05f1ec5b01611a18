#include "HeapCounter.h"

#include <execinfo.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>

// The counting allocator. The program defines the C library's allocation entry points itself,
// so every allocation of the process, the library's, libstdc++'s and the peer's, lands here
// first; each is counted and handed on to glibc's own allocator.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace {
std::atomic<uint64_t> heapCalls{0};
std::atomic<bool> watching{false};
std::atomic<pthread_t> watchedThread{};
std::atomic<uint64_t> watchedHeapCalls{0};
// With TIDEWIRE_TRACE_HEAP set, each heap call of the watched thread prints its call
// stack to stderr, to find where it comes from. backtrace may allocate on its first use, so a
// call made while tracing is counted but not traced.
bool tracing = false;
thread_local bool inTrace = false;
thread_local bool failing = false;

void Count() {
    heapCalls.fetch_add(1, std::memory_order_relaxed);
    if (watching.load(std::memory_order_acquire) &&
        pthread_equal(pthread_self(), watchedThread.load(std::memory_order_relaxed))) {
        watchedHeapCalls.fetch_add(1, std::memory_order_relaxed);
        if (tracing && !inTrace) {
            inTrace = true;
            void* frames[24];
            const int depth = backtrace(frames, 24);
            static const char kMark[] = "--- heap call on the watched thread\n";
            if (write(2, kMark, sizeof kMark - 1) < 0) {
                // Nothing to be done about a closed stderr.
            }
            backtrace_symbols_fd(frames, depth, 2);
            inTrace = false;
        }
    }
}
}  // namespace

extern "C" {
void* malloc(size_t size) {
    Count();
    return failing ? nullptr : __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    Count();
    return failing ? nullptr : __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    Count();
    return failing ? nullptr : __libc_realloc(pointer, size);
}
void* memalign(size_t alignment, size_t size) {
    Count();
    return failing ? nullptr : __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    Count();
    return failing ? nullptr : __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    Count();
    void* const pointer = failing ? nullptr : __libc_memalign(alignment, size);
    if (pointer == nullptr) {
        return 12;  // ENOMEM
    }
    *out = pointer;
    return 0;
}
void free(void* pointer) {
    __libc_free(pointer);
}
}

namespace tidewire::heapcount {

uint64_t HeapCalls() {
    return heapCalls.load(std::memory_order_relaxed);
}

void WatchThisThread() {
    if (std::getenv("TIDEWIRE_TRACE_HEAP") != nullptr) {
        void* frames[1];
        inTrace = true;
        backtrace(frames, 1);  // loads the unwinder now, not inside a counted call
        inTrace = false;
        tracing = true;
    }
    watchedThread.store(pthread_self(), std::memory_order_relaxed);
    watching.store(true, std::memory_order_release);
}

uint64_t WatchedThreadHeapCalls() {
    return watchedHeapCalls.load(std::memory_order_relaxed);
}

void FailThisThreadsHeapCalls(bool fail) {
    failing = fail;
}

}  // namespace tidewire::heapcount

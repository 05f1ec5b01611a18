// A heap-call counter for programs that must prove a thread allocates nothing, and that can make
// one thread's allocations fail. Linking
// HeapCounter.cpp into a program replaces the C library's allocation entry points for the whole
// process (operator new included, which allocates through malloc), so it goes only into the
// programs that count: the benchmarks and the worker's heap test, never the library.
#ifndef TIDEWIRE_TESTS_HEAP_HEAPCOUNTER_H
#define TIDEWIRE_TESTS_HEAP_HEAPCOUNTER_H

#include <cstdint>

namespace tidewire::heapcount {

// Heap calls (malloc, calloc, realloc, aligned forms) made by any thread since the program
// started.
uint64_t HeapCalls();
// From now on, heap calls made by the calling thread are also counted on their own. With
// TIDEWIRE_TRACE_HEAP set in the environment, each of them prints its call stack to stderr.
void WatchThisThread();
uint64_t WatchedThreadHeapCalls();
// While on, every heap call of the calling thread fails (returns null, as an exhausted heap
// does), so operator new throws std::bad_alloc; the calls are still counted.
void FailThisThreadsHeapCalls(bool fail);

}  // namespace tidewire::heapcount

#endif

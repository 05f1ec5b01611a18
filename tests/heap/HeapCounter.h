// A heap-call counter for programs that must prove a thread allocates nothing. Linking
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

}  // namespace tidewire::heapcount

#endif

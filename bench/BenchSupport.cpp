#include "BenchSupport.h"

#include <execinfo.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
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
// With TIDEWIRE_BENCH_TRACE_HEAP set, each heap call of the watched thread prints its call
// stack to stderr, to find where it comes from. backtrace may allocate on its first use, so a
// call made while tracing is counted but not traced.
bool tracing = false;
thread_local bool inTrace = false;

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
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    Count();
    return __libc_realloc(pointer, size);
}
void* memalign(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    Count();
    void* const pointer = __libc_memalign(alignment, size);
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

namespace tidewire::bench {

uint64_t HeapCalls() {
    return heapCalls.load(std::memory_order_relaxed);
}

void WatchThisThread() {
    if (std::getenv("TIDEWIRE_BENCH_TRACE_HEAP") != nullptr) {
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

void KeepingReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.error_occurred) {
            errored_[run.benchmark_name()] = run.error_message;
        } else if (run.run_type == Run::RT_Iteration) {
            runs_[run.benchmark_name()] = run;
        }
    }
    ConsoleReporter::ReportRuns(runs);
}

double KeepingReporter::NanosPerIteration(const std::string& name) const {
    const auto found = runs_.find(name);
    if (found == runs_.end() || found->second.iterations == 0) {
        return -1.0;
    }
    // Real time, converted to nanoseconds whatever unit the benchmark prints in.
    const Run& run = found->second;
    return run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations);
}

double KeepingReporter::Counter(const std::string& name, const std::string& counter) const {
    const auto found = runs_.find(name);
    if (found == runs_.end()) {
        return -1.0;
    }
    const auto value = found->second.counters.find(counter);
    return value == found->second.counters.end() ? -1.0 : static_cast<double>(value->second);
}

void RunAll(int argc, char** argv, KeepingReporter& reporter) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}

BudgetTable::BudgetTable(const char* title) {
    std::printf("\n== %s\n%-48s %-22s %-22s %s\n", title, "figure", "measured", "budget",
                "verdict");
}

void BudgetTable::Line(const std::string& figure, const std::string& value,
                       const std::string& budget, bool held) {
    ++lines_;
    if (!held) {
        ++missed_;
    }
    std::printf("%-48s %-22s %-22s %s\n", figure.c_str(), value.c_str(), budget.c_str(),
                held ? "held" : "MISSED");
}

void BudgetTable::Info(const std::string& figure, const std::string& value) {
    std::printf("%-48s %-22s %-22s %s\n", figure.c_str(), value.c_str(), "(no budget)", "-");
}

int BudgetTable::Finish() const {
    std::printf("-- %d budgets, %d held, %d missed\n", lines_, lines_ - missed_, missed_);
    std::fflush(stdout);
    return missed_;
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace tidewire::bench

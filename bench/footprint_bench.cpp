// What a running service costs the host when nothing happens and when messages go through:
// CPU of the idle worker at the real cadence, resident memory the service adds, the deepest
// the worker's stack gets against the size of its thread's stack, and the heap calls the worker
// makes (counted by this program's allocator, on the worker's thread alone).
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "ModemEngine.h"
#include "PtyModem.h"
#include "api/SmsService.h"

namespace {

using tidewire::bench::Format;
using Clock = std::chrono::steady_clock;

constexpr unsigned char kPaint = 0xA5;
// Left unpainted at the low end of the stack (the guard is there) and just below the frame
// that paints, which the call to memset itself uses.
constexpr size_t kLowMargin = 64 * 1024;
constexpr size_t kBelowFrameMargin = 8 * 1024;

size_t ResidentBytes() {
    long pages = 0;
    long resident = 0;
    FILE* const statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) {
        return 0;
    }
    const int read = std::fscanf(statm, "%ld %ld", &pages, &resident);
    std::fclose(statm);
    return read == 2 ? static_cast<size_t>(resident) * static_cast<size_t>(sysconf(_SC_PAGESIZE))
                     : 0;
}

// Every wait of the service. Start-up waits on the host's thread; the first wait on another
// thread names the worker's, whose waits then count its heap calls, paint the unused part of
// its stack when asked, and later find the deepest byte the worker has written since.
class WorkerProbe {
  public:
    WorkerProbe() : host_(pthread_self()) {}

    void Sleep(uint32_t milliseconds) {
        if (!named_.load() && !pthread_equal(pthread_self(), host_)) {
            worker_ = pthread_self();
            named_.store(true);
        }
        if (named_.load() && pthread_equal(pthread_self(), worker_)) {
            // The probe's own heap calls (thread attributes, the tracer) are not the worker's.
            // They are read off the worker's own counter: the process's would also take in
            // whatever another thread (the host's, the simulated module's) allocated between
            // the two readings, and take it off the worker's count, below zero in a round
            // where the worker itself made none. The host hears of a paint or a scan only
            // once its calls are set aside, or it could read the count half-corrected.
            const uint64_t before = tidewire::bench::WatchedThreadHeapCalls();
            if (!watching_) {
                watching_ = true;
                tidewire::bench::WatchThisThread();
            }
            const bool painted = paintRequested_.exchange(false) && Paint();
            const bool scanned = scanRequested_.exchange(false) && Scan();
            own_.fetch_add(tidewire::bench::WatchedThreadHeapCalls() - before);
            if (painted) {
                painted_.store(true);
            }
            if (scanned) {
                scanned_.store(true);
            }
        }
        const uint32_t divisor = divisor_.load();
        std::this_thread::sleep_for(std::chrono::microseconds(milliseconds * 1000 / divisor));
    }
    bool Named() const { return named_.load(); }
    pthread_t Worker() const { return worker_; }
    void RequestPaint() { paintRequested_.store(true); }
    bool Painted() const { return painted_.load(); }
    // Heap calls of the worker's thread, less the probe's own.
    uint64_t WorkerHeapCalls() const {
        return tidewire::bench::WatchedThreadHeapCalls() - own_.load();
    }
    void SetDivisor(uint32_t divisor) { divisor_.store(divisor); }
    void RequestScan() { scanRequested_.store(true); }
    bool Scanned() const { return scanned_.load(); }
    size_t PeakBytes() const { return peak_.load(); }
    size_t StackBytes() const { return stackSize_; }

  private:
    bool Paint() {
        pthread_attr_t attributes;
        void* low = nullptr;
        if (pthread_getattr_np(pthread_self(), &attributes) != 0) {
            return false;
        }
        pthread_attr_getstack(&attributes, &low, &stackSize_);
        pthread_attr_destroy(&attributes);
        low_ = static_cast<unsigned char*>(low);
        const auto frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
        const auto from = reinterpret_cast<uintptr_t>(low_) + kLowMargin;
        const uintptr_t to = frame - kBelowFrameMargin;
        if (to > from) {
            std::memset(reinterpret_cast<void*>(from), kPaint, to - from);
        }
        return true;
    }
    bool Scan() {
        if (low_ == nullptr) {
            return false;
        }
        const unsigned char* byte = low_ + kLowMargin;
        const unsigned char* const high = low_ + stackSize_;
        while (byte < high && *byte == kPaint) {
            ++byte;
        }
        peak_.store(static_cast<size_t>(high - byte));
        return true;
    }

    std::atomic<uint64_t> own_{0};
    const pthread_t host_;
    std::atomic<bool> named_{false};
    pthread_t worker_{};
    bool watching_ = false;
    std::atomic<bool> paintRequested_{false};
    std::atomic<bool> painted_{false};
    unsigned char* low_ = nullptr;
    size_t stackSize_ = 0;
    std::atomic<uint32_t> divisor_{1};
    std::atomic<bool> scanRequested_{false};
    std::atomic<bool> scanned_{false};
    std::atomic<size_t> peak_{0};
};

double ThreadCpuSeconds(pthread_t thread) {
    clockid_t clock;
    timespec now{};
    if (pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &now) != 0) {
        return -1.0;
    }
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

template <class Condition>
bool Eventually(Condition condition, std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

constexpr int kSends = 6;
constexpr int kReceives = 4;

// Sends of both text kinds and received messages through the service, until the host has
// every outcome and every received record.
bool Traffic(tidewire::SmsService& service, tidewire::sim::ModemEngine& engine) {
    int32_t last = -1;
    for (int i = 0; i < kSends; ++i) {
        last = service.SendMessage(i % 2 ? "您的包裹已到前台，请及时领取。" : "Parcel ready",
                                   "13912345678");
    }
    for (int i = 0; i < kReceives; ++i) {
        tidewire::sim::IncomingMessage incoming;
        incoming.sender = "+8613700000000";
        incoming.textUtf8 = i % 2 ? "会议改到下午三点半" : "Meeting moved to 15:30";
        engine.Inject(incoming);
    }
    int received = 0;
    char record[sizeof(ReceivedMessage)];
    char report[sizeof(OutgoingMessage)];
    return Eventually(
        [&] {
            while (service.GetNextMessage(record) == 1) {
                ++received;
            }
            while (service.Report(report) == 1) {
            }
            return service.Query(last) != -1 && received == kReceives;
        },
        std::chrono::seconds(300));
}

void Footprint(benchmark::State& state) {
    for (auto _ : state) {
        tidewire::sim::ModemConfig config;
        config.family = static_cast<int>(state.range(0));
        tidewire::sim::ModemEngine engine(config);
        tidewire::sim::PtyModem modem(engine);
        modem.Start();
        WorkerProbe probe;
        const size_t residentBefore = ResidentBytes();
        auto service = std::make_unique<tidewire::SmsService>(tidewire::Edition::Current);
        service->SetSleepFunction([&probe](uint32_t milliseconds) { probe.Sleep(milliseconds); });
        tidewire::LineSettings settings;
        if (service->StartServiceOnDevice(modem.DevicePath().c_str(), settings, "+8613800100500") !=
            1) {
            state.SkipWithError("the service did not start");
            modem.Stop();
            return;
        }
        if (!Eventually([&] { return probe.Named(); }, std::chrono::seconds(60))) {
            state.SkipWithError("the worker never waited");
            service->StopService();
            modem.Stop();
            return;
        }
        const pthread_t worker = probe.Worker();
        // Idle at the real cadence, once the module's set-up is behind.
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const size_t residentIdle = ResidentBytes();
        const uint64_t idleHeapBefore = probe.WorkerHeapCalls();
        const double cpuBefore = ThreadCpuSeconds(worker);
        const size_t commandsBefore = engine.CommandLog().size();
        const auto wallBefore = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        const double cpuIdle = ThreadCpuSeconds(worker) - cpuBefore;
        const double wallIdle = std::chrono::duration<double>(Clock::now() - wallBefore).count();
        const uint64_t idleHeap = probe.WorkerHeapCalls() - idleHeapBefore;
        const size_t idleCommands = engine.CommandLog().size() - commandsBefore;

        // Busy, ten times faster: sends of both text kinds and received messages, twice; the
        // stack is painted between the rounds, once the resident size after traffic is read.
        probe.SetDivisor(10);
        const uint64_t firstHeapBefore = probe.WorkerHeapCalls();
        const bool firstRound = Traffic(*service, engine);
        const uint64_t firstHeap = probe.WorkerHeapCalls() - firstHeapBefore;
        const size_t residentBusy = ResidentBytes();
        probe.RequestPaint();
        const bool painted = Eventually([&] { return probe.Painted(); }, std::chrono::seconds(60));
        const uint64_t secondHeapBefore = probe.WorkerHeapCalls();
        const bool secondRound = Traffic(*service, engine);
        const uint64_t secondHeap = probe.WorkerHeapCalls() - secondHeapBefore;
        probe.RequestScan();
        const bool scanned = Eventually([&] { return probe.Scanned(); }, std::chrono::seconds(60));
        service->StopService();
        service.reset();
        modem.Stop();
        if (!firstRound || !secondRound || !painted || !scanned) {
            state.SkipWithError("the messages did not all go through");
            return;
        }
        state.counters["idle_cpu_pct"] = 100.0 * cpuIdle / wallIdle;
        state.counters["idle_heap_calls"] = static_cast<double>(idleHeap);
        state.counters["idle_modem_cmds"] = static_cast<double>(idleCommands);
        state.counters["rss_idle_kib"] =
            (static_cast<double>(residentIdle) - static_cast<double>(residentBefore)) / 1024.0;
        state.counters["rss_busy_kib"] =
            (static_cast<double>(residentBusy) - static_cast<double>(residentBefore)) / 1024.0;
        state.counters["stack_peak_kib"] = static_cast<double>(probe.PeakBytes()) / 1024.0;
        state.counters["stack_size_kib"] = static_cast<double>(probe.StackBytes()) / 1024.0;
        state.counters["first_round_heap_calls"] = static_cast<double>(firstHeap);
        state.counters["second_round_heap_calls"] = static_cast<double>(secondHeap);
    }
}

struct Family {
    int number;
    const char* name;
};
constexpr Family kFamilies[] = {{666, "gsm"}, {870, "cdma870"}, {860, "cdma860"}, {865, "cdma865"}};

// Prints one family's figures beside their budgets; returns the budgets missed.
int PrintFamily(const tidewire::bench::KeepingReporter& reporter, const Family& family) {
    const std::string run = std::string("footprint/") + family.name + "/" +
                            std::to_string(family.number) + "/iterations:1";
    if (!reporter.Errored(run) && reporter.NanosPerIteration(run) < 0) {
        return 0;  // filtered out on the command line
    }
    const std::string title =
        "footprint of a running service (module type " + std::to_string(family.number) + ")";
    tidewire::bench::BudgetTable table(title.c_str());
    if (reporter.Errored(run)) {
        table.Line("footprint", "did not complete", "", false);
        return table.Finish();
    }
    const auto counter = [&](const char* name) { return reporter.Counter(run, name); };
    table.Line("idle worker CPU (real cadence, 5 s)",
               Format("%.4f%% of a core", counter("idle_cpu_pct")), "< 0.1%",
               counter("idle_cpu_pct") < 0.1);
    table.Info("resident memory added, idle", Format("%.0f KiB", counter("rss_idle_kib")));
    table.Info("resident memory added, after traffic", Format("%.0f KiB", counter("rss_busy_kib")));
    table.Line("worker stack peak / thread stack",
               Format("%.0f", counter("stack_peak_kib")) +
                   Format(" / %.0f KiB", counter("stack_size_kib")),
               "peak < stack size", counter("stack_peak_kib") < counter("stack_size_kib"));
    table.Line("worker heap calls, idle dialogues",
               Format("%.0f", counter("idle_heap_calls")) +
                   Format(" (%.0f cmds)", counter("idle_modem_cmds")),
               "0", counter("idle_heap_calls") == 0);
    // A round is 6 sends and 4 receives. The first round also pays what the worker's thread
    // sets up on first use; the second shows what every message costs.
    table.Line("worker heap calls, first round of traffic",
               Format("%.0f", counter("first_round_heap_calls")), "0",
               counter("first_round_heap_calls") == 0);
    table.Line("worker heap calls, second round of traffic",
               Format("%.0f", counter("second_round_heap_calls")), "0",
               counter("second_round_heap_calls") == 0);
    return table.Finish();
}

}  // namespace

int main(int argc, char** argv) {
    for (const Family& family : kFamilies) {
        benchmark::RegisterBenchmark((std::string("footprint/") + family.name).c_str(), Footprint)
            ->Arg(family.number)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    tidewire::bench::KeepingReporter reporter;
    tidewire::bench::RunAll(argc, argv, reporter);
    int missed = 0;
    for (const Family& family : kFamilies) {
        missed += PrintFamily(reporter, family);
    }
    return missed == 0 ? 0 : 1;
}

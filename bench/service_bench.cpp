// The host's side of a running service: how long each exported call takes while the worker is
// parked between cycles and while it is in the middle of long dialogues with a slow module
// (p50 and p99 of single calls), and whether enqueue, report and query keep their cost per
// call with 100,000 messages waiting.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "BenchSupport.h"
#include "ModemEngine.h"
#include "PtyModem.h"
#include "api/SmsService.h"

namespace {

using tidewire::SmsService;
using tidewire::bench::Format;
using Clock = std::chrono::steady_clock;

// The clock of the dialogues runs this many times faster; every poll count stays as it is.
constexpr uint32_t kTimeDivisor = 10;
constexpr const char* kNumber = "13912345678";
constexpr const char* kText = "您的订单已发货，请注意查收。Your order has shipped.";
// Samples per call and phase, spread out so they fall across whole dialogues of the worker
// rather than into one wait of it.
constexpr int kSamples = 4000;
constexpr auto kSpacing = std::chrono::microseconds(250);

// Every wait of the worker goes through here. Closed, the gate keeps the worker inside its
// next wait, between two cycles, touching neither the port nor the queues, until it opens.
class SleepGate {
  public:
    void Sleep(uint32_t milliseconds) {
        std::unique_lock<std::mutex> hold(mutex_);
        if (closed_) {
            ++parked_;
            changed_.notify_all();
            changed_.wait(hold, [this] { return !closed_; });
            --parked_;
            return;
        }
        hold.unlock();
        std::this_thread::sleep_for(std::chrono::microseconds(milliseconds * 1000 / kTimeDivisor));
    }
    // Closes the gate and waits until the worker has stopped at it.
    bool CloseAndWait() {
        std::unique_lock<std::mutex> hold(mutex_);
        closed_ = true;
        return changed_.wait_for(hold, std::chrono::seconds(120), [this] { return parked_ > 0; });
    }
    void Open() {
        std::lock_guard<std::mutex> hold(mutex_);
        closed_ = false;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool closed_ = false;
    int parked_ = 0;
};

OutgoingMessage Record(int32_t id) {
    OutgoingMessage message;
    std::memset(&message, 0, sizeof message);
    message.id = id;
    std::snprintf(message.text, sizeof message.text, "%s", kText);
    std::snprintf(message.number, sizeof message.number, "%s", kNumber);
    return message;
}

// One service against the simulated GSM module on a pseudo-terminal, as a host runs it.
struct Rig {
    Rig() : modem(engine), service(tidewire::Edition::Current) {}

    bool Start() {
        modem.Start();
        service.SetSleepFunction([this](uint32_t milliseconds) { gate.Sleep(milliseconds); });
        tidewire::LineSettings settings;
        return service.StartServiceOnDevice(modem.DevicePath().c_str(), settings,
                                            "+8613800100500") == 1;
    }
    void Stop() {
        gate.Open();
        service.StopService();
        modem.Stop();
    }
    void ClearQueues() { service.Queues().Reset(); }

    // Queues one message and lets it finish at once, leaving its report and its outcome, as the
    // worker does; the worker is parked meanwhile.
    void FinishOne(int32_t id, bool sent) {
        tidewire::MessageQueues& queues = service.Queues();
        queues.Accept(Record(id));
        OutgoingMessage oldest;
        if (queues.PeekOutgoing(oldest)) {
            queues.Finish(oldest, sent);
        }
    }

    tidewire::sim::ModemEngine engine;
    tidewire::sim::PtyModem modem;
    SmsService service;
    SleepGate gate;
};

Rig* rig = nullptr;

// --- Host calls while the worker is parked or busy ---------------------------------------------

enum class Call { Send, Report, Query, GetNext, LastError };
enum class Worker { Parked, Busy };

// Puts the worker where the phase wants it. Busy: messages queued for it, the module's line
// slowed so every exchange takes long, and the worker seen in a send dialogue.
bool Prepare(Worker worker) {
    if (worker == Worker::Parked) {
        rig->engine.SetLineSpeed(0);
        return rig->gate.CloseAndWait();
    }
    rig->engine.SetLineSpeed(2000);
    for (int i = 0; i < 20; ++i) {
        rig->service.SendMessage(kText, kNumber);
    }
    rig->engine.ClearCommandLog();
    rig->gate.Open();
    return rig->engine.WaitForCommand("AT+CMGS", std::chrono::seconds(120));
}

void HostCall(benchmark::State& state, Call call, Worker worker) {
    if (!Prepare(worker)) {
        state.SkipWithError("the worker did not reach the wanted state");
        return;
    }
    const size_t commandsBefore = rig->engine.CommandLog().size();
    std::vector<int64_t> samples;
    samples.reserve(static_cast<size_t>(state.max_iterations));
    char record[1024];
    int32_t id = 0;
    for (auto _ : state) {
        const auto begin = Clock::now();
        int32_t result = 0;
        switch (call) {
            case Call::Send:
                result = rig->service.SendMessage(kText, kNumber);
                id = result;
                break;
            case Call::Report:
                result = rig->service.Report(record);
                break;
            case Call::Query:
                result = rig->service.Query(id);
                break;
            case Call::GetNext:
                result = rig->service.GetNextMessage(record);
                break;
            case Call::LastError:
                result = rig->service.GetLastError(record, sizeof record - 1);
                break;
        }
        const auto end = Clock::now();
        benchmark::DoNotOptimize(result);
        state.PauseTiming();
        std::this_thread::sleep_for(kSpacing);
        state.ResumeTiming();
        samples.push_back(
            std::chrono::duration_cast<std::chrono::nanoseconds>(end - begin).count());
    }
    const size_t commandsDuring = rig->engine.CommandLog().size() - commandsBefore;
    std::sort(samples.begin(), samples.end());
    state.counters["p50_ns"] = static_cast<double>(samples[samples.size() / 2]);
    state.counters["p99_ns"] = static_cast<double>(samples[samples.size() * 99 / 100]);
    state.counters["max_ns"] = static_cast<double>(samples.back());
    state.counters["modem_cmds"] = static_cast<double>(commandsDuring);
    // The sends measured here must not pile up for the next phase.
    if (call == Call::Send) {
        rig->service.Queues().DropNewestOutgoing(1);
    }
}

// --- Queue depth --------------------------------------------------------------------------------

constexpr int kTrimEvery = 1024;

void EnqueueAtDepth(benchmark::State& state) {
    rig->gate.CloseAndWait();
    rig->ClearQueues();
    const auto depth = static_cast<size_t>(state.range(0));
    for (size_t i = 0; i < depth; ++i) {
        rig->service.SendMessage(kText, kNumber);
    }
    int sinceTrim = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(rig->service.SendMessage(kText, kNumber));
        if (++sinceTrim == kTrimEvery) {
            state.PauseTiming();
            rig->service.Queues().DropNewestOutgoing(depth);
            sinceTrim = 0;
            state.ResumeTiming();
        }
    }
    rig->ClearQueues();
}

void ReportAtDepth(benchmark::State& state) {
    rig->gate.CloseAndWait();
    rig->ClearQueues();
    const auto depth = static_cast<size_t>(state.range(0));
    const auto refill = [](size_t count) {
        for (size_t i = 0; i < count; ++i) {
            rig->FinishOne(static_cast<int32_t>(i), true);
        }
    };
    refill(depth + kTrimEvery);
    char record[sizeof(OutgoingMessage)];
    int sinceRefill = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(rig->service.Report(record));
        if (++sinceRefill == kTrimEvery) {
            state.PauseTiming();
            refill(kTrimEvery);
            sinceRefill = 0;
            state.ResumeTiming();
        }
    }
    rig->ClearQueues();
}

void QueryAtDepth(benchmark::State& state) {
    rig->gate.CloseAndWait();
    rig->ClearQueues();
    const auto depth = static_cast<int32_t>(state.range(0));
    for (int32_t id = 0; id < depth; ++id) {
        rig->FinishOne(id, (id % 3) != 0);
    }
    for (int32_t id = 0; id < depth; ++id) {
        rig->service.Queues().Accept(Record(depth + id));
    }
    // Ids spread over the whole table, so the depth's cache misses are paid; or, as a host
    // that polls what it has just sent does, only the latest 64.
    const bool recent = state.range(1) != 0;
    const uint32_t spread = recent ? 64u : static_cast<uint32_t>(depth);
    const uint32_t base = static_cast<uint32_t>(depth) - spread;
    uint32_t next = 12345;
    for (auto _ : state) {
        next = next * 1103515245u + 12345u;
        benchmark::DoNotOptimize(
            rig->service.Query(static_cast<int32_t>(base + (next >> 8) % spread)));
    }
    rig->ClearQueues();
}

const char* const kCallNames[] = {"SMSSendMessage", "SMSReport", "SMSQuery", "SMSGetNextMessage",
                                  "SMSGetLastError"};

}  // namespace

int main(int argc, char** argv) {
    Rig theRig;
    rig = &theRig;
    if (!rig->Start()) {
        std::printf("the service did not start against the simulated module\n");
        return 1;
    }
    const Call calls[] = {Call::Send, Call::Report, Call::Query, Call::GetNext, Call::LastError};
    for (const Worker worker : {Worker::Parked, Worker::Busy}) {
        for (const Call call : calls) {
            const std::string name = std::string("host/") +
                                     (worker == Worker::Parked ? "idle/" : "busy/") +
                                     kCallNames[static_cast<int>(call)];
            benchmark::RegisterBenchmark(name.c_str(), HostCall, call, worker)
                ->Iterations(kSamples)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    for (const char* kind : {"enqueue", "report", "query"}) {
        const auto function = std::string(kind) == "enqueue"  ? EnqueueAtDepth
                              : std::string(kind) == "report" ? ReportAtDepth
                                                              : QueryAtDepth;
        benchmark::RegisterBenchmark((std::string("queue/") + kind).c_str(), function)
            ->Args({100, 0})
            ->Args({100000, 0});
    }
    benchmark::RegisterBenchmark("queue/query_latest", QueryAtDepth)
        ->Args({100, 1})
        ->Args({100000, 1});
    tidewire::bench::KeepingReporter reporter;
    tidewire::bench::RunAll(argc, argv, reporter);
    rig->Stop();

    tidewire::bench::BudgetTable hostTable("host calls while the worker is idle or busy");
    for (const char* call : kCallNames) {
        const std::string idle = std::string("host/idle/") + call + "/iterations:4000";
        const std::string busy = std::string("host/busy/") + call + "/iterations:4000";
        const double idleP99 = reporter.Counter(idle, "p99_ns");
        const double busyP99 = reporter.Counter(busy, "p99_ns");
        if (reporter.Errored(idle) || reporter.Errored(busy)) {
            hostTable.Line(std::string(call) + " idle and busy", "did not complete", "p99 < 20 us",
                           false);
            continue;
        }
        if (idleP99 < 0 || busyP99 < 0) {
            continue;  // filtered out on the command line
        }
        for (const auto& [phase, name, p99] :
             {std::tuple{"idle", idle, idleP99}, std::tuple{"busy", busy, busyP99}}) {
            hostTable.Line(std::string(call) + " " + phase + " p50/p99",
                           Format("%.2f", reporter.Counter(name, "p50_ns") / 1000.0) +
                               Format("/%.2f us", p99 / 1000.0),
                           "p99 < 20 us", p99 < 20000.0);
        }
        // "The same": busy p99 within twice the idle one, or within 2 us of it.
        hostTable.Line(std::string(call) + " busy/idle p99",
                       Format("%.2fx", busyP99 / idleP99) +
                           Format(" (%.0f modem cmds)", reporter.Counter(busy, "modem_cmds")),
                       "<= 2x or +2 us", busyP99 <= 2 * idleP99 || busyP99 - idleP99 <= 2000.0);
    }
    const int hostMissed = hostTable.Finish();

    tidewire::bench::BudgetTable queueTable("cost per call at 100,000 waiting vs 100 waiting");
    for (const char* kind : {"enqueue", "report", "query", "query_latest"}) {
        const bool latest = std::string(kind) == "query_latest";
        const std::string arg = latest ? "/1" : "/0";
        const double shallow =
            reporter.NanosPerIteration(std::string("queue/") + kind + "/100" + arg);
        const double deep =
            reporter.NanosPerIteration(std::string("queue/") + kind + "/100000" + arg);
        if (shallow <= 0 || deep <= 0) {
            continue;
        }
        queueTable.Line(
            std::string(kind) + " deep/shallow",
            Format("%.2fx", deep / shallow) + Format(" (%.0f", shallow) + Format("/%.0f ns)", deep),
            "<= 1.50x (flat)", deep / shallow <= 1.5);
    }
    const int queueMissed = queueTable.Finish();
    return hostMissed + queueMissed == 0 ? 0 : 1;
}

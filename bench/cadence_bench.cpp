// The cost of the service's own work on top of the waits its cadence prescribes: messages go
// through the whole service to a module that answers at once, and the time each one takes is
// set against the sum of the waits the worker asked for meanwhile (the floor).
//
// The waits run ten times faster, and the scale is taken out exactly: the worker's own time
// (wall time less the scaled waits) does not depend on the scale, so it is divided by the waits
// as asked for, in real milliseconds. A sleep's overshoot is part of that own time, as it would
// be at full scale.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "ModemEngine.h"
#include "PtyModem.h"
#include "api/SmsService.h"

namespace {

using tidewire::bench::Format;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kTimeDivisor = 10;
constexpr int kMessages = 4;  // measured, after one that brings the worker into step

struct Mark {
    Clock::time_point when;
    uint64_t requestedMs;
};

// Marks, at the first wait after the module took each message, the time and the waits asked
// for so far: the same point of every message's cycle.
class MarkingSleep {
  public:
    explicit MarkingSleep(tidewire::sim::ModemEngine& engine) : engine_(engine) {}

    void Sleep(uint32_t milliseconds) {
        if (engine_.WaitForSent(sent_ + 1, std::chrono::milliseconds(0))) {
            ++sent_;
            std::lock_guard<std::mutex> hold(mutex_);
            if (marks_.size() < marks_.capacity()) {
                marks_.push_back({Clock::now(), requested_});
            }
        }
        requested_ += milliseconds;
        std::this_thread::sleep_for(std::chrono::microseconds(milliseconds * 1000 / kTimeDivisor));
    }
    void Reserve(size_t count) { marks_.reserve(count); }
    std::vector<Mark> Marks() {
        std::lock_guard<std::mutex> hold(mutex_);
        return marks_;
    }

  private:
    tidewire::sim::ModemEngine& engine_;
    size_t sent_ = 0;
    uint64_t requested_ = 0;
    std::mutex mutex_;
    std::vector<Mark> marks_;
};

void Cadence(benchmark::State& state, int family, const char* text) {
    for (auto _ : state) {
        tidewire::sim::ModemConfig config;
        config.family = family;
        tidewire::sim::ModemEngine engine(config);
        tidewire::sim::PtyModem modem(engine);
        modem.Start();
        MarkingSleep sleep(engine);
        sleep.Reserve(kMessages + 2);
        tidewire::SmsService service(tidewire::Edition::Current);
        service.SetSleepFunction([&sleep](uint32_t milliseconds) { sleep.Sleep(milliseconds); });
        tidewire::LineSettings settings;
        if (service.StartServiceOnDevice(modem.DevicePath().c_str(), settings, "+8613800100500") !=
            1) {
            state.SkipWithError("the service did not start");
            modem.Stop();
            return;
        }
        int32_t last = -1;
        for (int i = 0; i < kMessages + 2; ++i) {
            last = service.SendMessage(text, "13912345678");
        }
        const auto deadline = Clock::now() + std::chrono::seconds(300);
        while (service.Query(last) == -1 && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const bool allSent = service.Query(last) == 1;
        service.StopService();
        modem.Stop();
        const std::vector<Mark> marks = sleep.Marks();
        if (!allSent || marks.size() < kMessages + 1) {
            state.SkipWithError("not every message was sent");
            return;
        }
        // From the first message's mark to the last one's: kMessages whole cycles.
        const Mark& first = marks[0];
        const Mark& end = marks[kMessages];
        const double wallMs =
            std::chrono::duration<double, std::milli>(end.when - first.when).count();
        const double floorMs = static_cast<double>(end.requestedMs - first.requestedMs);
        const double ownMs = wallMs - floorMs / kTimeDivisor;
        state.counters["floor_ms_per_msg"] = floorMs / kMessages;
        state.counters["own_ms_per_msg"] = ownMs / kMessages;
        state.counters["overhead_pct"] = 100.0 * ownMs / floorMs;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int families[] = {666, 870, 860, 865};
    const struct {
        const char* name;
        const char* text;
    } kinds[] = {{"ascii", "Your parcel 4711 is ready for pickup at the front desk."},
                 {"chinese", "您的包裹 4711 已到前台，请及时领取。"}};
    std::vector<std::string> names;
    for (const int family : families) {
        for (const auto& kind : kinds) {
            names.push_back("cadence/" + std::to_string(family) + "/" + kind.name);
            benchmark::RegisterBenchmark(names.back().c_str(), Cadence, family, kind.text)
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
        }
    }
    tidewire::bench::KeepingReporter reporter;
    tidewire::bench::RunAll(argc, argv, reporter);

    tidewire::bench::BudgetTable table("time per message over the waits of the cadence");
    for (const std::string& name : names) {
        const std::string run = name + "/iterations:1";
        const double overhead = reporter.Counter(run, "overhead_pct");
        if (reporter.Errored(run)) {
            table.Line(name.substr(8) + " own time over floor", "did not complete", "<= 3%", false);
            continue;
        }
        if (overhead < 0) {
            continue;  // filtered out on the command line
        }
        table.Line(name.substr(8) + " own time over floor",
                   Format("%.2f%%", overhead) +
                       Format(" of %.0f ms", reporter.Counter(run, "floor_ms_per_msg")),
                   "<= 3%", overhead >= 0 && overhead <= 3.0);
    }
    return table.Finish() == 0 ? 0 : 1;
}

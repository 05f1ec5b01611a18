// Many host threads on every export at once, while the worker sends and receives against the
// simulated modem, messages keep arriving, and another thread stops and restarts the service.
// What must hold, per run between two start-ups: every accepted id ends with exactly one result
// and one report, or none of either when it was still queued at the stop (the next start-up
// discards it); no report or received message is lost or handed out twice; a stop returns within
// the longest dialogue the worker can be in.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "FlowFixture.h"

namespace tidewire {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The longest the worker can take to notice a stop, from the poll limits and intervals of the
// dialogues it may be in at that moment (at most L + 2 polls each): a PDU send (mode command,
// prompt, confirmation), or a store listing followed by one delete per listed message. At the
// test clock that is a tenth; the bound is then widened generously for a loaded machine.
constexpr int kMaxStored = 3;
constexpr uint32_t kSendMs = 12 * 200 + 12 * 300 + 52 * 300;
constexpr uint32_t kReceiveMs = 12 * 200 + 22 * 300 + kMaxStored * 12 * 200;
constexpr uint32_t kLongestDialogueMs = 500 + (kSendMs > kReceiveMs ? kSendMs : kReceiveMs);
const milliseconds kStopBound(3 * kLongestDialogueMs / kTimeDivisor + 3000);

constexpr int kEpochs = 10;
constexpr int kSenders = 2;

std::string WithoutLeading86(const std::string& number) {
    return number.rfind("86", 0) == 0 ? number.substr(2) : number;
}

struct Report {
    int32_t id;
    std::string text;
    std::string number;
};

// What the host threads saw between two start-ups.
struct Epoch {
    std::map<int32_t, std::pair<std::string, std::string>> accepted;  // id: text, number
    std::vector<Report> reports;
    std::map<int32_t, int32_t> observed;  // first result other than -1 a query saw
};

class Stress : public FlowTest, public testing::WithParamInterface<Edition> {
  protected:
    Stress() : FlowTest(666, GetParam()) {}

    bool Current() const { return GetParam() == Edition::Current; }

    void Problem(const std::string& what) {
        std::lock_guard<std::mutex> hold(dataLock_);
        if (problems_.size() < 50) {
            problems_.push_back(what);
        }
    }

    // --- Host threads: each call and the record of what it returned happen under the shared
    // side of accountLock_, so a result is always booked to the run it belongs to.

    void Sender(int thread) {
        std::mt19937 random(static_cast<uint32_t>(thread * 7919 + 1));
        const char* const numbers[] = {"8613912345678", "13912345678", "+8613912345678"};
        int sequence = 0;
        while (!done_.load()) {
            ++sequence;
            const bool chinese = sequence % 3 == 0;
            const std::string text = (chinese ? std::string("中文") : std::string("t")) +
                                     std::to_string(thread) + "-" + std::to_string(sequence);
            const std::string number = numbers[sequence % 3];
            {
                std::shared_lock<std::shared_mutex> hold(accountLock_);
                const int32_t id = Service().SendMessage(text.c_str(), number.c_str());
                if (id >= 0) {
                    std::lock_guard<std::mutex> data(dataLock_);
                    Epoch& epoch = epochs_.back();
                    if (!epoch.accepted.emplace(id, std::make_pair(text, number)).second) {
                        problems_.push_back("id " + std::to_string(id) + " handed out twice");
                    }
                } else if (id != -1) {
                    Problem("send returned " + std::to_string(id));
                }
                // Refused input, in every state: never an id, never a crash.
                const std::string longNumber(32, '1');
                const int32_t bad = random() % 4;
                const int32_t refused =
                    bad == 0   ? Service().SendMessage("", "5551234")
                    : bad == 1 ? Service().SendMessage("no number", nullptr)
                    : bad == 2 ? Service().SendMessage("long number", longNumber.c_str())
                               : Service().SendMessage("ctrl-z \x1A inside", "5551234");
                if (refused != -1) {
                    Problem("bad input accepted as id " + std::to_string(refused));
                }
            }
            std::this_thread::sleep_for(milliseconds(40 + random() % 60));
        }
    }

    void Reporter() {
        int lastEpoch = -1;
        int32_t lastId = -1;
        while (!done_.load()) {
            {
                std::shared_lock<std::shared_mutex> hold(accountLock_);
                OutgoingMessage report;
                if (Service().Report(reinterpret_cast<char*>(&report)) == 1) {
                    std::lock_guard<std::mutex> data(dataLock_);
                    const int epoch = static_cast<int>(epochs_.size()) - 1;
                    if (epoch == lastEpoch && report.id <= lastId) {
                        problems_.push_back("report " + std::to_string(report.id) + " after " +
                                            std::to_string(lastId));
                    }
                    lastEpoch = epoch;
                    lastId = report.id;
                    epochs_.back().reports.push_back(
                        Report{report.id, std::string(report.text), std::string(report.number)});
                }
            }
            std::this_thread::sleep_for(milliseconds(2));
        }
    }

    void Taker() {
        while (!done_.load()) {
            {
                std::shared_lock<std::shared_mutex> hold(accountLock_);
                TakeOneReceived();
            }
            std::this_thread::sleep_for(milliseconds(2));
        }
    }

    // True when a record was taken. Checks it against what was put into the module's store.
    bool TakeOneReceived() {
        ReceivedMessage message;
        if (Service().GetNextMessage(reinterpret_cast<char*>(&message)) != 1) {
            return false;
        }
        std::lock_guard<std::mutex> data(dataLock_);
        const std::string text(message.text);
        if (injected_.count(text) == 0) {
            problems_.push_back("received a message never injected: " + text);
        } else if (++delivered_[text] > 1) {
            problems_.push_back("received twice: " + text);
        }
        if (std::string(message.sender) != "8613800138000") {
            problems_.push_back("sender " + std::string(message.sender));
        }
        return true;
    }

    void Querier(int thread) {
        std::mt19937 random(static_cast<uint32_t>(thread * 104729 + 3));
        const int32_t never[] = {-1, INT_MIN, INT_MAX, 1000000};
        while (!done_.load()) {
            {
                std::shared_lock<std::shared_mutex> hold(accountLock_);
                const int32_t stray = never[random() % 4];
                if (Service().Query(stray) != -1) {
                    Problem("a result for never-issued id " + std::to_string(stray));
                }
                const int32_t any = static_cast<int32_t>(random());
                const int32_t anyResult = Service().Query(any);
                if (anyResult < -1 || anyResult > 1) {
                    Problem("query returned " + std::to_string(anyResult));
                }
                int32_t id = -1;
                {
                    std::lock_guard<std::mutex> data(dataLock_);
                    const auto& accepted = epochs_.back().accepted;
                    if (!accepted.empty()) {
                        id = static_cast<int32_t>(random() % accepted.size());
                    }
                }
                if (id >= 0) {
                    const int32_t result = Service().Query(id);
                    std::lock_guard<std::mutex> data(dataLock_);
                    auto& observed = epochs_.back().observed;
                    const auto seen = observed.find(id);
                    if (seen != observed.end() && seen->second != result) {
                        problems_.push_back("result of " + std::to_string(id) + " changed from " +
                                            std::to_string(seen->second) + " to " +
                                            std::to_string(result));
                    } else if (seen == observed.end() && result != -1) {
                        observed.emplace(id, result);
                    }
                }
            }
            std::this_thread::sleep_for(milliseconds(1));
        }
    }

    // Last error and the running flag: never a torn text, never a length past the buffer.
    void Watcher() {
        std::mt19937 random(17);
        while (!done_.load()) {
            char text[1024];
            const int32_t length = static_cast<int32_t>(1 + random() % 1023);
            std::memset(text, 0x5A, sizeof text);
            const int32_t copied = Service().GetLastError(text, length);
            if (copied < 0 || copied > length || std::memchr(text, '\0', copied) != nullptr) {
                Problem("last error copied " + std::to_string(copied) + " of " +
                        std::to_string(length));
            } else if (length < static_cast<int32_t>(sizeof text) &&
                       static_cast<unsigned char>(text[length]) != 0x5A) {
                Problem("last error wrote past its length");
            }
            const uint8_t running = Service().ServiceStarted();
            if (running > 1) {
                Problem("running flag " + std::to_string(running));
            }
            std::this_thread::sleep_for(milliseconds(1));
        }
    }

    // Keeps a few messages waiting in the module's store, each text unique.
    void Injector() {
        int sequence = 0;
        while (!done_.load()) {
            if (Engine().StoreCount() < kMaxStored) {
                ++sequence;
                sim::IncomingMessage incoming;
                incoming.sender = "+8613800138000";
                incoming.textUtf8 = (sequence % 2 == 0 ? std::string("到达") : std::string("in")) +
                                    std::to_string(sequence);
                {
                    std::lock_guard<std::mutex> data(dataLock_);
                    injected_.insert(incoming.textUtf8);
                }
                if (!Engine().Inject(incoming).stored) {
                    Problem("inject failed");
                }
            }
            std::this_thread::sleep_for(milliseconds(60));
        }
    }

    // --- The stopping thread -------------------------------------------------------------------

    void StopAndMeasure() {
        const auto before = Clock::now();
        EXPECT_EQ(Service().StopService(), 1);
        const auto stopTook = Clock::now() - before;
        if (Current()) {
            EXPECT_LE(stopTook, kStopBound);
            // The worker has ended by the time the stop returns.
            EXPECT_FALSE(Service().Started());
        } else {
            // The legacy stop only asks; the worker ends within its current dialogue.
            EXPECT_LE(stopTook, milliseconds(1000));
            EXPECT_TRUE(Eventually([&] { return !Service().Started(); },
                                   std::chrono::duration_cast<std::chrono::seconds>(kStopBound)));
            EXPECT_LE(Clock::now() - before, kStopBound);
        }
        EXPECT_EQ(Service().ServiceStarted(), 0);
        maxStop_ = std::max(maxStop_, Clock::now() - before);
    }

    // After a stop (worker ended): takes what is left and checks the run's books. Holds the
    // exclusive side of accountLock_, so no host call is half booked.
    void CloseEpoch() {
        std::unique_lock<std::shared_mutex> hold(accountLock_);
        while (TakeOneReceived()) {
        }
        OutgoingMessage report;
        std::lock_guard<std::mutex> data(dataLock_);
        Epoch& epoch = epochs_.back();
        while (Service().Report(reinterpret_cast<char*>(&report)) == 1) {
            epoch.reports.push_back(
                Report{report.id, std::string(report.text), std::string(report.number)});
        }
        const std::string where = "run " + std::to_string(epochs_.size()) + ": ";

        std::map<int32_t, int> reportCount;
        for (const Report& r : epoch.reports) {
            ++reportCount[r.id];
            const auto found = epoch.accepted.find(r.id);
            if (found == epoch.accepted.end()) {
                problems_.push_back(where + "report for unknown id " + std::to_string(r.id));
                continue;
            }
            if (r.text != found->second.first ||
                r.number != WithoutLeading86(found->second.second)) {
                problems_.push_back(where + "report " + std::to_string(r.id) + " is " + r.text +
                                    " to " + r.number);
            }
        }
        int32_t expectedId = 0;
        bool unfinishedSeen = false;
        for (const auto& [id, message] : epoch.accepted) {
            if (id != expectedId++) {
                problems_.push_back(where + "ids not dense at " + std::to_string(id));
            }
            const int32_t result = Service().Query(id);
            const int reports = reportCount.count(id) ? reportCount[id] : 0;
            if (result == -1) {
                unfinishedSeen = true;
                if (reports != 0) {
                    problems_.push_back(where + "report without result for " + std::to_string(id));
                }
            } else {
                ++finished_;
                if (unfinishedSeen) {
                    problems_.push_back(where + "id " + std::to_string(id) +
                                        " finished after an earlier one was left queued");
                }
                if (reports != 1) {
                    problems_.push_back(where + std::to_string(reports) + " reports for " +
                                        std::to_string(id));
                }
            }
            const auto seen = epoch.observed.find(id);
            if (seen != epoch.observed.end() && seen->second != result) {
                problems_.push_back(where + "query of " + std::to_string(id) + " saw " +
                                    std::to_string(seen->second) + ", now " +
                                    std::to_string(result));
            }
            outcomes_.emplace_back(message.first, result);
        }
        accepted_ += epoch.accepted.size();
        epochs_.emplace_back();
    }

    void RunStress() {
        epochs_.emplace_back();
        ASSERT_EQ(Start(), 1) << LastError();
        std::vector<std::thread> threads;
        for (int i = 0; i < kSenders; ++i) {
            threads.emplace_back([this, i] { Sender(i); });
        }
        threads.emplace_back([this] { Reporter(); });
        threads.emplace_back([this] { Reporter(); });
        threads.emplace_back([this] { Taker(); });
        threads.emplace_back([this] { Taker(); });
        threads.emplace_back([this] { Querier(1); });
        threads.emplace_back([this] { Querier(2); });
        threads.emplace_back([this] { Watcher(); });
        threads.emplace_back([this] { Injector(); });

        std::mt19937 random(GetParam() == Edition::Current ? 5 : 6);
        for (int run = 0; run < kEpochs; ++run) {
            // Where the stop lands: during the set-up; anywhere in a cycle after a few sends;
            // in the middle of a send; during the store listing; during a delete.
            const size_t sent = Engine().SentMessages().size();
            const char* const during[] = {nullptr, nullptr, "AT+CMGS", "AT+CMGL", "AT+CMGD"};
            const int kind = run % 5;
            if (kind == 1) {
                EXPECT_TRUE(Engine().WaitForSent(sent + 3, std::chrono::seconds(60)));
                std::this_thread::sleep_for(milliseconds(random() % 150));
            } else if (kind > 1) {
                EXPECT_TRUE(Engine().WaitForSent(sent + 1, std::chrono::seconds(60)));
                Engine().ClearCommandLog();
                EXPECT_TRUE(Engine().WaitForCommand(during[kind], std::chrono::seconds(60)));
            }
            StopAndMeasure();
            CloseEpoch();
            ASSERT_EQ(Start(), 1) << LastError();
        }
        done_.store(true);
        for (std::thread& thread : threads) {
            thread.join();
        }

        // A last run with nothing else going on: everything still in the module's store arrives,
        // each message once.
        EXPECT_TRUE(Eventually([&] {
            std::unique_lock<std::shared_mutex> hold(accountLock_);
            TakeOneReceived();
            std::lock_guard<std::mutex> data(dataLock_);
            return delivered_.size() == injected_.size();
        }));
        StopAndMeasure();
        CloseEpoch();
        EXPECT_EQ(Engine().StoreCount(), 0);

        // The module's own list of sent messages against the results.
        std::map<std::string, int> sentCount;
        for (const sim::SentMessage& sent : Engine().SentMessages()) {
            ++sentCount[sent.textUtf8];
        }
        std::set<std::string> known;
        int failed = 0;
        for (const auto& [text, result] : outcomes_) {
            known.insert(text);
            const int count = sentCount.count(text) ? sentCount[text] : 0;
            if (count > 1) {
                Problem("sent " + std::to_string(count) + " times: " + text);
            }
            if (result == 1 && count != 1) {
                Problem("reported sent but the module has it " + std::to_string(count) +
                        " times: " + text);
            }
            if (result == -1 && count != 0) {
                Problem("left without a result but sent: " + text);
            }
            failed += result == 0 ? 1 : 0;
        }
        for (const auto& [text, count] : sentCount) {
            if (known.count(text) == 0) {
                Problem("the module sent a message never accepted: " + text);
            }
        }
        // Nothing makes a send fail here; a failure would be a dialogue cut short by load.
        EXPECT_EQ(failed, 0);
        EXPECT_GE(finished_, static_cast<size_t>(kEpochs));
        EXPECT_GT(delivered_.size(), static_cast<size_t>(kEpochs));

        std::lock_guard<std::mutex> data(dataLock_);
        for (const std::string& problem : problems_) {
            ADD_FAILURE() << problem;
        }
        std::printf(
            "%zu accepted, %zu finished, %zu received, longest stop %lld ms (bound %lld)\n",
            accepted_, finished_, delivered_.size(),
            static_cast<long long>(std::chrono::duration_cast<milliseconds>(maxStop_).count()),
            static_cast<long long>(kStopBound.count()));
    }

    std::shared_mutex accountLock_;
    std::mutex dataLock_;
    std::vector<Epoch> epochs_;
    std::set<std::string> injected_;
    std::map<std::string, int> delivered_;
    std::vector<std::pair<std::string, int32_t>> outcomes_;
    std::vector<std::string> problems_;
    std::atomic<bool> done_{false};
    size_t accepted_ = 0;
    size_t finished_ = 0;
    Clock::duration maxStop_{};
};

TEST_P(Stress, EveryExportAtOnceAcrossStopsAndStarts) {
    RunStress();
}

INSTANTIATE_TEST_SUITE_P(Editions, Stress, testing::Values(Edition::Current, Edition::Legacy),
                         [](const testing::TestParamInfo<Edition>& info) {
                             return info.param == Edition::Current ? "Current" : "Legacy";
                         });

}  // namespace
}  // namespace tidewire

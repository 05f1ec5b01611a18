// A misbehaving module behind the scripted line: silent half-way through an answer, answering
// garbage, one byte per poll, with indications in the middle of its answers, or one answer
// behind; and a port whose n-th read or write fails. Whatever happens, no accepted message is
// lost or reported sent when the module did not send it, no stored message is deleted before
// the host has it or handed over twice, and the worker keeps cycling once the fault is gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "dialogue/dialogue_fixture.h"
#include "support/MisbehavingModule.h"

namespace tidewire {
namespace dialogue {
namespace {

class FaultTest : public ScriptedServiceTest {
  protected:
    FaultTest() {
        OnEverySleep([this](uint32_t ms) {
            if (ms != 500 && ms != pauses::kReconnectStepMs) {
                return;
            }
            size_t ticks = 0;
            std::function<void(size_t)> hook;
            {
                std::lock_guard<std::mutex> hold(tickLock_);
                ticks = ++ticks_;
                hook = tickHook_;
            }
            gate_.Pass();
            if (hook) {
                hook(ticks);
            }
        });
    }

    ~FaultTest() override { gate_.Open(); }

    // Starts the service on the model; the worker waits at its first rest until Release.
    void StartOn(MisbehavingModule& module) {
        module.Install(*modem_);
        ASSERT_EQ(Start(), 1);
        ASSERT_TRUE(Eventually([this] { return Ticks() >= 1; }));
    }

    void Release() { gate_.Open(); }

    // Runs on the worker's thread at every 500 ms wait (its rest, and the type-870 listing's
    // polls) and every step of its wait for a port to come back, with their count; the
    // sequence of waits follows from the dialogue alone.
    void OnEveryTick(std::function<void(size_t)> hook) {
        std::lock_guard<std::mutex> hold(tickLock_);
        tickHook_ = std::move(hook);
    }

    size_t Ticks() {
        std::lock_guard<std::mutex> hold(tickLock_);
        return ticks_;
    }

    // StopService must come back even if the worker misbehaved; a hang fails here, not in the
    // fixture's destructor.
    void StopWithinDeadline() {
        auto stopped = std::async(std::launch::async, [this] { return service_.StopService(); });
        ASSERT_EQ(stopped.wait_for(kDeadline), std::future_status::ready) << "StopService hangs";
        EXPECT_FALSE(service_.PortIsOpen());
    }

    // Every accepted id has one result and one report, a result of 1 only for a text the module
    // really sent (to that number), and the module sent nothing the host did not ask for.
    // A message whose verdict the module gives too late (or never) is reported failed although
    // it went out; one whose send ended in a port failure after the text was written is sent
    // again in the next cycle, as often as the fault lasts.
    void ExpectOutcomesHonest(const std::vector<std::pair<std::string, std::string>>& accepted,
                              bool lateVerdictsPossible, int mostSends = 1) {
        const std::vector<OutgoingMessage> reports = TakeReports();
        std::map<int32_t, int> reportsPerId;
        for (const OutgoingMessage& report : reports) {
            ++reportsPerId[report.id];
        }
        const std::vector<SentByModule> sent = model_->Sent();
        for (int32_t id = 0; id < static_cast<int32_t>(accepted.size()); ++id) {
            const int32_t result = service_.Query(id);
            EXPECT_NE(result, -1) << "id " << id << " never finished";
            EXPECT_EQ(reportsPerId[id], 1) << "reports for id " << id;
            const auto count = std::count_if(sent.begin(), sent.end(), [&](const SentByModule& s) {
                return s.text == accepted[id].first && s.number == accepted[id].second;
            });
            EXPECT_LE(count, mostSends) << "id " << id << " went out that often";
            if (result == 1) {
                EXPECT_GE(count, 1) << "id " << id << " reported sent, the module never sent it";
            } else if (!lateVerdictsPossible) {
                EXPECT_EQ(count, 0) << "id " << id << " was sent but reported failed";
            }
        }
        EXPECT_EQ(reports.size(), accepted.size());
        for (const SentByModule& s : sent) {
            const bool ours =
                std::any_of(accepted.begin(), accepted.end(), [&](const auto& message) {
                    return message.first == s.text && message.second == s.number;
                });
            EXPECT_TRUE(ours) << "the module sent \"" << s.text << "\" to " << s.number;
        }
    }

    // Every stored text reached the host, and only after it did was it deleted. A message whose
    // delete the port failed to write stays in the store and reaches the host once more.
    void ExpectStoreDrainedHonestly(const Strings& storedTexts, int mostCopies = 1) {
        const std::vector<ReceivedMessage> records = TakeReceived();
        std::map<std::string, int> delivered;
        for (const ReceivedMessage& record : records) {
            ++delivered[record.text];
        }
        for (const std::string& text : storedTexts) {
            EXPECT_GE(delivered[text], 1) << "\"" << text << "\" never delivered";
            EXPECT_LE(delivered[text], mostCopies) << "\"" << text << "\" delivered that often";
        }
        for (const auto& text : delivered) {
            EXPECT_NE(std::find(storedTexts.begin(), storedTexts.end(), text.first),
                      storedTexts.end())
                << "\"" << text.first << "\" was never stored";
        }
        for (const std::string& text : model_->Deleted()) {
            EXPECT_EQ(delivered.count(text), 1u) << "\"" << text << "\" deleted undelivered";
        }
        EXPECT_TRUE(model_->Stored().empty());
    }

    MisbehavingModule* model_ = nullptr;

  private:
    Gate gate_;
    std::mutex tickLock_;
    std::function<void(size_t)> tickHook_;
    size_t ticks_ = 0;
};

struct ModuleFault {
    int32_t family;
    Misbehaviour misbehaviour;
    // Written blocks that meet it (the silent kinds end on their own).
    int blocks;
};

std::string CaseName(const testing::TestParamInfo<ModuleFault>& info) {
    return std::string(MisbehaviourName(info.param.misbehaviour)) + "On" +
           std::to_string(info.param.family);
}

class ModuleFaultTest : public FaultTest, public testing::WithParamInterface<ModuleFault> {};

// One message queued and two stored while the module misbehaves for a stretch; once it behaves
// again, one more message and one more stored message must go through as usual.
TEST_P(ModuleFaultTest, NothingLostNothingFalseAndTheServiceRecovers) {
    const ModuleFault fault = GetParam();
    MisbehavingModule module(fault.family);
    model_ = &module;
    module.Store("in one");
    module.Store("in two");
    StartOn(module);
    std::vector<std::pair<std::string, std::string>> accepted = {{"out one", "13912345678"}};
    ASSERT_EQ(service_.SendMessage("out one", "13912345678"), 0);
    module.Misbehave(fault.misbehaviour, fault.blocks);
    Release();

    ASSERT_TRUE(Eventually([&] { return !module.Faulty(); }));
    module.Store("in three");
    accepted.emplace_back("out two", "13800138000");
    ASSERT_EQ(service_.SendMessage("out two", "13800138000"), 1);
    ASSERT_TRUE(Eventually([&] {
        return service_.Query(1) != -1 && module.Stored().empty() && service_.Query(0) != -1;
    })) << "store left: "
        << module.Stored().size() << ", results " << service_.Query(0) << " " << service_.Query(1);
    // A cycle more, so that a message delivered twice would show.
    const size_t ticks = Ticks();
    ASSERT_TRUE(Eventually([&] { return Ticks() >= ticks + 2; }));
    StopWithinDeadline();

    EXPECT_EQ(service_.Query(1), 1) << "the module behaves again: the next message goes out";
    const bool late = fault.misbehaviour == Misbehaviour::OneBytePerPoll ||
                      fault.misbehaviour == Misbehaviour::SilentAfterPrompt ||
                      fault.misbehaviour == Misbehaviour::OneAnswerBehind;
    ExpectOutcomesHonest(accepted, late);
    ExpectStoreDrainedHonestly({"in one", "in two", "in three"});
}

INSTANTIATE_TEST_SUITE_P(Modules, ModuleFaultTest,
                         testing::Values(ModuleFault{666, Misbehaviour::None, 0},
                                         ModuleFault{666, Misbehaviour::SilentAfterPrompt, 100},
                                         ModuleFault{666, Misbehaviour::DeafAfterPrompt, 100},
                                         ModuleFault{666, Misbehaviour::SilentMidListing, 100},
                                         ModuleFault{666, Misbehaviour::Garbage, 12},
                                         ModuleFault{666, Misbehaviour::OneBytePerPoll, 12},
                                         ModuleFault{666, Misbehaviour::Indications, 40},
                                         ModuleFault{666, Misbehaviour::OneAnswerBehind, 12},
                                         ModuleFault{870, Misbehaviour::None, 0},
                                         ModuleFault{870, Misbehaviour::SilentMidListing, 100},
                                         ModuleFault{870, Misbehaviour::SilentAfterPrompt, 100},
                                         ModuleFault{870, Misbehaviour::DeafAfterPrompt, 100},
                                         ModuleFault{870, Misbehaviour::SilentMidRead, 100},
                                         ModuleFault{870, Misbehaviour::Garbage, 12},
                                         ModuleFault{870, Misbehaviour::OneBytePerPoll, 12},
                                         ModuleFault{870, Misbehaviour::Indications, 40},
                                         ModuleFault{870, Misbehaviour::OneAnswerBehind, 12},
                                         ModuleFault{860, Misbehaviour::None, 0},
                                         ModuleFault{860, Misbehaviour::SilentMidListing, 100},
                                         ModuleFault{860, Misbehaviour::Garbage, 12},
                                         ModuleFault{860, Misbehaviour::OneBytePerPoll, 12},
                                         ModuleFault{860, Misbehaviour::Indications, 40}),
                         CaseName);

struct SilentStep {
    int32_t family;
    const char* silentTo;  // the one command the module does not answer
    const char* text;
    const char* lastError;  // nullptr: the step leaves the last error alone
};

class SilentStepTest : public FaultTest, public testing::WithParamInterface<SilentStep> {};

// A module that does not answer one step of a send: the message fails with the text of that
// step (or none, for the steps that have no text), and the next message goes out.
TEST_P(SilentStepTest, TheMessageFailsWithTheTextOfTheStep) {
    const SilentStep step = GetParam();
    MisbehavingModule module(step.family);
    model_ = &module;
    StartOn(module);
    module.MuteOnce(step.silentTo);
    MarkLastError();
    ASSERT_EQ(service_.SendMessage(step.text, "13912345678"), 0);
    Release();
    ASSERT_TRUE(Eventually([&] { return service_.Query(0) != -1; }));
    EXPECT_EQ(service_.Query(0), 0);
    EXPECT_EQ(LastError(), step.lastError != nullptr ? std::string(step.lastError) : Marker());
    ASSERT_EQ(service_.SendMessage("again", "13912345678"), 1);
    ASSERT_TRUE(Eventually([&] { return service_.Query(1) != -1; }));
    StopWithinDeadline();
    EXPECT_EQ(service_.Query(1), 1);
    // A module that takes a message and never confirms it has sent it: the host hears "failed".
    ExpectOutcomesHonest({{step.text, "13912345678"}, {"again", "13912345678"}},
                         step.lastError == nullptr);
}

constexpr const char* kChinese = "\xE4\xB8\xAD\xE6\x96\x87";

INSTANTIATE_TEST_SUITE_P(
    Steps, SilentStepTest,
    testing::Values(SilentStep{666, "AT+CMGF=1", "plain", "以英文发送时，AT+CMGF=1设置失败"},
                    SilentStep{666, "AT+CMGF=0", kChinese, "以中文发送时，AT+CMGF=0设置失败"},
                    SilentStep{666, "AT+CMGS=", "plain", nullptr},
                    SilentStep{666, "plain", "plain", nullptr},
                    SilentStep{870, "AT+ZMSGL=1,2", "plain", "以英文发送时，AT+ZMSGL=1, 2设置失败"},
                    SilentStep{870, "AT+ZMSGL=6,4", kChinese, "以中文发送时，AT+ZMSGL=6,4设置失败"},
                    SilentStep{870, "plain", "plain", nullptr},
                    SilentStep{860, "at$smsmo0=", "plain", nullptr}));

struct PortFault {
    int32_t family;
    bool reads;  // else writes
    uint32_t n;
    bool persistent;
};

std::string PortCaseName(const testing::TestParamInfo<PortFault>& info) {
    const PortFault& f = info.param;
    return std::string(f.reads ? "Read" : "Write") + std::to_string(f.n) +
           (f.persistent ? "OnwardsOn" : "OnceOn") + std::to_string(f.family);
}

class PortFaultTest : public FaultTest, public testing::WithParamInterface<PortFault> {};

// The n-th read or write from the first rest on fails (once, or until the fourth wait), in the
// middle of a send and a store poll. The worker reopens the port and sets the module up again;
// while the port fails for good the message stays queued and the text names the probe that
// fails; afterwards everything goes through and the store drains.
TEST_P(PortFaultTest, AFailingPortLosesNothingAndTheServiceRecovers) {
    const PortFault fault = GetParam();
    MisbehavingModule module(fault.family);
    model_ = &module;
    module.Store("in one");
    StartOn(module);
    ASSERT_EQ(service_.SendMessage("out one", "13912345678"), 0);
    std::mutex seenLock;
    std::vector<std::pair<std::string, int32_t>> seen;  // last error and Query(0) at each rest
    OnEveryTick([&](size_t tick) {
        if (tick > 4) {
            return;
        }
        if (tick == 4) {
            std::lock_guard<std::mutex> hold(seenLock);
            seen.emplace_back(LastError(), service_.Query(0));
        }
        if (tick == 4 && fault.persistent) {
            fault.reads ? modem_->FailReadAt(0) : modem_->FailWriteAt(0);
        }
    });
    fault.reads ? modem_->FailReadAt(fault.n, fault.persistent)
                : modem_->FailWriteAt(fault.n, fault.persistent);
    Release();
    ASSERT_TRUE(Eventually([&] { return Ticks() >= 5; }));
    ASSERT_EQ(service_.SendMessage("out two", "13800138000"), 1);
    module.Store("in two");
    ASSERT_TRUE(Eventually([&] {
        return service_.Query(0) != -1 && service_.Query(1) != -1 && module.Stored().empty();
    }));
    const size_t ticks = Ticks();
    ASSERT_TRUE(Eventually([&] { return Ticks() >= ticks + 2; }));
    StopWithinDeadline();

    if (fault.persistent) {
        std::lock_guard<std::mutex> hold(seenLock);
        ASSERT_EQ(seen.size(), 1u);
        // After the first failure the worker keeps reopening the port; the probe of the module
        // is what the lasting fault fails then, so its text is the one left standing.
        EXPECT_EQ(seen[0].first, "未连接好设备或者波特率错误");
        // A port failure never turns into a failed result: the message waits for the port, or
        // it had gone out before the failures began.
        if (fault.n == 1) {
            EXPECT_EQ(seen[0].second, -1) << "the message waits while the port fails";
        } else {
            EXPECT_NE(seen[0].second, 0);
        }
    }
    EXPECT_EQ(service_.Query(0), 1);
    EXPECT_EQ(service_.Query(1), 1);
    // A lasting fault strikes at most four cycles; a message is sent once per cycle.
    ExpectOutcomesHonest({{"out one", "13912345678"}, {"out two", "13800138000"}}, false,
                         fault.persistent ? 4 : 2);
    ExpectStoreDrainedHonestly({"in one", "in two"}, 2);
}

std::vector<PortFault> PortFaults() {
    std::vector<PortFault> all;
    for (const int32_t family : {666, 870, 860}) {
        for (const bool reads : {true, false}) {
            for (const uint32_t n : {1u, 2u, 3u, 4u, 6u, 9u, 15u}) {
                all.push_back({family, reads, n, false});
            }
            all.push_back({family, reads, 1, true});
            all.push_back({family, reads, 3, true});
        }
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(Ports, PortFaultTest, testing::ValuesIn(PortFaults()), PortCaseName);

}  // namespace
}  // namespace dialogue
}  // namespace tidewire

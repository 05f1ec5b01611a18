// The service against the simulated module on a real pty while the module misbehaves: silent
// after its prompt, garbage before its answers, one byte at a time, indications inside its
// answers, answers that come after the host stopped waiting, and a line that hangs up. Once the
// module behaves again the service must carry on, nothing accepted may be lost or reported sent
// when the module did not send it, and nothing may leave the store without reaching the host.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "FlowFixture.h"
#include "platform/Platform.h"
#include "platform/SerialDevice.h"

namespace tidewire {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

enum class Fault { SilentAfterPrompt, Garbage, OneBytePerPoll, Indications, Late };

const char* Name(Fault fault) {
    switch (fault) {
        case Fault::SilentAfterPrompt:
            return "SilentAfterPrompt";
        case Fault::Garbage:
            return "Garbage";
        case Fault::OneBytePerPoll:
            return "OneBytePerPoll";
        case Fault::Indications:
            return "Indications";
        case Fault::Late:
            return "Late";
    }
    return "?";
}

struct FlowFault {
    int family;
    Fault fault;
};

// The platform's serial device, counting what the library does with it, so that a test can
// tell a worker that rests between its polls from one that spins.
class CountingDevice final : public SerialDevice {
  public:
    explicit CountingDevice(std::atomic<long>& calls)
        : inner_(MakePlatformSerialDevice()), calls_(calls) {}
    void Open(const char* path, const LineSettings& settings) override {
        inner_->Open(path, settings);
    }
    void Close() noexcept override { inner_->Close(); }
    bool IsOpen() const noexcept override { return inner_->IsOpen(); }
    void SetImmediateReadTimeouts() override { inner_->SetImmediateReadTimeouts(); }
    void CheckConfiguration() override { inner_->CheckConfiguration(); }
    uint32_t Read(uint8_t* buffer, uint32_t count) override {
        ++calls_;
        return inner_->Read(buffer, count);
    }
    uint32_t Write(const uint8_t* buffer, uint32_t count) override {
        ++calls_;
        return inner_->Write(buffer, count);
    }
    void PurgeInput() override {
        ++calls_;
        inner_->PurgeInput();
    }
    void PurgeOutput() override {
        ++calls_;
        inner_->PurgeOutput();
    }

  private:
    std::unique_ptr<SerialDevice> inner_;
    std::atomic<long>& calls_;
};

sim::IncomingMessage Incoming(const std::string& text) {
    sim::IncomingMessage message;
    message.sender = "13800138000";
    message.textUtf8 = text;
    message.timestamp = sim::Timestamp{2024, 5, 12, 10, 23, 45, 32};
    return message;
}

class FaultFlowTest : public FlowTest {
  protected:
    explicit FaultFlowTest(int family, const std::string& linkPath = "")
        : FlowTest(family, Edition::Current, linkPath) {}

    void SetUp() override {
        FlowTest::SetUp();
        Service().UseDevice(std::make_unique<CountingDevice>(portCalls_));
        // The fixture's faster clock, with every wait counted.
        Service().SetSleepFunction([this](uint32_t ms) {
            ++sleeps_;
            std::this_thread::sleep_for(std::chrono::microseconds(ms * 1000 / kTimeDivisor));
        });
    }

    int32_t Accept(const std::string& text, const std::string& number) {
        const int32_t id = Service().SendMessage(text.c_str(), number.c_str());
        EXPECT_EQ(id, static_cast<int32_t>(accepted_.size()));
        accepted_.emplace_back(text, number);
        return id;
    }

    void Store(const std::string& text) {
        ASSERT_TRUE(Engine().Inject(Incoming(text)).stored) << text;
        stored_.push_back(text);
    }

    // Takes what the host can take now and checks the store against it: every message that has
    // left the store has reached the host.
    void TakeAndCompare() {
        ReceivedMessage record;
        while (Service().GetNextMessage(reinterpret_cast<char*>(&record)) == 1) {
            ++delivered_[record.text];
        }
        OutgoingMessage report;
        while (NextReport(report)) {
            ++reports_[report.id];
        }
        const size_t left = static_cast<size_t>(Engine().StoreCount());
        size_t reached = 0;
        for (const std::string& text : stored_) {
            reached += delivered_.count(text) != 0 ? 1 : 0;
        }
        EXPECT_LE(stored_.size() - left, reached) << "a message left the store undelivered";
    }

    bool AllDone() {
        for (int32_t id = 0; id < static_cast<int32_t>(accepted_.size()); ++id) {
            if (Service().Query(id) == -1) {
                return false;
            }
        }
        return Engine().StoreCount() == 0;
    }

    void StopWithinDeadline() {
        auto stopped = std::async(std::launch::async, [this] { return Service().StopService(); });
        ASSERT_EQ(stopped.wait_for(seconds(60)), std::future_status::ready) << "stop hangs";
    }

    // One result and one report per id; "sent" only for what the module sent; nothing sent
    // that the host did not ask for; every stored message delivered exactly once.
    void ExpectHonest(bool lateVerdictsPossible) {
        TakeAndCompare();
        const std::vector<sim::SentMessage> sent = Engine().SentMessages();
        for (int32_t id = 0; id < static_cast<int32_t>(accepted_.size()); ++id) {
            const int32_t result = Service().Query(id);
            EXPECT_NE(result, -1) << "id " << id;
            EXPECT_EQ(reports_[id], 1) << "reports of id " << id;
            int copies = 0;
            for (const sim::SentMessage& message : sent) {
                copies += message.textUtf8 == accepted_[id].first &&
                                  message.destination == accepted_[id].second
                              ? 1
                              : 0;
            }
            EXPECT_LE(copies, 1) << "id " << id;
            if (result == 1) {
                EXPECT_EQ(copies, 1) << "id " << id << " reported sent, never sent";
            } else if (!lateVerdictsPossible) {
                EXPECT_EQ(copies, 0) << "id " << id << " sent, reported failed";
            }
        }
        for (const sim::SentMessage& message : sent) {
            bool ours = false;
            for (const auto& accepted : accepted_) {
                ours = ours || (accepted.first == message.textUtf8 &&
                                accepted.second == message.destination);
            }
            EXPECT_TRUE(ours) << "the module sent \"" << message.textUtf8 << "\" to "
                              << message.destination;
        }
        for (const std::string& text : stored_) {
            EXPECT_EQ(delivered_[text], 1) << "\"" << text << "\"";
        }
        EXPECT_EQ(delivered_.size(), stored_.size());
        EXPECT_EQ(Engine().StoreCount(), 0);
    }

    std::atomic<long> portCalls_{0};
    std::atomic<long> sleeps_{0};
    std::vector<std::pair<std::string, std::string>> accepted_;
    std::vector<std::string> stored_;
    std::map<std::string, int> delivered_;
    std::map<int32_t, int> reports_;
};

class ModuleFaultFlowTest : public FaultFlowTest, public testing::WithParamInterface<FlowFault> {
  protected:
    ModuleFaultFlowTest() : FaultFlowTest(GetParam().family) {}

    // Switches the fault on; for the silent module, from the moment its prompt (or, on the
    // CDMA families without one, the send command) goes by.
    void Misbehave(Fault fault) {
        switch (fault) {
            case Fault::SilentAfterPrompt:
                Engine().SetTrafficObserver(
                    [this](sim::TrafficDirection direction, std::string_view bytes) {
                        const bool prompt = direction == sim::TrafficDirection::ModemToHost &&
                                            bytes.find("> ") != std::string_view::npos;
                        const bool send = direction == sim::TrafficDirection::HostToModem &&
                                          bytes.find("at$smsmo") != std::string_view::npos;
                        if (prompt || send) {
                            Engine().SetSilent(true);
                        }
                    });
                break;
            case Fault::Garbage:
                // No letters or digits, so no result code or time stamp can form by chance.
                Engine().SetGarbage(std::string("\x00\xFF\r\x80\n\r\xFE\x00,\"\n", 11));
                break;
            case Fault::OneBytePerPoll:
                // A byte every poll interval of the command exchanges.
                Engine().SetChunking(1, milliseconds(200 / kTimeDivisor));
                break;
            case Fault::Indications:
                Engine().SetInterjection(GetParam().family == 860 ? "^BOOT:20952548,0,0,0,72"
                                                                  : "+CMTI: \"SM\",3");
                break;
            case Fault::Late:
                // Beyond the limit of a command exchange (12 polls of 200 ms) and of a prompt.
                Engine().SetReplyDelay(milliseconds(4000 / kTimeDivisor));
                break;
        }
    }

    void Behave() {
        Engine().SetTrafficObserver(nullptr);
        Engine().ClearFaults();
    }
};

std::string FlowCaseName(const testing::TestParamInfo<FlowFault>& info) {
    return std::string(Name(info.param.fault)) + "On" + std::to_string(info.param.family);
}

// One message sent and two stored while the module misbehaves, until the first message has its
// outcome; then the module behaves, and one more of each must go through.
TEST_P(ModuleFaultFlowTest, NothingLostNothingFalseAndTheServiceRecovers) {
    const FlowFault param = GetParam();
    Store("stored one");
    Store("stored two");
    ASSERT_EQ(Start(), 1);
    // Once the module is set up: a module that misbehaves during its set-up ends the service.
    ASSERT_TRUE(
        Engine().WaitForCommand(param.family == 860 ? "at$smsmt" : "AT+CMGL", milliseconds(20000)));
    Misbehave(param.fault);
    Accept("out one", "13912345678");
    ASSERT_TRUE(Eventually([&] { return Service().Query(0) != -1; }, seconds(15))) << [&] {
        std::string log = LastError() + "\n";
        for (const std::string& line : Engine().CommandLog()) {
            log += line + "\n";
        }
        return log;
    }();
    // A full store poll under the fault as well.
    const long sleepsBefore = sleeps_;
    ASSERT_TRUE(Eventually([&] { return sleeps_ > sleepsBefore + 20; }));
    TakeAndCompare();
    Behave();
    // The module reads the next command only once it has written all it still owed, so two
    // store polls after this one it is answering on time again.
    const std::string listing = param.family == 860 ? "at$smsmt" : "AT+CMGL";
    const auto listings = [&] {
        size_t count = 0;
        for (const std::string& line : Engine().CommandLog()) {
            count += line.rfind(listing, 0) == 0 ? 1 : 0;
        }
        return count;
    };
    const size_t listingsBefore = listings();
    ASSERT_TRUE(Eventually([&] { return listings() >= listingsBefore + 2; }));

    Store("stored three");
    Accept("out two", "13800138000");
    ASSERT_TRUE(Eventually([&] { return AllDone(); }))
        << "store " << Engine().StoreCount() << ", last error " << LastError();
    EXPECT_EQ(Service().Query(1), 1) << "the module behaves: the next message goes out";
    StopWithinDeadline();
    const bool late = param.fault == Fault::SilentAfterPrompt ||
                      param.fault == Fault::OneBytePerPoll || param.fault == Fault::Late;
    ExpectHonest(late);
    if (param.fault == Fault::Garbage || param.fault == Fault::Indications) {
        EXPECT_EQ(Service().Query(0), 1) << "the answers were all there, between the noise";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modules, ModuleFaultFlowTest,
    testing::Values(FlowFault{666, Fault::SilentAfterPrompt}, FlowFault{666, Fault::Garbage},
                    FlowFault{666, Fault::OneBytePerPoll}, FlowFault{666, Fault::Indications},
                    FlowFault{666, Fault::Late}, FlowFault{870, Fault::SilentAfterPrompt},
                    FlowFault{870, Fault::Garbage}, FlowFault{870, Fault::OneBytePerPoll},
                    FlowFault{870, Fault::Indications}, FlowFault{870, Fault::Late},
                    FlowFault{860, Fault::SilentAfterPrompt}, FlowFault{860, Fault::Garbage},
                    FlowFault{860, Fault::Indications}),
    FlowCaseName);

class HangUpFlowTest : public FaultFlowTest {
  protected:
    HangUpFlowTest()
        : FaultFlowTest(666, testing::TempDir() + "tidewire-modem-" + std::to_string(getpid())) {}

    // SMSSeviceStarted, remembering any moment it said the service had stopped.
    bool Running() {
        const bool running = Service().ServiceStarted() == 1;
        everStopped_ = everStopped_ || !running;
        return running;
    }

    bool everStopped_ = false;
};

// A USB modem pulled out under a running service and plugged back in: its device goes away, and
// a new one appears at the same path. The service stays started, keeps its rhythm (every cycle
// rests; no poll without a wait), takes messages and says why nothing moves while the module
// is away; once it is back, the service sets it up again and carries on by itself.
TEST_F(HangUpFlowTest, AModulePulledOutAndPluggedBackInIsServedAgainWithoutARestart) {
    ASSERT_EQ(Start(), 1);
    ASSERT_TRUE(Engine().WaitForCommand("AT+CMGL", milliseconds(20000)));
    Modem().HangUp();
    ASSERT_TRUE(Eventually([&] { return Running() && LastError().rfind("串口打开错误", 0) == 0; }))
        << LastError();
    Accept("while away", "13912345678");
    Store("arrived while away");
    const long sleepsAtHangUp = sleeps_;
    const long callsAtHangUp = portCalls_;
    ASSERT_TRUE(Eventually([&] { return Running() && sleeps_ > sleepsAtHangUp + 12; }));
    EXPECT_LE(portCalls_ - callsAtHangUp, 4 * (sleeps_ - sleepsAtHangUp) + 8)
        << "the worker polls without resting";
    EXPECT_EQ(Service().Query(0), -1) << "nothing was sent: no outcome yet";

    Engine().ClearCommandLog();
    Modem().Restore();
    ASSERT_TRUE(Eventually([&] { return Running() && AllDone(); })) << LastError();
    EXPECT_EQ(Service().Query(0), 1);
    const std::vector<std::string> commands = Engine().CommandLog();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "AT+CNMI=1,0,0,0,1"), commands.end())
        << "the module, powered on again, was set up again";
    EXPECT_FALSE(everStopped_) << "SMSSeviceStarted said 0 while the module was away";
    StopWithinDeadline();
    ExpectHonest(false);
}

}  // namespace
}  // namespace tidewire

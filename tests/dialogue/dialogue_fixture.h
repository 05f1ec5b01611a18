// What every dialogue test stands on: the scripted modem line, waits that take no time but are
// written down, and a few readers of what the modem saw; on top of them the channel alone, a
// family's procedures on the channel, or the whole service.
#ifndef TIDEWIRE_TESTS_DIALOGUE_DIALOGUE_FIXTURE_H
#define TIDEWIRE_TESTS_DIALOGUE_DIALOGUE_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "api/SmsService.h"
#include "family/FamilyTable.h"
#include "family/ModuleFamily.h"
#include "modem/ModemChannel.h"
#include "support/ScriptedSerialDevice.h"
#include "support/TestData.h"

namespace tidewire {
namespace dialogue {

using Strings = std::vector<std::string>;
using Intervals = std::vector<uint32_t>;

// `count` waits of `ms` each.
inline Intervals Repeat(uint32_t ms, size_t count) {
    return Intervals(count, ms);
}

inline Intervals Concat(std::initializer_list<Intervals> parts) {
    Intervals all;
    for (const Intervals& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// n polls in which nothing arrives.
inline Strings Silence(size_t n) {
    return Strings(n, std::string());
}

// A reply captured from a real module, byte for byte, from the shared test data.
inline std::string CapturedReply(const std::string& fileName) {
    std::ifstream file(testdata::TestDataPath(fileName), std::ios::binary);
    EXPECT_TRUE(file.good()) << fileName;
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// How long a test waits for another thread before it fails: far beyond any honest run.
constexpr std::chrono::milliseconds kDeadline{20000};

// Tests whose condition comes true on another thread: polled until the deadline.
inline bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Holds the worker at its first rest until the test has queued and armed what it wants, so a
// cycle sees everything at once; the deadline only guards against a hang.
class Gate {
  public:
    void Open() {
        std::lock_guard<std::mutex> hold(lock_);
        open_ = true;
        opened_.notify_all();
    }
    void Pass() {
        std::unique_lock<std::mutex> hold(lock_);
        opened_.wait_for(hold, kDeadline, [this] { return open_; });
    }

  private:
    std::mutex lock_;
    std::condition_variable opened_;
    bool open_ = false;
};

constexpr const char* kDevicePath = "/dev/scripted";

// The scripted line and the log of the waits a dialogue makes, which every dialogue test reads.
class ScriptedLineTest : public ::testing::Test {
  private:
    // Declared before whatever the derived fixtures build on them, so they outlive any worker
    // that a service still joins.
    mutable std::mutex sleepLock_;
    Intervals sleeps_;
    std::function<void(uint32_t)> sleepHook_;

  protected:
    // The sleep that records every wait instead of waiting.
    SleepFunction RecordingSleep() {
        return [this](uint32_t ms) { OnSleep(ms); };
    }

    Intervals Sleeps() const {
        std::lock_guard<std::mutex> hold(sleepLock_);
        return sleeps_;
    }

    void ClearLog() {
        modem_->ClearEvents();
        std::lock_guard<std::mutex> hold(sleepLock_);
        sleeps_.clear();
    }

    // Runs on whichever thread waits, before the wait is recorded as done.
    void OnEverySleep(std::function<void(uint32_t)> hook) {
        std::lock_guard<std::mutex> hold(sleepLock_);
        sleepHook_ = std::move(hook);
    }

    // The polls made after the first write of exactly `written`, up to the next purge or write.
    size_t PollsAfter(const std::string& written) const {
        const Strings events = modem_->Events();
        size_t polls = 0;
        bool counting = false;
        for (const std::string& event : events) {
            if (!counting) {
                counting = event == "write:" + written;
                continue;
            }
            if (event.rfind("write:", 0) == 0 || event == "purge-in") {
                break;
            }
            if (event.rfind("read:", 0) == 0) {
                ++polls;
            }
        }
        return polls;
    }

    // The written blocks that begin with prefix, in order.
    Strings WritesStartingWith(const std::string& prefix) const {
        Strings found;
        for (const std::string& block : modem_->Writes()) {
            if (block.rfind(prefix, 0) == 0) {
                found.push_back(block);
            }
        }
        return found;
    }

    ScriptedSerialDevice* modem_ = nullptr;

  private:
    void OnSleep(uint32_t ms) {
        std::function<void(uint32_t)> hook;
        {
            std::lock_guard<std::mutex> hold(sleepLock_);
            sleeps_.push_back(ms);
            hook = sleepHook_;
        }
        if (hook) {
            hook(ms);
        }
        if (ms == 500) {
            // The worker's rest (and the 870 listing poll) yield the processor for a moment, so
            // a running worker does not flood the modem log; no result depends on it.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};

// The channel to a module on the scripted line, with the running flag its polls watch.
class ChannelTest : public ScriptedLineTest {
  protected:
    ChannelTest() {
        ReplaceModem();
        channel_.SetSleepFunction(RecordingSleep());
    }

    // A fresh modem line in place of the old one, for tests that walk through several cases.
    void ReplaceModem() {
        auto made = ScriptedSerialDevice::Make();
        modem_ = made.second;
        channel_.Port().SetDevice(std::move(made.first));
    }

    // The port open and the service running, as start-up leaves them.
    void OpenChannel() {
        channel_.Port().OpenPath(kDevicePath, LineSettings{});
        running_ = true;
        modem_->ClearEvents();
    }

    std::atomic<bool> running_{false};
    ModemChannel channel_{running_};
};

// The procedures of one family on the channel, with the inbox and the error log they report
// to, as the worker calls them.
class FamilyTest : public ChannelTest, private Inbox, private ErrorLog, private DeliveryLog {
  protected:
    explicit FamilyTest(Edition edition = Edition::Current)
        : session_{channel_, *this, *this, edition, this} {
        channel_.SetClockFunction([this] { return clockMs_; });
    }

    // The port as start-up leaves it, for the procedures of `family`, which know nothing yet
    // of the module.
    void OpenPort(int32_t family) {
        OpenChannel();
        session_.memory = ModuleMemory{};
        family_ = FamilyWithCode(family, session_.edition);
        ASSERT_NE(family_, nullptr) << family;
    }

    void SetServiceCentre(const char* centre) {
        std::memset(session_.serviceCentre, 0, sizeof session_.serviceCentre);
        std::strncpy(session_.serviceCentre, centre, sizeof session_.serviceCentre - 1);
    }

    SetUpResult SetUpModule() { return family_->SetUp(session_); }
    bool Send(TextKind kind, const std::string& text, char (&number)[32]) {
        return family_->Send(session_, kind, text.c_str(), number);
    }
    bool Receive() { return family_->Receive(session_); }

    std::string LastError() const { return lastError_ != nullptr ? lastError_ : ""; }
    // A text that a procedure which "leaves the last error unchanged" must not touch.
    void MarkLastError() { Record(ErrorText::NotStarted); }
    static constexpr const char* kMarker = "服务器未启动";
    void ClearLastError() { lastError_ = nullptr; }

    std::vector<ReceivedMessage> TakeReceived() {
        std::vector<ReceivedMessage> records;
        records.swap(received_);
        return records;
    }
    size_t ReceivedCount() const { return received_.size(); }

    ModuleSession session_;
    const ModuleFamily* family_ = nullptr;
    // The clock the procedures read; it moves only when a test moves it.
    uint64_t clockMs_ = 0;
    // The status reports handed over for matching, in order.
    std::vector<StatusReport> reports_;

    // The host has stored the record with this receipt.
    void Acknowledge(int32_t receipt) {
        unacknowledged_.erase(std::remove(unacknowledged_.begin(), unacknowledged_.end(), receipt),
                              unacknowledged_.end());
    }
    std::vector<int32_t> Unacknowledged() const { return unacknowledged_; }

  private:
    void Take(const ReceivedMessage& record) override { received_.push_back(record); }
    int32_t TakeHeld(const ReceivedMessage& record) override {
        received_.push_back(record);
        unacknowledged_.push_back(++lastReceipt_);
        return lastReceipt_;
    }
    size_t RoomToHold() override { return 512 - unacknowledged_.size(); }
    bool Acknowledged(int32_t first, int32_t last) override {
        return std::none_of(unacknowledged_.begin(), unacknowledged_.end(),
                            [&](int32_t receipt) { return receipt >= first && receipt <= last; });
    }
    void Record(ErrorText error) override { lastError_ = ErrorTextUtf8(error); }
    bool Match(const StatusReport& report) override {
        reports_.push_back(report);
        return true;
    }

    std::vector<ReceivedMessage> received_;
    std::vector<int32_t> unacknowledged_;
    int32_t lastReceipt_ = 0;
    const char* lastError_ = nullptr;
};

// The whole service, its port on the scripted line.
class ScriptedServiceTest : public ScriptedLineTest {
  protected:
    explicit ScriptedServiceTest(Edition edition = Edition::Current) : service_(edition) {
        ReplaceModem();
        service_.SetSleepFunction(RecordingSleep());
    }

    ~ScriptedServiceTest() override {
        // A test that failed half-way must not leave a worker polling a device that is gone.
        service_.StopService();
    }

    // A fresh modem line in place of the old one, for tests that walk through several cases.
    void ReplaceModem() {
        auto made = ScriptedSerialDevice::Make();
        modem_ = made.second;
        service_.UseDevice(std::move(made.first));
    }

    int32_t Start(const char* serviceCentre = "+8613800100500") {
        return service_.StartServiceOnDevice(kDevicePath, LineSettings{}, serviceCentre);
    }

    std::string LastError() {
        char buffer[1024] = {};
        const int32_t length = service_.GetLastError(buffer, sizeof buffer);
        return std::string(buffer, static_cast<size_t>(length));
    }

    // Leaves a text that a step which "leaves the last error unchanged" must not touch: that of
    // a start-up refused before it touches anything (the service is running, or the service
    // centre is too long).
    void MarkLastError() {
        EXPECT_EQ(Start("+86138001005001234567"), 0);
        marker_ = LastError();
        EXPECT_NE(marker_, "");
    }
    const std::string& Marker() const { return marker_; }

    std::vector<ReceivedMessage> TakeReceived() {
        std::vector<ReceivedMessage> records;
        ReceivedMessage record;
        while (service_.GetNextMessage(reinterpret_cast<char*>(&record)) == 1) {
            records.push_back(record);
        }
        return records;
    }

    std::vector<OutgoingMessage> TakeReports() {
        std::vector<OutgoingMessage> reports;
        OutgoingMessage report;
        while (service_.Report(reinterpret_cast<char*>(&report)) == 1) {
            reports.push_back(report);
        }
        return reports;
    }

    size_t OutgoingCount() { return service_.Queues().OutgoingCount(); }

    // The module answers the first block holding trigger only once a host's stop has cleared
    // the running flag, so the stop lands while that command is in flight; reached is set when
    // the block is written.
    void AnswerOnceStopped(const std::string& trigger, const std::string& answer,
                           std::atomic<bool>& reached) {
        modem_->OnWriteOnce(
            trigger, [this, answer, &reached](const std::string&, ScriptedSerialDevice& line) {
                reached = true;
                EXPECT_TRUE(Eventually([&] { return service_.ServiceStarted() == 0; }));
                line.Arrive({answer});
            });
    }

    SmsService service_;

  private:
    std::string marker_;
};

// A number buffer as the worker hands it to a sending procedure.
struct NumberBuffer {
    explicit NumberBuffer(const char* number) { std::strncpy(digits, number, sizeof digits - 1); }
    char digits[32] = {};
};

// A healthy module that names itself `model` and answers everything: the probe, the SIM, every
// set-up command, the prompt, a confirmed send, and OK to the rest (an empty store).
inline void ScriptGsmModule(ScriptedSerialDevice& modem, const std::string& model = "SIM800") {
    modem.OnWrite("AT\r", Strings{"AT\r\r\nOK\r\n"});
    modem.OnWrite("AT+GMM\r", Strings{"\r\n" + model + "\r\n\r\nOK\r\n"});
    modem.OnWrite("AT+CPIN?\r", Strings{"\r\n+CPIN: READY\r\n\r\nOK\r\n"});
    modem.OnWrite("AT+CMGS=", Strings{"\r\n> "});
    modem.OnWrite("\x1A", Strings{"\r\n+CMGS: 17\r\n\r\nOK\r\n"});
    modem.OnWrite(
        [](const std::string&, ScriptedSerialDevice& line) { line.Arrive({"\r\nOK\r\n"}); });
}

}  // namespace dialogue
}  // namespace tidewire

#endif

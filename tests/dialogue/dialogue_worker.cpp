// The worker thread against a scripted module that answers every command: one message per
// cycle, each cycle ending with a look at the module's store; what a failing port, a stop
// during a send and a failed set-up do to the messages and the service.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "dialogue/dialogue_fixture.h"

namespace tidewire {
namespace dialogue {
namespace {

constexpr const char* kChineseText = "\xE4\xB8\xAD\xE6\x96\x87";  // U+4E2D U+6587

class WorkerTest : public ScriptedServiceTest {
  protected:
    WorkerTest() {
        OnEverySleep([this](uint32_t ms) {
            // The worker's rest; on type 870 the store listing waits 500 ms as well.
            if (ms == 500) {
                AtRest();
            } else if (ms == pauses::kReconnectStepMs) {
                std::function<void()> hook;
                {
                    std::lock_guard<std::mutex> hold(restLock_);
                    hook = reconnectHook_;
                }
                if (hook) {
                    hook();
                }
            }
        });
    }

    ~WorkerTest() override {
        gate_.Open();
        service_.StopService();
    }

    // Starts on a healthy module of the given model; rules added before take precedence. The
    // worker sets the module up and is waiting at its first rest, until Release, on return.
    void StartHeld(const std::string& model = "SIM800") {
        ScriptGsmModule(*modem_, model);
        ASSERT_EQ(Start(), 1);
        ASSERT_TRUE(Eventually([this] { return Rests() >= 1; }));
    }

    void Release() { gate_.Open(); }

    // Runs at every rest of the worker, on the worker's thread.
    void OnEveryRest(std::function<void()> hook) {
        std::lock_guard<std::mutex> hold(restLock_);
        restHook_ = std::move(hook);
    }

    // Runs at every step of the worker's wait for a port to come back, on the worker's thread.
    void OnEveryReconnectStep(std::function<void()> hook) {
        std::lock_guard<std::mutex> hold(restLock_);
        reconnectHook_ = std::move(hook);
    }

    size_t Rests() {
        std::lock_guard<std::mutex> hold(restLock_);
        return rests_;
    }

    bool WaitForWrites(const std::string& prefix, size_t count) {
        return modem_->WaitUntil([&] { return WritesStartingWith(prefix).size() >= count; },
                                 kDeadline);
    }

    // The sends and the store listings in the order the module saw them.
    Strings SendsAndListings() const {
        Strings order;
        for (const std::string& block : modem_->Writes()) {
            if (block.rfind("AT+CMGS=", 0) == 0 || block == "AT+CMGL=4\r") {
                order.push_back(block);
            }
        }
        return order;
    }

  private:
    void AtRest() {
        {
            std::lock_guard<std::mutex> hold(restLock_);
            ++rests_;
        }
        gate_.Pass();
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> hold(restLock_);
            hook = restHook_;
        }
        if (hook) {
            hook();
        }
    }

    Gate gate_;
    std::mutex restLock_;
    std::function<void()> restHook_;
    std::function<void()> reconnectHook_;
    size_t rests_ = 0;
};

TEST_F(WorkerTest, QueuedMessagesGoOutInOrderOnePerCycleEachFollowedByAStorePoll) {
    StartHeld();
    ASSERT_EQ(service_.SendMessage("one", "111"), 0);
    ASSERT_EQ(service_.SendMessage("two", "222"), 1);
    ASSERT_EQ(service_.SendMessage("three", "333"), 2);
    Release();
    ASSERT_TRUE(WaitForWrites("AT+CMGL=4", 3));
    ASSERT_TRUE(Eventually([&] { return service_.Query(2) != -1; }));
    service_.StopService();

    const Strings order = SendsAndListings();
    ASSERT_GE(order.size(), 6u);
    EXPECT_EQ(Strings(order.begin(), order.begin() + 6),
              (Strings{"AT+CMGS=\"111\"\r", "AT+CMGL=4\r", "AT+CMGS=\"222\"\r", "AT+CMGL=4\r",
                       "AT+CMGS=\"333\"\r", "AT+CMGL=4\r"}));
    const std::vector<OutgoingMessage> reports = TakeReports();
    ASSERT_EQ(reports.size(), 3u);
    for (int id = 0; id < 3; ++id) {
        EXPECT_EQ(reports[id].id, id);
        EXPECT_EQ(service_.Query(id), 1);
    }
    EXPECT_STREQ(reports[2].text, "three");
    EXPECT_STREQ(reports[2].number, "333");
    EXPECT_EQ(OutgoingCount(), 0u);
}

TEST_F(WorkerTest, GsmSendsSingleByteTextAsTextOtherTextAsPduAndReportsWithout86) {
    StartHeld();
    service_.SendMessage("plain", "8613912345678");
    service_.SendMessage("plus", "+8613912345678");
    service_.SendMessage(kChineseText, "13912345678");
    Release();
    ASSERT_TRUE(Eventually([&] { return service_.Query(2) != -1; }));
    service_.StopService();

    EXPECT_EQ(
        WritesStartingWith("AT+CMGS="),
        (Strings{"AT+CMGS=\"8613912345678\"\r", "AT+CMGS=\"+8613912345678\"\r", "AT+CMGS=19\r"}));
    EXPECT_EQ(WritesStartingWith("AT+CMGF=1").size(), 2u) << "text mode for the two plain texts";
    const std::string pdu = WritesStartingWith("0891683108100005F0").at(0);
    EXPECT_NE(pdu.find("0D91683119325476F8"), std::string::npos) << "86 added for the module";

    const std::vector<OutgoingMessage> reports = TakeReports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_STREQ(reports[0].number, "13912345678");
    EXPECT_STREQ(reports[1].number, "+8613912345678");
    EXPECT_STREQ(reports[2].number, "13912345678");
}

TEST_F(WorkerTest, CdmaFamiliesPickTheEncodingByTheText) {
    modem_->OnWrite("at$smsmo=", Strings{"\r\n$006\r\n"});
    StartHeld("MODEL 199");
    service_.SendMessage("hello", "13912345678");
    service_.SendMessage(kChineseText, "13912345678");
    Release();
    ASSERT_TRUE(Eventually([&] { return service_.Query(1) != -1; }));
    service_.StopService();

    EXPECT_EQ(WritesStartingWith("at$smsmo="),
              (Strings{"at$smsmo=13912345678,13912345678,4098,2,0,0,68656C6C6F\r",
                       "at$smsmo=13912345678,13912345678,4098,4,0,0,4E2D6587\r"}));
    EXPECT_EQ(service_.Query(0), 1);
    EXPECT_EQ(service_.Query(1), 1);
}

TEST_F(WorkerTest, Type870PicksItsEncodingCommandByTheText) {
    StartHeld("CDMA 199");
    service_.SendMessage("hello", "13912345678");
    service_.SendMessage(kChineseText, "13912345678");
    Release();
    ASSERT_TRUE(Eventually([&] { return service_.Query(1) != -1; }));
    service_.StopService();

    EXPECT_EQ(WritesStartingWith("AT+ZMSGL="), (Strings{"AT+ZMSGL=1,2\r", "AT+ZMSGL=6,4\r"}));
    const Strings writes = modem_->Writes();
    EXPECT_NE(std::find(writes.begin(), writes.end(), std::string("hello\x1A")), writes.end());
    EXPECT_NE(std::find(writes.begin(), writes.end(), std::string("\x4E\x2D\x65\x87\x00\x1A", 6)),
              writes.end());
    EXPECT_EQ(service_.Query(0), 1);
    EXPECT_EQ(service_.Query(1), 1);
}

TEST_F(WorkerTest, ReceivedMessagesReachTheHostAndLeaveTheStore) {
    modem_->OnWriteOnce("AT+CMGL=4\r",
                        Strings{"\r\n+CMGL: 9,0,,35\r\n07917248014000F3240B917247587706F40000311"
                                "0824115248012C8329BFD06C9C373B8B82C97E741F034\r\n\r\nOK\r\n"});
    StartHeld();
    Release();
    ASSERT_TRUE(WaitForWrites("AT+CMGD=", 1));
    service_.StopService();
    const std::vector<ReceivedMessage> records = TakeReceived();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_STREQ(records[0].text, "Hello raspberry pi");
    EXPECT_EQ(WritesStartingWith("AT+CMGD="), Strings{"AT+CMGD=9\r"});
}

// With "hold-received" on a message stays in the store, listed but not queued again, until the
// host acknowledges its record; a record taken without a receipt counts as acknowledged.
TEST_F(WorkerTest, HeldMessageLeavesTheStoreOnlyOnceItsRecordIsAcknowledged) {
    const std::string pdu =
        "07917248014000F3240B917247587706F400003110824115248012C8329BFD06C9C373B8B82C97E741F034";
    std::mutex storeLock;
    std::vector<int> stored{9, 10};
    modem_->OnWrite("AT+CMGD=", [&](const std::string& written, ScriptedSerialDevice& line) {
        std::lock_guard<std::mutex> hold(storeLock);
        const int index = std::stoi(written.substr(8));
        stored.erase(std::remove(stored.begin(), stored.end(), index), stored.end());
        line.Arrive({"\r\nOK\r\n"});
    });
    modem_->OnWrite("AT+CMGL=4\r", [&](const std::string&, ScriptedSerialDevice& line) {
        std::lock_guard<std::mutex> hold(storeLock);
        std::string listing = "\r\n";
        for (const int index : stored) {
            listing += "+CMGL: " + std::to_string(index) + ",1,,35\r\n" + pdu + "\r\n";
        }
        line.Arrive({listing + "\r\nOK\r\n"});
    });
    ASSERT_EQ(service_.SetOption("hold-received", 1), 1);
    StartHeld();
    Release();
    ASSERT_TRUE(WaitForWrites("AT+CMGL=4", 3));

    ReceivedMessage record;
    int32_t receipt = 0;
    ASSERT_EQ(service_.GetNextMessageEx(reinterpret_cast<char*>(&record), &receipt), 1);
    EXPECT_STREQ(record.text, "Hello raspberry pi");
    EXPECT_GT(receipt, 0);
    EXPECT_EQ(service_.GetNextMessage(reinterpret_cast<char*>(&record)), 1);
    EXPECT_TRUE(TakeReceived().empty()) << "a held index is queued once";
    // Index 10 went without a receipt, and leaves at the start of a later step.
    ASSERT_TRUE(WaitForWrites("AT+CMGD=", 1));
    ASSERT_TRUE(WaitForWrites("AT+CMGL=4", 5));
    EXPECT_EQ(WritesStartingWith("AT+CMGD="), Strings{"AT+CMGD=10\r"});

    EXPECT_EQ(service_.AcknowledgeMessage(receipt), 1);
    EXPECT_EQ(service_.AcknowledgeMessage(receipt), 0) << "acknowledged before";
    ASSERT_TRUE(WaitForWrites("AT+CMGD=", 2));
    ASSERT_TRUE(WaitForWrites("AT+CMGL=4", 7));
    service_.StopService();
    EXPECT_EQ(WritesStartingWith("AT+CMGD="), (Strings{"AT+CMGD=10\r", "AT+CMGD=9\r"}));
    EXPECT_TRUE(TakeReceived().empty());
    // Each delete opens its receive step, before the step's listing.
    const Strings writes = modem_->Writes();
    for (size_t i = 0; i < writes.size(); ++i) {
        if (writes[i].rfind("AT+CMGD=", 0) == 0) {
            ASSERT_LT(i + 1, writes.size());
            EXPECT_EQ(writes[i + 1], "AT+CMGL=4\r");
        }
    }
}

TEST_F(WorkerTest, SendThatThrowsLeavesTheMessageForTheNextCycle) {
    StartHeld();
    ASSERT_EQ(service_.SendMessage("retry me", "13912345678"), 0);
    std::mutex textsLock;
    Strings texts;
    OnEveryRest([&] {
        std::lock_guard<std::mutex> hold(textsLock);
        texts.push_back(LastError());
        modem_->FailWriteAt(1);  // the next write, the send's first, fails once
    });
    Release();
    ASSERT_TRUE(Eventually([&] { return Rests() >= 4; }));
    service_.StopService();

    std::lock_guard<std::mutex> hold(textsLock);
    ASSERT_GE(texts.size(), 4u);
    for (size_t cycle = 1; cycle < texts.size(); ++cycle) {
        EXPECT_EQ(texts[cycle], "发送模块发生异常") << "after cycle " << cycle;
    }
    EXPECT_EQ(service_.Query(0), -1);
    EXPECT_TRUE(TakeReports().empty());
    EXPECT_EQ(OutgoingCount(), 1u);
    // The port failed: it is reopened and the module set up again before the next cycle.
    EXPECT_GE(modem_->Count("open"), 4u);
    EXPECT_GE(WritesStartingWith("AT+CNMI=").size(), 4u);
}

// A module pulled out: every command fails on its port and its device is gone. The worker keeps
// the service and the queue, says why, and looks for the device once every three waits of its
// reconnection step; a stop during that wait ends the worker without another look.
TEST_F(WorkerTest, AVanishedModuleIsLookedForEveryFewSecondsUntilAStopEndsTheWait) {
    StartHeld();
    ASSERT_EQ(service_.SendMessage("waits", "13912345678"), 0);
    modem_->FailOpen(ENOENT);
    modem_->FailPurgeAt(1, true, EIO);
    std::mutex lock;
    std::vector<size_t> opensAtStep;
    OnEveryReconnectStep([&] {
        size_t steps = 0;
        {
            std::lock_guard<std::mutex> hold(lock);
            opensAtStep.push_back(modem_->Count("open-error"));
            steps = opensAtStep.size();
        }
        if (steps == 7) {
            // Held here until the host's stop has cleared the flag.
            EXPECT_TRUE(Eventually([&] { return service_.ServiceStarted() == 0; }));
        }
    });
    Release();
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard<std::mutex> hold(lock);
        return opensAtStep.size() >= 7;
    }));
    EXPECT_EQ(service_.ServiceStarted(), 1);
    EXPECT_EQ(LastError(), std::string("串口打开错误") + std::strerror(ENOENT));
    EXPECT_EQ(service_.SendMessage("queued while away", "13912345678"), 1);
    EXPECT_EQ(service_.Query(0), -1);

    EXPECT_EQ(service_.StopService(), 1);
    EXPECT_FALSE(service_.Started());
    EXPECT_FALSE(service_.PortIsOpen());
    std::lock_guard<std::mutex> hold(lock);
    EXPECT_EQ(opensAtStep, (std::vector<size_t>{1, 1, 1, 2, 2, 2, 3}));
    EXPECT_EQ(modem_->Count("open-error"), 3u) << "no look for the device after the stop";
    EXPECT_EQ(OutgoingCount(), 2u);
    EXPECT_TRUE(TakeReports().empty());
}

TEST_F(WorkerTest, StopDuringASendStillRecordsItsOutcome) {
    // The module takes the message while the host's stop begins.
    std::atomic<bool> sending{false};
    AnswerOnceStopped("\x1A", "\r\n+CMGS: 3\r\n\r\nOK\r\n", sending);
    StartHeld();
    ASSERT_EQ(service_.SendMessage("last words", "8613912345678"), 0);
    Release();
    ASSERT_TRUE(Eventually([&] { return sending.load(); }));
    service_.StopService();
    EXPECT_FALSE(service_.Started());

    EXPECT_EQ(service_.Query(0), 1);
    const std::vector<OutgoingMessage> reports = TakeReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_STREQ(reports[0].number, "13912345678");
    EXPECT_EQ(OutgoingCount(), 0u);
    EXPECT_EQ(modem_->Writes().back(), "last words\x1A") << "no store poll after the stop";
    EXPECT_FALSE(service_.PortIsOpen());
}

TEST_F(WorkerTest, FatalSetUpEndsTheWorkerAndAllowsANewStartWithoutStop) {
    modem_->OnWriteOnce("AT+CNMI=", Strings{"\r\nERROR\r\n"});
    ScriptGsmModule(*modem_);
    ASSERT_EQ(Start(), 1);
    ASSERT_TRUE(Eventually([&] { return service_.ServiceStarted() == 0 && !service_.Started(); }));
    EXPECT_EQ(service_.ServiceStarted(), 0);
    EXPECT_EQ(LastError(), "初始化Modem(设置AT+CNMI=1,0,0,0,1)发生错误");
    EXPECT_FALSE(service_.PortIsOpen());
    EXPECT_EQ(service_.SendMessage("late", "13912345678"), -1);
    EXPECT_TRUE(WritesStartingWith("AT+CMGF=").empty()) << "the loop never began";

    ASSERT_EQ(Start(), 1);
    EXPECT_EQ(service_.ServiceStarted(), 1);
    EXPECT_EQ(service_.SendMessage("now", "13912345678"), 0);
    Release();
    service_.StopService();
}

}  // namespace
}  // namespace dialogue
}  // namespace tidewire

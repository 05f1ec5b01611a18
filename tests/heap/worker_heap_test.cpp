// The worker's thread must not touch the heap once it runs: not in a dialogue with the module,
// not when it hands a finished message or a received one to the host's queues. This program
// counts every heap call of the process (HeapCounter replaces the allocator) and watches the
// worker's thread through the service's wait, the one function every dialogue calls.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "HeapCounter.h"
#include "ModemEngine.h"
#include "PtyModem.h"
#include "api/SmsService.h"

namespace tidewire {
namespace {

constexpr uint32_t kTimeDivisor = 10;

template <class Condition>
bool Eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class WorkerHeapTest : public testing::TestWithParam<int> {
  protected:
    WorkerHeapTest() : engine_(Config(GetParam())), modem_(engine_), service_(Edition::Current) {}

    void SetUp() override {
        host_ = pthread_self();
        modem_.Start();
        // The first wait on a thread other than the host's is the worker's: from then on its
        // heap calls are counted on their own.
        service_.SetSleepFunction([this](uint32_t milliseconds) {
            if (!pthread_equal(pthread_self(), host_) && !watching_.exchange(true)) {
                heapcount::WatchThisThread();
            }
            std::this_thread::sleep_for(
                std::chrono::microseconds(milliseconds * 1000 / kTimeDivisor));
        });
        LineSettings settings;
        ASSERT_EQ(
            service_.StartServiceOnDevice(modem_.DevicePath().c_str(), settings, "+8613800100500"),
            1);
        ASSERT_TRUE(Eventually([&] { return watching_.load(); }));
    }

    void TearDown() override {
        service_.StopService();
        modem_.Stop();
    }

    static sim::ModemConfig Config(int family) {
        sim::ModemConfig config;
        config.family = family;
        return config;
    }

    // Sends both text kinds twice and has two messages arrive; returns once every outcome is
    // known and every received record has been taken by the host.
    void Round() {
        int32_t ids[4];
        ids[0] = service_.SendMessage("hello from the heap test", "13912345678");
        ids[1] = service_.SendMessage("\xe4\xbd\xa0\xe5\xa5\xbd", "13912345678");
        ids[2] = service_.SendMessage("second plain text", "13912345678");
        ids[3] = service_.SendMessage("\xe5\x86\x8d\xe8\xa7\x81", "13912345678");
        for (const int32_t id : ids) {
            ASSERT_GE(id, 0);
        }
        for (const char* text : {"hello", "\xe4\xbd\xa0\xe5\xa5\xbd"}) {
            sim::IncomingMessage message;
            message.sender = "+8613912345678";
            message.textUtf8 = text;
            const sim::InjectResult result = engine_.Inject(message);
            ASSERT_TRUE(result.stored) << result.error;
        }
        for (const int32_t id : ids) {
            ASSERT_TRUE(Eventually([&] { return service_.Query(id) != -1; })) << id;
        }
        char record[sizeof(ReceivedMessage)];
        int received = 0;
        ASSERT_TRUE(Eventually([&] {
            while (service_.GetNextMessage(record) == 1) {
                ++received;
            }
            return received == 2;
        }));
        char report[sizeof(OutgoingMessage)];
        while (service_.Report(report) == 1) {
        }
    }

    sim::ModemEngine engine_;
    sim::PtyModem modem_;
    SmsService service_;
    pthread_t host_{};
    std::atomic<bool> watching_{false};
};

TEST_P(WorkerHeapTest, SendsAndReceivesWithoutAHeapCall) {
    const uint64_t before = heapcount::WatchedThreadHeapCalls();
    Round();
    const uint64_t afterFirst = heapcount::WatchedThreadHeapCalls();
    Round();
    const uint64_t afterSecond = heapcount::WatchedThreadHeapCalls();
    EXPECT_EQ(afterFirst - before, 0u) << "first round";
    EXPECT_EQ(afterSecond - afterFirst, 0u) << "second round";
    // The counter itself works: this thread's own allocations are seen by the process count.
    const uint64_t processBefore = heapcount::HeapCalls();
    std::string allocated(1000, 'x');
    EXPECT_GT(heapcount::HeapCalls(), processBefore);
}

INSTANTIATE_TEST_SUITE_P(EveryFamily, WorkerHeapTest, testing::Values(666, 870, 860, 865));

// The options of a GSM module: a long message and a 7-bit one that ask for status reports, the
// reports matched to them, and a long message received in parts, joined, and held in the store
// until the host has taken it.
class WorkerHeapOptionsTest : public WorkerHeapTest {
  protected:
    void LongRound() {
        const std::string text(200, 'x');
        const int32_t ids[2] = {service_.SendMessage(text.c_str(), "13912345678"),
                                service_.SendMessage("Gr\xC3\xBC\xC3\x9F"
                                                     "e",
                                                     "13912345678")};
        sim::IncomingMessage message;
        message.sender = "+8613912345678";
        message.textUtf8 = std::string(300, 'y');
        sim::PartSelection parts;
        parts.order = {2, 1};
        const sim::InjectResult result = engine_.InjectParts(message, parts);
        ASSERT_TRUE(result.stored) << result.error;
        for (const int32_t id : ids) {
            ASSERT_GE(id, 0);
            ASSERT_TRUE(Eventually([&] { return service_.QueryDelivery(id) == 1; })) << id;
        }
        char record[sizeof(ReceivedMessage)];
        size_t received = 0;
        ASSERT_TRUE(Eventually([&] {
            while (service_.GetNextMessage(record) == 1) {
                received += std::strlen(record);
            }
            return received == message.textUtf8.size();
        }));
        char report[sizeof(OutgoingMessage)];
        while (service_.Report(report) == 1) {
        }
    }
};

TEST_P(WorkerHeapOptionsTest, LongMessagesAndReportsWithoutAHeapCall) {
    ASSERT_EQ(service_.SetOption("long-messages", 1), 1);
    ASSERT_EQ(service_.SetOption("delivery-reports", 1), 1);
    ASSERT_EQ(service_.SetOption("hold-received", 1), 1);
    const uint64_t before = heapcount::WatchedThreadHeapCalls();
    LongRound();
    const uint64_t afterFirst = heapcount::WatchedThreadHeapCalls();
    LongRound();
    EXPECT_EQ(afterFirst - before, 0u) << "first round";
    EXPECT_EQ(heapcount::WatchedThreadHeapCalls() - afterFirst, 0u) << "second round";
}

INSTANTIATE_TEST_SUITE_P(Gsm, WorkerHeapOptionsTest, testing::Values(666));

}  // namespace
}  // namespace tidewire

// A host's SMSSendMessage when the heap is exhausted: the export answers -1, and -1 must mean
// that nothing was queued and no id used, or a host that sends the message again has it sent
// twice. In this program because the counting allocator can make the host thread's
// allocations fail.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "HeapCounter.h"
#include "ModemEngine.h"
#include "PtyModem.h"
#include "api/SmsService.h"
#include "exports/ExportGuard.h"

namespace tidewire {
namespace {

TEST(SendMessageHeapTest, AnAllocationThatFailsQueuesNothingAndUsesNoId) {
    sim::ModemEngine engine;
    sim::PtyModem modem(engine);
    modem.Start();
    SmsService service(Edition::Current);
    service.SetSleepFunction([](uint32_t milliseconds) {
        std::this_thread::sleep_for(std::chrono::microseconds(milliseconds * 100));
    });
    ASSERT_EQ(
        service.StartServiceOnDevice(modem.DevicePath().c_str(), LineSettings{}, "+8613800100500"),
        1);

    // The first message after a start-up makes the first slot of the outcomes.
    heapcount::FailThisThreadsHeapCalls(true);
    const int32_t refused = Guarded<int32_t>(
        -1, [&] { return service.SendMessage("never to be sent", "13912345678"); });
    heapcount::FailThisThreadsHeapCalls(false);
    EXPECT_EQ(refused, -1);
    EXPECT_EQ(service.Queues().OutgoingCount(), 0u);

    ASSERT_EQ(service.SendMessage("sent once", "13912345678"), 0) << "the refusal used an id";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (service.Query(0) == -1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(service.Query(0), 1);
    service.StopService();
    const std::vector<sim::SentMessage> sent = engine.SentMessages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].textUtf8, "sent once");
    modem.Stop();
}

}  // namespace
}  // namespace tidewire

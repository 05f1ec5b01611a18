// The two editions side by side: what both do alike against the same module, and what the
// legacy edition does its own way (a stop that does not wait, a set-up that runs to its end,
// longer texts accepted and then refused by the sending procedure).
#include <dlfcn.h>

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "FlowFixture.h"
#include "tidewire_legacy.h"

namespace tidewire {
namespace {

class BothEditions : public FlowTest, public testing::WithParamInterface<Edition> {
  protected:
    BothEditions() : FlowTest(666, GetParam()) {}
};

TEST_P(BothEditions, SendBothTextKindsAndReceiveAlike) {
    sim::IncomingMessage incoming;
    incoming.sender = "+8613800138000";
    incoming.textUtf8 = "明天见 (see you tomorrow)";
    ASSERT_TRUE(Engine().Inject(incoming).stored);
    ASSERT_EQ(Start(), 1) << LastError();

    EXPECT_EQ(Outcome(Service().SendMessage("plain text", "8613912345678")), 1);
    EXPECT_EQ(Outcome(Service().SendMessage("中文", "13912345678")), 1);
    OutgoingMessage report;
    ASSERT_TRUE(NextReport(report));
    EXPECT_STREQ(report.number, "13912345678");
    ASSERT_TRUE(NextReport(report));
    EXPECT_STREQ(report.number, "13912345678");

    ReceivedMessage message;
    ASSERT_TRUE(AwaitMessage(message));
    EXPECT_STREQ(message.text, "明天见 (see you tomorrow)");
    EXPECT_STREQ(message.sender, "8613800138000");
}

TEST_P(BothEditions, AStopDuringASendStillRecordsItsOutcome) {
    ASSERT_EQ(Start(), 1) << LastError();
    Engine().SetChunking(1, std::chrono::milliseconds(3));
    const int32_t id = Service().SendMessage("sent while stopping", "5551234");
    ASSERT_TRUE(Engine().WaitForCommand("AT+CMGS", std::chrono::seconds(60)));
    Service().StopService();
    EXPECT_TRUE(Eventually([&] { return Service().Query(id) != -1; }));
    EXPECT_EQ(Service().Query(id), 1);
}

INSTANTIATE_TEST_SUITE_P(Editions, BothEditions, testing::Values(Edition::Current, Edition::Legacy),
                         [](const testing::TestParamInfo<Edition>& info) {
                             return info.param == Edition::Current ? "Current" : "Legacy";
                         });

class LegacyFlow : public FlowTest {
  protected:
    LegacyFlow() : FlowTest(666, Edition::Legacy) {}
};

TEST_F(LegacyFlow, AStartRightAfterAStopIsRefusedUntilTheWorkerHasEnded) {
    // The worker is held in its first wait (inside its set-up) until the test lets it go, so
    // the second start surely finds it still busy. The gate lives as long as the service's wait
    // function: the service's later workers outlive this test's body.
    struct Gate {
        std::mutex lock;
        std::condition_variable opened;
        bool open = false;
    };
    const auto gate = std::make_shared<Gate>();
    const std::thread::id host = std::this_thread::get_id();
    Service().SetSleepFunction([gate, host](uint32_t milliseconds) {
        if (std::this_thread::get_id() != host) {
            std::unique_lock<std::mutex> hold(gate->lock);
            gate->opened.wait(hold, [&] { return gate->open; });
        }
        std::this_thread::sleep_for(std::chrono::microseconds(milliseconds * 1000 / kTimeDivisor));
    });
    ASSERT_EQ(Start(), 1) << LastError();
    EXPECT_EQ(Service().StopService(), 1);
    EXPECT_EQ(Service().ServiceStarted(), 0);
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(LastError(), "服务已经启动(或还没有停止成功)，不能再次启动");
    EXPECT_EQ(Service().SendMessage("refused", "5551234"), -1);
    EXPECT_EQ(LastError(), "服务已经启动(或还没有停止成功)，不能再次启动");  // no text of its own
    {
        std::lock_guard<std::mutex> hold(gate->lock);
        gate->open = true;
    }
    gate->opened.notify_all();

    // The stopped worker still finished its set-up, service centre included, then ended.
    EXPECT_TRUE(Eventually([&] { return !Service().Started(); }));
    EXPECT_TRUE(Engine().WaitForCommand("AT+CSCA=", std::chrono::seconds(0)));
    ASSERT_EQ(Start(), 1) << LastError();
    EXPECT_EQ(Service().SendMessage("second run", "5551234"), 0);
    EXPECT_EQ(Outcome(0), 1);
}

TEST_F(LegacyFlow, TextsLongerThanTheCurrentLimitAreAcceptedThenRefusedBySending) {
    ASSERT_EQ(Start(), 1) << LastError();
    const std::string longText(256, 'x');
    const int32_t id = Service().SendMessage(longText.c_str(), "5551234");
    ASSERT_GE(id, 0);
    EXPECT_EQ(Outcome(id), 0);
    EXPECT_EQ(LastError(), "英文短信，长度不能大于140");
    OutgoingMessage report;
    ASSERT_TRUE(NextReport(report));
    EXPECT_EQ(std::string(report.text), longText);
    EXPECT_TRUE(Engine().SentMessages().empty());
}

// The legacy shared library as a host loads it: seven exports, the whole-text last error.
TEST(LegacyLibrary, ExportsItsSevenFunctionsAndCopiesTheLastErrorWhole) {
    void* handle = dlopen(TIDEWIRE_LEGACY_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    EXPECT_EQ(dlsym(handle, "SMSSeviceStarted"), nullptr);
    EXPECT_EQ(dlsym(handle, "SMSStartServiceEx"), nullptr);
    const auto start =
        reinterpret_cast<decltype(&SMSStartService)>(dlsym(handle, "SMSStartService"));
    const auto send = reinterpret_cast<decltype(&SMSSendMessage)>(dlsym(handle, "SMSSendMessage"));
    const auto lastError =
        reinterpret_cast<decltype(&SMSGetLastError)>(dlsym(handle, "SMSGetLastError"));
    const auto stop = reinterpret_cast<decltype(&SMSStopSerice)>(dlsym(handle, "SMSStopSerice"));
    ASSERT_TRUE(start && send && lastError && stop);

    char buffer[1024];
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(lastError(buffer), 0);  // empty after load, NUL written
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(static_cast<unsigned char>(buffer[1]), 0x5A);
    EXPECT_EQ(send("hello", "5551234"), -1);  // not started: no text
    EXPECT_EQ(lastError(buffer), 0);

    EXPECT_EQ(start(0, 115200, 2, 8, 0, 0, "card"), 0);  // COM0 names no device
    const std::string text = std::string("串口打开错误") + std::strerror(ENOENT);
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(lastError(buffer), static_cast<int32_t>(text.size()));
    EXPECT_EQ(std::string(buffer), text);
    EXPECT_EQ(static_cast<unsigned char>(buffer[text.size() + 1]), 0x5A);
    EXPECT_EQ(lastError(nullptr), 0);
    EXPECT_EQ(stop(), 1);
    dlclose(handle);
}

}  // namespace
}  // namespace tidewire

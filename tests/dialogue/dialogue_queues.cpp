// The host's side of the queues: what SMSSendMessage accepts and refuses in each edition, and
// how records are laid out and handed out.
#include <cstddef>
#include <string>

#include "dialogue_fixture.h"

namespace tidewire {
namespace dialogue {
namespace {

class QueueTest : public ScriptedServiceTest {
  protected:
    explicit QueueTest(Edition edition = Edition::Current) : ScriptedServiceTest(edition) {}

    // A running service whose worker rests until the test lets it go, so queued messages stay
    // where the test put them.
    void StartHeld() {
        ScriptGsmModule(*modem_);
        OnEverySleep([this](uint32_t ms) {
            if (ms == 500) {
                std::unique_lock<std::mutex> hold(gateLock_);
                gate_.wait(hold, [this] { return released_; });
            }
        });
        ASSERT_EQ(Start(), 1) << LastError();
    }

    void Release() {
        std::lock_guard<std::mutex> hold(gateLock_);
        released_ = true;
        gate_.notify_all();
    }

    void TearDown() override {
        Release();
        service_.StopService();
        // The legacy stop does not wait for the worker, whose next rest would still run the
        // hook above on this object's gate while the object is being destroyed.
        EXPECT_TRUE(Eventually([this] { return !service_.Started(); }));
    }

    // The refusal of one message: -1, this text, and nothing queued or numbered.
    void ExpectRefused(const char* text, const char* number, const std::string& reason) {
        const size_t before = OutgoingCount();
        EXPECT_EQ(service_.SendMessage(text, number), -1);
        EXPECT_EQ(LastError(), reason);
        EXPECT_EQ(OutgoingCount(), before);
    }

    std::mutex gateLock_;
    std::condition_variable gate_;
    bool released_ = false;
};

TEST_F(QueueTest, LengthsAreCheckedInBytesAtTheirLimits) {
    StartHeld();
    const std::string text255(255, 'a');
    const std::string number31(31, '1');
    EXPECT_EQ(service_.SendMessage(text255.c_str(), number31.c_str()), 0);
    ExpectRefused(std::string(256, 'a').c_str(), "5551234", "发送的内容大于255或小于等于0");
    ExpectRefused("", "5551234", "发送的内容大于255或小于等于0");
    ExpectRefused(nullptr, "5551234", "发送的内容大于255或小于等于0");
    // An empty text is refused before the number is looked at.
    ExpectRefused("", "", "发送的内容大于255或小于等于0");
    ExpectRefused("hi", std::string(32, '1').c_str(), "发送的手机号码大于31或小于等于0");
    ExpectRefused("hi", nullptr, "发送的手机号码大于31或小于等于0");
    // No id was used up by the refusals.
    EXPECT_EQ(service_.SendMessage("next", "5551234"), 1);
}

TEST_F(QueueTest, NumbersAndTextsThatWouldRewriteTheCommandLineAreRefused) {
    StartHeld();
    // A ';' would end the command of types 860 and 865, which write the number unquoted.
    for (const char* number : {"555\"1234", "555,1234", "555\r1234", "555\nAT", "555;+CMGD=1",
                               "\x1b"
                               "5551"}) {
        SCOPED_TRACE(number);
        ExpectRefused("hello", number, "发送的手机号码含有非法字符");
    }
    ExpectRefused(
        "hello\x1A"
        "AT+CMGD=1",
        "5551234", "发送的内容含有非法控制字符");
    ExpectRefused("hello\x1B", "5551234", "发送的内容含有非法控制字符");
    // The length checks come first.
    ExpectRefused(std::string(256, '\x1A').c_str(), "5551234", "发送的内容大于255或小于等于0");
    // Line breaks and other bytes are ordinary message text.
    EXPECT_EQ(service_.SendMessage("line one\r\nline two\t\"quoted\", ok", "+8613912345678"), 0);
}

TEST_F(QueueTest, AcceptedRecordsCarryTheirTextsAtTheirOffsetsZeroPadded) {
    StartHeld();
    ASSERT_EQ(service_.SendMessage("hello", "13912345678"), 0);
    OutgoingMessage record;
    ASSERT_TRUE(service_.Queues().PeekOutgoing(record));
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    EXPECT_EQ(offsetof(OutgoingMessage, text), 4u);
    EXPECT_EQ(offsetof(OutgoingMessage, number), 264u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 4), 5), "hello");
    for (size_t i = 9; i < 264; ++i) {
        ASSERT_EQ(bytes[i], 0) << i;
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 264), 11), "13912345678");
    for (size_t i = 275; i < 296; ++i) {
        ASSERT_EQ(bytes[i], 0) << i;
    }
    EXPECT_EQ(offsetof(ReceivedMessage, sender), 256u);
    EXPECT_EQ(offsetof(ReceivedMessage, timestamp), 288u);
}

TEST_F(QueueTest, OutcomesAndReportsFollowTheOrderOfAcceptance) {
    StartHeld();
    EXPECT_EQ(service_.SendMessage("one", "8613900000001"), 0);
    EXPECT_EQ(service_.SendMessage("two", "+8613900000002"), 1);
    EXPECT_EQ(service_.Query(0), -1);
    EXPECT_EQ(service_.Query(7), -1);
    Release();
    ASSERT_TRUE(Eventually([this] { return service_.Query(1) != -1; }));
    const std::vector<OutgoingMessage> reports = TakeReports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].id, 0);
    EXPECT_STREQ(reports[0].number, "13900000001");
    EXPECT_EQ(reports[1].id, 1);
    EXPECT_STREQ(reports[1].number, "+8613900000002");  // a "+" keeps the country code
    // The outcome stays queryable after its report was taken, and after a stop.
    EXPECT_EQ(service_.Query(0), 1);
    service_.StopService();
    EXPECT_EQ(service_.Query(1), 1);
}

TEST_F(QueueTest, TakingFromEmptyQueuesLeavesBufferAndLastErrorAlone) {
    MarkLastError();
    char buffer[400];
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(service_.Report(buffer), 0);
    EXPECT_EQ(service_.GetNextMessage(buffer), 0);
    EXPECT_EQ(service_.Report(nullptr), 0);
    for (const char byte : buffer) {
        ASSERT_EQ(byte, 0x5A);
    }
    EXPECT_EQ(LastError(), Marker());
}

class LegacyQueueTest : public QueueTest {
  protected:
    LegacyQueueTest() : QueueTest(Edition::Legacy) {}
};

TEST_F(LegacyQueueTest, RefusesOnlyEmptyOrUnfittingMessagesWithItsOwnTexts) {
    MarkLastError();
    EXPECT_EQ(service_.SendMessage("hello", "5551234"), -1);  // not started: no text is set
    EXPECT_EQ(LastError(), Marker());
    StartHeld();
    EXPECT_EQ(service_.SendMessage(std::string(259, 'a').c_str(), "5551234"), 0);
    ExpectRefused("", "5551234", "待发送内容或对方号码不能为空");
    ExpectRefused("hello", nullptr, "待发送内容或对方号码不能为空");
    ExpectRefused(std::string(260, 'a').c_str(), "5551234", "待发送内容或对方号码过长");
    ExpectRefused("hello", std::string(32, '1').c_str(), "待发送内容或对方号码过长");
    ExpectRefused("hello", "555\"1", "发送的手机号码含有非法字符");
    ExpectRefused("hello", "555;1", "发送的手机号码含有非法字符");
}

}  // namespace
}  // namespace dialogue
}  // namespace tidewire

// The options of the current edition end to end against the simulated modem: long messages out
// as parts and in joined, status reports asked for and matched to ids, and the CDMA families
// that cannot honour them.
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>

#include "FlowFixture.h"

namespace tidewire {
namespace {

using std::chrono::seconds;

using GsmLongFlow = FlowTest;

TEST_F(GsmLongFlow, LongMessagesGoInPartsAndTheirDeliveryIsReportedById) {
    EXPECT_EQ(Service().SetOption("long-message", 1), 0);
    EXPECT_EQ(Service().SetOption("delivery-reports", 2), 0);
    EXPECT_EQ(Service().SetOption("reassembly-seconds", 0), 0);
    ASSERT_EQ(Service().SetOption("long-messages", 1), 1);
    ASSERT_EQ(Service().SetOption("delivery-reports", 1), 1);
    Engine().SetStatusReportDelay(std::chrono::milliseconds(300));
    ASSERT_EQ(Start(), 1) << LastError();

    std::string text;
    for (int i = 0; text.size() < 200; ++i) {
        text += "part of a long message " + std::to_string(i) + ". ";
    }
    text.resize(200);
    const int32_t delivered = Service().SendMessage(text.c_str(), "13912345678");
    ASSERT_EQ(Outcome(delivered), 1) << LastError();
    auto sent = Engine().SentMessages();
    ASSERT_EQ(sent.size(), 2u);
    ASSERT_TRUE(sent[0].concat && sent[1].concat);
    EXPECT_EQ(sent[0].concat->reference, sent[1].concat->reference);
    EXPECT_EQ(sent[0].concat->sequence, 1);
    EXPECT_EQ(sent[1].concat->sequence, 2);
    EXPECT_TRUE(sent[0].statusReportRequested && sent[1].statusReportRequested);
    EXPECT_EQ(sent[0].textUtf8 + sent[1].textUtf8, text);
    EXPECT_TRUE(Eventually([&] { return Service().QueryDelivery(delivered) == 1; }));

    // One 7-bit message to a number that carries its own country code; this time the network
    // gives up.
    Engine().SetStatusReportOutcome(0x41);
    const int32_t failed = Service().SendMessage("Grüße aus München", "+4915112345678");
    ASSERT_EQ(Outcome(failed), 1) << LastError();
    sent = Engine().SentMessages();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].destination, "+4915112345678");
    EXPECT_EQ(sent[2].textUtf8, "Grüße aus München");
    EXPECT_NE(sent[2].rawPdu.find("FF1147"), std::string::npos) << "DCS 00, 17 septets: 'G'";
    EXPECT_TRUE(Eventually([&] { return Service().QueryDelivery(failed) == 0; }));
    EXPECT_EQ(Service().QueryDelivery(delivered), 1);
    EXPECT_TRUE(Eventually([&] { return Engine().StoreCount() == 0; })) << "reports deleted";

    // The options hold across a stop and a start.
    ASSERT_EQ(Service().StopService(), 1);
    ASSERT_EQ(Start(), 1) << LastError();
    const int32_t again = Service().SendMessage(text.c_str(), "13912345678");
    ASSERT_EQ(Outcome(again), 1) << LastError();
    sent = Engine().SentMessages();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_TRUE(sent[4].concat && sent[4].statusReportRequested);
    EXPECT_NE(sent[4].concat->reference, sent[0].concat->reference);
}

// The clock the worker reads outlives it: the fixture stops the service first.
class GsmReassemblyFlow : public FlowTest {
  protected:
    std::atomic<uint64_t> clock_{0};
};

TEST_F(GsmReassemblyFlow, PartsAreJoinedOnceAllAreThereAndAPartLostGoesOnItsOwn) {
    Service().SetClockFunction([this] { return clock_.load(); });
    ASSERT_EQ(Service().SetOption("long-messages", 1), 1);
    ASSERT_EQ(Start(), 1) << LastError();

    // 400 characters, three parts, the last arriving late; joined they are longer than a record.
    std::string text;
    for (int i = 0; text.size() < 400; ++i) {
        text += "line " + std::to_string(i) + " of a text that needs three parts; ";
    }
    text.resize(400);
    sim::IncomingMessage message;
    message.sender = "+8613800138000";
    message.textUtf8 = text;
    sim::PartSelection parts;
    parts.order = {3, 1};
    const sim::InjectResult stored = Engine().InjectParts(message, parts);
    ASSERT_TRUE(stored.stored) << stored.error;
    ASSERT_EQ(stored.partCount, 3);
    // They wait: the worker asks whether the store is full, and a whole cycle later nothing has
    // been queued.
    ASSERT_TRUE(Engine().WaitForCommand("AT+CPMS?", seconds(60)));
    Engine().ClearCommandLog();
    ASSERT_TRUE(Engine().WaitForCommand("AT+CMGL", seconds(60)));
    ReceivedMessage record;
    EXPECT_EQ(Service().GetNextMessage(reinterpret_cast<char*>(&record)), 0);
    EXPECT_EQ(Engine().StoreCount(), 2);

    parts.order = {2};
    parts.reference = stored.concatReference;
    ASSERT_TRUE(Engine().InjectParts(message, parts).stored);
    std::string joined;
    ASSERT_TRUE(AwaitMessage(record));
    EXPECT_EQ(std::strlen(record.text), 255u);
    joined += record.text;
    ASSERT_TRUE(AwaitMessage(record));
    joined += record.text;
    EXPECT_EQ(joined, text);
    EXPECT_STREQ(record.sender, "8613800138000");
    EXPECT_TRUE(Eventually([&] { return Engine().StoreCount() == 0; }));

    // A message whose second part never comes: its first goes on its own once it is overdue.
    message.textUtf8 = text.substr(0, 200);
    parts.order = {1};
    parts.reference.reset();
    ASSERT_TRUE(Engine().InjectParts(message, parts).stored);
    Engine().ClearCommandLog();
    ASSERT_TRUE(Engine().WaitForCommand("AT+CPMS?", seconds(60)));
    clock_ = 600 * 1000;
    ASSERT_TRUE(AwaitMessage(record));
    EXPECT_EQ(std::string(record.text), text.substr(0, 153));
    EXPECT_TRUE(Eventually([&] { return Engine().StoreCount() == 0; }));
}

class CdmaOptionsFlow : public FlowTest {
  protected:
    CdmaOptionsFlow() : FlowTest(870) {}
};

TEST_F(CdmaOptionsFlow, ACdmaModuleRefusesTheOptionsAndSendsAsWithoutThem) {
    // Before the start the family is not known: the options are taken.
    ASSERT_EQ(Service().SetOption("long-messages", 1), 1);
    ASSERT_EQ(Service().SetOption("delivery-reports", 1), 1);
    ASSERT_EQ(Start(), 1) << LastError();
    EXPECT_EQ(Service().SetOption("long-messages", 1), 0);
    EXPECT_EQ(Service().SetOption("delivery-reports", 1), 0);
    EXPECT_EQ(Service().SetOption("reassembly-seconds", 60), 1);

    const int32_t tooLong = Service().SendMessage(std::string(150, 'a').c_str(), "13912345678");
    EXPECT_EQ(Outcome(tooLong), 0);
    EXPECT_EQ(LastError(), "英文短信，长度不能大于140");
    const int32_t shortOne = Service().SendMessage("hello", "13912345678");
    EXPECT_EQ(Outcome(shortOne), 1);
    EXPECT_EQ(Service().QueryDelivery(shortOne), -1) << "never asked for";
    EXPECT_EQ(Service().SetOption("long-messages", 0), 1);
}

}  // namespace
}  // namespace tidewire

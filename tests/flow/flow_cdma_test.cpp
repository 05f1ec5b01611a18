// The service end to end on the CDMA families: type 870 with its text-mode commands and raw
// bodies, types 860 and 865 with whole messages on one command line. Each family sends ASCII
// and Chinese, receives both encodings, and shows how it empties (or does not empty) its store.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FlowFixture.h"

namespace tidewire {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const char kChinese[] = "你好，世界";

sim::IncomingMessage Incoming(std::string text, std::string sender = "13800138000") {
    sim::IncomingMessage message;
    message.sender = std::move(sender);
    message.textUtf8 = std::move(text);
    message.timestamp = sim::Timestamp{2024, 5, 12, 10, 23, 45, 32};
    return message;
}

// The command lines that start with one of the prefixes, in the order the module got them.
std::vector<std::string> Commands(sim::ModemEngine& engine,
                                  const std::vector<std::string>& prefixes) {
    std::vector<std::string> found;
    for (const std::string& line : engine.CommandLog()) {
        for (const std::string& prefix : prefixes) {
            if (line.rfind(prefix, 0) == 0) {
                found.push_back(line);
                break;
            }
        }
    }
    return found;
}

class CdmaFlow : public FlowTest {
  protected:
    explicit CdmaFlow(int family) : FlowTest(family) {}

    void Deliver(const sim::IncomingMessage& message) {
        const sim::InjectResult result = Engine().Inject(message);
        ASSERT_TRUE(result.stored) << result.error;
    }

    // Sends both texts and checks what the network got and what the host is told.
    void SendAsciiAndChinese() {
        const int32_t ascii = Service().SendMessage("Hello, OK and ERROR", "8613912345678");
        const int32_t chinese = Service().SendMessage(kChinese, "13912345678");
        EXPECT_EQ(Outcome(ascii), 1) << LastError();
        EXPECT_EQ(Outcome(chinese), 1) << LastError();

        const auto sent = Engine().SentMessages();
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(sent[0].destination, "8613912345678");  // no 86 added or removed here
        EXPECT_EQ(sent[0].textUtf8, "Hello, OK and ERROR");
        EXPECT_EQ(sent[1].destination, "13912345678");
        EXPECT_EQ(sent[1].textUtf8, kChinese);

        OutgoingMessage report;
        ASSERT_TRUE(NextReport(report));
        EXPECT_EQ(report.id, ascii);
        EXPECT_STREQ(report.number, "13912345678");  // the report drops the leading 86
        ASSERT_TRUE(NextReport(report));
        EXPECT_EQ(report.id, chinese);
        EXPECT_FALSE(NextReport(report));
    }

    // Delivers an ASCII and a Chinese message and takes both, in delivery order.
    void ReceiveAsciiAndChinese(const char* expectedTime) {
        Deliver(Incoming("Meet at 10, OK?", "13800138000"));
        Deliver(Incoming("收到请回复", "10086"));
        ASSERT_EQ(Start(), 1) << LastError();
        ReceivedMessage message;
        ASSERT_TRUE(AwaitMessage(message));
        EXPECT_STREQ(message.text, "Meet at 10, OK?");
        EXPECT_STREQ(message.sender, "13800138000");
        EXPECT_STREQ(message.timestamp, expectedTime);
        ASSERT_TRUE(AwaitMessage(message));
        EXPECT_STREQ(message.text, "收到请回复");
        EXPECT_STREQ(message.sender, "10086");
    }

    // Lets the worker reach its store poll with a message waiting and the module's answer
    // trickling in, a byte every 50 ms: the answer takes seconds, so the poll is surely still
    // waiting for it when the host stops the service.
    void StopWhileTheStorePollWaits(const std::string& readCommand) {
        ASSERT_EQ(Start(), 1) << LastError();
        ASSERT_TRUE(Engine().WaitForCommand(readCommand, seconds(60)));
        // A poll the module hears but does not answer: after it no earlier answer can still be
        // on its way, so the trickle below is the answer to the poll the stop interrupts.
        Engine().SetSilent(true);
        Engine().ClearCommandLog();
        ASSERT_TRUE(Engine().WaitForCommand(readCommand, seconds(60)));
        Engine().SetChunking(1, milliseconds(50));
        Deliver(Incoming("waiting in the store"));
        Engine().ClearCommandLog();
        Engine().SetSilent(false);
        ASSERT_TRUE(Engine().WaitForCommand(readCommand, seconds(60)));
        EXPECT_EQ(Service().StopService(), 1);
        EXPECT_EQ(Service().ServiceStarted(), 0);
        EXPECT_FALSE(Service().PortIsOpen());
        ReceivedMessage message;
        EXPECT_EQ(Service().GetNextMessage(reinterpret_cast<char*>(&message)), 0);
        EXPECT_EQ(Engine().StoreCount(), 1) << "the message waits for the next start";
    }

    // The next record with its receipt; fails the test when none comes.
    std::string AwaitHeld(int32_t& receipt) {
        ReceivedMessage message{};
        EXPECT_TRUE(Eventually([&] {
            return Service().GetNextMessageEx(reinterpret_cast<char*>(&message), &receipt) == 1;
        }));
        return message.text;
    }

    void AwaitPolls(int32_t count) {
        const int32_t from = Service().GetReceivePolls();
        ASSERT_TRUE(Eventually([&] { return Service().GetReceivePolls() >= from + count; }));
    }

    // With "hold-received" on, each message stays in the store, its record queued once, until
    // the host acknowledges it; then the store empties and nothing comes again.
    void HeldMessagesLeaveTheStoreOnceAcknowledged() {
        ASSERT_EQ(Service().SetOption("hold-received", 1), 1);
        Deliver(Incoming("first held"));
        Deliver(Incoming("second held"));
        ASSERT_EQ(Start(), 1) << LastError();
        std::vector<std::string> texts;
        for (int taken = 0; taken < 2; ++taken) {
            int32_t receipt = 0;
            texts.push_back(AwaitHeld(receipt));
            AwaitPolls(3);
            EXPECT_EQ(Engine().StoreCount(), 2 - taken) << "kept until acknowledged";
            EXPECT_EQ(Service().AcknowledgeMessage(receipt), 1);
        }
        EXPECT_TRUE(Eventually([&] { return Engine().StoreCount() == 0; }));
        AwaitPolls(3);
        int32_t receipt = 0;
        ReceivedMessage message;
        EXPECT_EQ(Service().GetNextMessageEx(reinterpret_cast<char*>(&message), &receipt), 0);
        EXPECT_EQ(texts, (std::vector<std::string>{"first held", "second held"}));
    }
};

// --- Type 870 ---------------------------------------------------------------------------------

class Flow870 : public CdmaFlow {
  protected:
    Flow870() : CdmaFlow(870) {}
};

// The module's listing says "REC READ" once a message has been read: a held message is still
// the same one.
TEST_F(Flow870, HeldMessagesLeaveTheStoreOnceAcknowledged) {
    HeldMessagesLeaveTheStoreOnceAcknowledged();
}

TEST_F(Flow870, AsciiAndChineseGoOutAfterTheirEncodingCommands) {
    ASSERT_EQ(Start(), 1) << LastError();
    SendAsciiAndChinese();
    EXPECT_EQ(Commands(Engine(), {"AT+ZMSGL", "AT+CMGS"}),
              (std::vector<std::string>{"AT+ZMSGL=1,2", "AT+CMGS=\"8613912345678\"", "AT+ZMSGL=6,4",
                                        "AT+CMGS=\"13912345678\""}));
}

TEST_F(Flow870, ChineseWhoseBytesSpellCtrlZAndCarriageReturnGoesOutWhole) {
    ASSERT_EQ(Start(), 1) << LastError();
    // 业 is 4E 1A and 复 is 59 0D: only the pair 00 1A may end the raw body.
    EXPECT_EQ(Outcome(Service().SendMessage("业务回复", "13912345678")), 1) << LastError();
    ASSERT_EQ(Engine().SentMessages().size(), 1u);
    EXPECT_EQ(Engine().SentMessages()[0].textUtf8, "业务回复");
}

// In text entry the module answers each CR of the body with a new "\r\n> " prompt, and on a
// slow line the end of the command's echo may still arrive after the purge that precedes the
// body. Neither may turn the echo of a second line that begins with ERROR into a refusal of a
// message the module has sent.
TEST_F(Flow870, ATwoLineTextWhoseSecondLineReadsErrorIsReportedSent) {
    ASSERT_EQ(Start(), 1) << LastError();
    // Two bytes every 10 ms: the echo comes a few polls before the result lines.
    Engine().SetChunking(2, milliseconds(10));
    const int32_t id = Service().SendMessage("Pump 3 status:\r\nERROR 42", "13912345678");
    ASSERT_TRUE(Engine().WaitForSent(1, seconds(60)));
    EXPECT_EQ(Outcome(id), 1) << "the module sent it";
}

TEST_F(Flow870, ReceivesBothEncodingsAndDeletesEachAfterItsRecord) {
    ReceiveAsciiAndChinese("2024/05/12 10:23:45");
    EXPECT_TRUE(Eventually([&] { return Engine().StoreCount() == 0; }));
    EXPECT_EQ(Commands(Engine(), {"AT+CMGR", "AT+CMGD"}),
              (std::vector<std::string>{"AT+CMGR=1", "AT+CMGD=1", "AT+CMGR=2", "AT+CMGD=2"}));
}

TEST_F(Flow870, BodiesThatReadAsResultCodesAreReceivedWithTheMessagesBehindThem) {
    Deliver(Incoming("ERROR"));
    Deliver(Incoming("OK"));
    Deliver(Incoming("behind them"));
    ASSERT_EQ(Start(), 1) << LastError();
    for (const char* text : {"ERROR", "OK", "behind them"}) {
        ReceivedMessage message;
        ASSERT_TRUE(AwaitMessage(message)) << text;
        EXPECT_STREQ(message.text, text);
    }
    EXPECT_TRUE(Eventually([&] { return Engine().StoreCount() == 0; }));
}

TEST_F(Flow870, AStopWhileTheListingArrivesReadsAndDeletesNothing) {
    StopWhileTheStorePollWaits("AT+CMGL");
    EXPECT_TRUE(Commands(Engine(), {"AT+CMGR", "AT+CMGD"}).empty());
}

TEST_F(Flow870, RefusalsEndInFailedOutcomesWithTheirTexts) {
    Engine().AddErrorFor("AT+ZMSGL=1");
    ASSERT_EQ(Start(), 1) << LastError();
    EXPECT_EQ(Outcome(Service().SendMessage("no ASCII today", "5551234")), 0);
    EXPECT_EQ(LastError(), "以英文发送时，AT+ZMSGL=1, 2设置失败");
    Engine().SetSendFailure(true);
    EXPECT_EQ(Outcome(Service().SendMessage(kChinese, "5551234")), 0);
    EXPECT_TRUE(Engine().SentMessages().empty());
}

TEST_F(Flow870, AModuleWithoutCardFailsTheStart) {
    Engine().SetSimPresent(false);
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(LastError(), "未连接好设备或者没有SIM卡");
}

// --- Type 860 ---------------------------------------------------------------------------------

class Flow860 : public CdmaFlow {
  protected:
    Flow860() : CdmaFlow(860) {}
};

TEST_F(Flow860, AsciiAndChineseGoOutAsHexOnOneLine) {
    ASSERT_EQ(Start(), 1) << LastError();
    SendAsciiAndChinese();
    EXPECT_EQ(Commands(Engine(), {"at$smsmo0"}),
              (std::vector<std::string>{
                  "at$smsmo0=8613912345678,8613912345678,4098,2,0,0,"
                  "48656C6C6F2C204F4B20616E64204552524F52",
                  "at$smsmo0=13912345678,13912345678,4098,4,0,0,4F60597DFF0C4E16754C"}));
}

TEST_F(Flow860, HeldMessagesLeaveTheStoreOnceAcknowledged) {
    HeldMessagesLeaveTheStoreOnceAcknowledged();
}

TEST_F(Flow860, EachMessageIsDeletedAfterItsRecordAndTheStoreEmpties) {
    ReceiveAsciiAndChinese("2024-05-12 10:23:45");
    EXPECT_TRUE(Eventually([&] { return Engine().StoreCount() == 0; }));
    EXPECT_EQ(Commands(Engine(), {"at$smsmt0?", "at$delmt"}),
              (std::vector<std::string>{"at$smsmt0?", "at$delmt=0", "at$smsmt0?", "at$delmt=0"}));
    // Three more polls of the empty store: they hand out nothing, so nothing is deleted.
    Engine().ClearCommandLog();
    ASSERT_TRUE(Eventually([&] { return Commands(Engine(), {"at$smsmt0?"}).size() >= 3; }));
    Service().StopService();
    EXPECT_TRUE(Commands(Engine(), {"at$delmt"}).empty());
    ReceivedMessage message;
    EXPECT_EQ(Service().GetNextMessage(reinterpret_cast<char*>(&message)), 0) << "no duplicate";
}

TEST_F(Flow860, AStopWhileAnAnswerArrivesDeletesNothing) {
    StopWhileTheStorePollWaits("at$smsmt0?");
    const auto polls = Commands(Engine(), {"at$smsmt0?", "at$delmt"});
    ASSERT_FALSE(polls.empty());
    EXPECT_EQ(polls.back(), "at$smsmt0?") << "no delete after the read that was stopped";
}

// When the module's answer to a read takes longer than the read's twelve polls, its tail lands
// in the next read's collection, where its "OK" completes the read without a message. The
// delete drops whatever the module handed out last, so it may follow only a message that
// reached the host.
TEST_F(Flow860, AnAnswerSlowerThanTheReadWindowNeverCostsAMessage) {
    ASSERT_EQ(Start(), 1) << LastError();
    ASSERT_TRUE(Engine().WaitForCommand("at$smsmt0?", seconds(60)));
    // Chunks of 8 bytes 100 ms apart: a read's answer takes about a second, while the read
    // waits 12 polls of 30 ms (3.6 s at the module's real pace).
    Engine().SetChunking(8, milliseconds(100));
    Deliver(Incoming("slow but not lost"));
    ASSERT_TRUE(Eventually([&] { return Commands(Engine(), {"at$smsmt0?"}).size() >= 6; }));
    Service().StopService();
    ReceivedMessage message;
    const bool received = Service().GetNextMessage(reinterpret_cast<char*>(&message)) == 1;
    EXPECT_TRUE(received || Engine().StoreCount() == 1)
        << "deleted from the module without reaching the host";
}

TEST_F(Flow860, RefusalsEndInFailedOutcomesAndAFailedSetUpStopsTheService) {
    ASSERT_EQ(Start(), 1) << LastError();
    Engine().SetSendFailure(true);
    EXPECT_EQ(Outcome(Service().SendMessage("refused", "5551234")), 0);
    EXPECT_EQ(Outcome(Service().SendMessage(kChinese, "5551234")), 0);
    Service().StopService();

    Engine().AddErrorFor("at$smstype");
    ASSERT_EQ(Start(), 1);
    EXPECT_TRUE(Eventually([&] { return Service().ServiceStarted() == 0; }));
    EXPECT_EQ(LastError(), "初始化Modem(设置at$smstype=1)发生错误");
}

// --- Type 865 ---------------------------------------------------------------------------------

class Flow865 : public CdmaFlow {
  protected:
    Flow865() : CdmaFlow(865) {}
};

TEST_F(Flow865, AsciiAndChineseGoOutAsHexOnOneLine) {
    ASSERT_EQ(Start(), 1) << LastError();
    SendAsciiAndChinese();
    EXPECT_EQ(Commands(Engine(), {"at$smsmo"}),
              (std::vector<std::string>{
                  "at$smsmo=8613912345678,8613912345678,4098,2,0,0,"
                  "48656C6C6F2C204F4B20616E64204552524F52",
                  "at$smsmo=13912345678,13912345678,4098,4,0,0,4F60597DFF0C4E16754C"}));
    EXPECT_TRUE(Commands(Engine(), {"at$smstype", "at$mtrpttype"}).empty()) << "no set-up";
}

TEST_F(Flow865, MessagesArriveOnceAndAreNeverDeleted) {
    ReceiveAsciiAndChinese("2024-05-12 10:23:45");
    // Three more polls of the store: the read messages are not handed out again.
    Engine().ClearCommandLog();
    ASSERT_TRUE(Eventually([&] { return Commands(Engine(), {"at$smsmt=1?"}).size() >= 3; }));
    ReceivedMessage message;
    EXPECT_EQ(Service().GetNextMessage(reinterpret_cast<char*>(&message)), 0) << "no duplicate";
    EXPECT_TRUE(Commands(Engine(), {"at$delmt", "AT+CMGD"}).empty());
    EXPECT_EQ(Engine().StoreCount(), 2);
    for (const sim::StoredMessage& stored : Engine().StoreContents()) {
        EXPECT_EQ(stored.status, sim::MessageStatus::ReceivedRead);
    }
}

// The module marks what it hands out read and cannot keep it: the next message is not read
// before the host has acknowledged the last one.
TEST_F(Flow865, WithHeldRecordsTheNextMessageWaitsForTheAcknowledgement) {
    ASSERT_EQ(Service().SetOption("hold-received", 1), 1);
    Deliver(Incoming("first held"));
    Deliver(Incoming("second held"));
    ASSERT_EQ(Start(), 1) << LastError();
    int32_t receipt = 0;
    EXPECT_EQ(AwaitHeld(receipt), "first held");
    AwaitPolls(3);
    ReceivedMessage message;
    int32_t none = 0;
    EXPECT_EQ(Service().GetNextMessageEx(reinterpret_cast<char*>(&message), &none), 0);
    EXPECT_EQ(Commands(Engine(), {"at$smsmt=1?"}).size(), 1u) << "one read, then none";
    EXPECT_EQ(Service().AcknowledgeMessage(receipt), 1);
    EXPECT_EQ(AwaitHeld(receipt), "second held");
}

TEST_F(Flow865, AStopWhileTheModuleIsSilentLosesNothing) {
    ASSERT_EQ(Start(), 1) << LastError();
    ASSERT_TRUE(Engine().WaitForCommand("at$smsmt=1?", seconds(60)));
    Engine().SetSilent(true);
    Deliver(Incoming("waiting in the store"));
    Engine().ClearCommandLog();
    ASSERT_TRUE(Engine().WaitForCommand("at$smsmt=1?", seconds(60)));
    EXPECT_EQ(Service().StopService(), 1);
    EXPECT_EQ(Service().ServiceStarted(), 0);

    Engine().SetSilent(false);
    ASSERT_EQ(Start(), 1) << LastError();
    ReceivedMessage message;
    ASSERT_TRUE(AwaitMessage(message));
    EXPECT_STREQ(message.text, "waiting in the store");
}

TEST_F(Flow865, LowerCaseAcknowledgementsAndRefusalsAreUnderstood) {
    Engine().SetLowerCaseReplies(true);
    ASSERT_EQ(Start(), 1) << LastError();
    EXPECT_EQ(Outcome(Service().SendMessage("quiet module", "5551234")), 1);
    Engine().SetSendFailure(true);
    EXPECT_EQ(Outcome(Service().SendMessage("refused", "5551234")), 0);
    EXPECT_EQ(Engine().SentMessages().size(), 1u);
}

}  // namespace
}  // namespace tidewire

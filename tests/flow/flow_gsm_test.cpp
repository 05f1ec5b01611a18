// The service end to end on a GSM module: start-up, sending in both modes, receiving and
// deleting, stopping, and start-up failures, each with the texts a host reads.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "FlowFixture.h"
#include "support/TestData.h"

namespace tidewire {
namespace {

using GsmFlow = FlowTest;

size_t CountCommands(sim::ModemEngine& engine, const std::string& prefix) {
    const auto log = engine.CommandLog();
    return static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const std::string& line) {
        return line.rfind(prefix, 0) == 0;
    }));
}

TEST_F(GsmFlow, AsciiGoesOutInTextModeAndChineseInPduModeWithTheirReports) {
    ASSERT_EQ(Start(), 1) << LastError();
    const int32_t ascii = Service().SendMessage("Hello, look at this token", "8613912345678");
    const int32_t chinese = Service().SendMessage("你好，世界", "13912345678");
    EXPECT_EQ(ascii, 0);
    EXPECT_EQ(chinese, 1);

    EXPECT_EQ(Outcome(ascii), 1) << LastError();
    EXPECT_EQ(Outcome(chinese), 1) << LastError();

    const auto sent = Engine().SentMessages();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_FALSE(sent[0].pduMode);
    EXPECT_EQ(sent[0].destination, "8613912345678");
    EXPECT_EQ(sent[0].textUtf8, "Hello, look at this token");
    EXPECT_TRUE(sent[1].pduMode);
    EXPECT_EQ(sent[1].destination, "+8613912345678");  // 86 put in front, international type
    EXPECT_EQ(sent[1].textUtf8, "你好，世界");

    OutgoingMessage report;
    ASSERT_TRUE(NextReport(report));
    EXPECT_EQ(report.id, ascii);
    EXPECT_STREQ(report.number, "13912345678");
    EXPECT_STREQ(report.text, "Hello, look at this token");
    ASSERT_TRUE(NextReport(report));
    EXPECT_EQ(report.id, chinese);
    EXPECT_STREQ(report.number, "13912345678");
    EXPECT_FALSE(NextReport(report));
}

TEST_F(GsmFlow, BodiesThatSpellResultCodesSendLikeAnyOther) {
    ASSERT_EQ(Start(), 1) << LastError();
    const int32_t ok = Service().SendMessage("ok", "5551234");
    const int32_t error = Service().SendMessage("ERROR in the book", "5551234");
    EXPECT_EQ(Outcome(ok), 1);
    EXPECT_EQ(Outcome(error), 1);
    EXPECT_EQ(Engine().SentMessages().size(), 2u);
}

TEST_F(GsmFlow, ReceivedMessagesArriveDecodedAndAreDeletedAfterwards) {
    sim::IncomingMessage chinese;
    chinese.sender = "+8613800138000";
    chinese.textUtf8 = "收到请回复";
    sim::IncomingMessage latin;
    latin.sender = "+441234567890";
    latin.textUtf8 = "Price: 5€ {incl. VAT} @ [shop]";
    latin.coding = sim::TextCoding::Gsm7;
    ASSERT_TRUE(Engine().Inject(chinese).stored);
    ASSERT_TRUE(Engine().Inject(latin).stored);

    ASSERT_EQ(Start(), 1) << LastError();
    ReceivedMessage message;
    ASSERT_TRUE(AwaitMessage(message));
    EXPECT_STREQ(message.sender, "8613800138000");
    EXPECT_STREQ(message.text, "收到请回复");
    EXPECT_EQ(std::strlen(message.timestamp), 19u);
    EXPECT_EQ(std::strncmp(message.timestamp, "20", 2), 0);
    ASSERT_TRUE(AwaitMessage(message));
    EXPECT_STREQ(message.sender, "441234567890");
    EXPECT_STREQ(message.text, "Price: 5€ {incl. VAT} @ [shop]");

    EXPECT_TRUE(Eventually([&] { return Engine().StoreCount() == 0; }));
    EXPECT_EQ(CountCommands(Engine(), "AT+CMGD="), 2u);
}

TEST_F(GsmFlow, AStopEndsTheWorkerAndANewStartBeginsAfresh) {
    ASSERT_EQ(Start(), 1) << LastError();
    EXPECT_EQ(Service().SendMessage("first run", "5551234"), 0);
    EXPECT_EQ(Outcome(0), 1);
    EXPECT_EQ(Service().StopService(), 1);
    EXPECT_EQ(Service().ServiceStarted(), 0);
    EXPECT_EQ(Service().SendMessage("too late", "5551234"), -1);
    EXPECT_EQ(LastError(), "服务器未启动");

    // Reports of the first run can still be taken after the stop, until the next start-up.
    OutgoingMessage report;
    EXPECT_TRUE(NextReport(report));

    ASSERT_EQ(Start(), 1) << LastError();
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(Service().Query(0), -1);
    EXPECT_EQ(Service().SendMessage("second run", "5551234"), 0);
    EXPECT_EQ(Outcome(0), 1);
}

TEST_F(GsmFlow, TheRunningServiceHoldsItsPortExclusively) {
    ASSERT_EQ(Start(), 1) << LastError();
    const int fd = open(Modem().DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        EXPECT_NE(flock(fd, LOCK_EX | LOCK_NB), 0);
        close(fd);
    }
    EXPECT_EQ(Service().StopService(), 1);
    const int again = open(Modem().DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(again, 0);
    EXPECT_EQ(flock(again, LOCK_EX | LOCK_NB), 0);
    close(again);
}

TEST_F(GsmFlow, AMissingDeviceFailsWithTheSystemsText) {
    LineSettings settings;
    EXPECT_EQ(Service().StartServiceOnDevice("/dev/tidewire-no-such-port", settings, "card"), 0);
    EXPECT_EQ(LastError(), std::string("串口打开错误") + std::strerror(ENOENT));
    EXPECT_EQ(Service().ServiceStarted(), 0);
    EXPECT_FALSE(Service().Started());
}

TEST_F(GsmFlow, ASilentModuleFailsTheProbeAndReleasesThePort) {
    Engine().SetSilent(true);
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(LastError(), "未连接好设备或者波特率错误");
    EXPECT_FALSE(Service().PortIsOpen());
    Engine().SetSilent(false);
    EXPECT_EQ(Start(), 1) << LastError();
}

TEST_F(GsmFlow, AModuleWithoutSimFailsTheSimCheck) {
    Engine().SetSimPresent(false);
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(LastError(), "未连接好设备或者没有SIM卡");
    EXPECT_FALSE(Service().PortIsOpen());
}

TEST_F(GsmFlow, AModuleThatWillNotNameItselfIsNotServed) {
    Engine().AddErrorFor("AT+GMM");
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(LastError(), "无法识别的模块类型");
}

TEST_F(GsmFlow, AFatalInitialisationFailureStopsTheServiceWithItsText) {
    Engine().AddErrorFor("AT+CNMI");
    ASSERT_EQ(Start(), 1);
    EXPECT_TRUE(Eventually([&] { return Service().ServiceStarted() == 0; }));
    EXPECT_EQ(LastError(), "初始化Modem(设置AT+CNMI=1,0,0,0,1)发生错误");
    EXPECT_FALSE(Service().PortIsOpen());

    // No stop is needed before the next start.
    Engine().RemoveErrorFor("AT+CNMI");
    ASSERT_EQ(Start(), 1) << LastError();
    EXPECT_EQ(Service().SendMessage("after the failure", "5551234"), 0);
    EXPECT_EQ(Outcome(0), 1);
}

TEST_F(GsmFlow, ARecordedInitialisationFailureLeavesTheServiceRunning) {
    Engine().AddErrorFor("AT+CPMS");
    ASSERT_EQ(Start(), 1);
    EXPECT_EQ(Service().SendMessage("still works", "5551234"), 0);
    EXPECT_EQ(Outcome(0), 1);
    EXPECT_EQ(LastError(), "初始化Modem(设置AT+CPMS=ME)发生错误");
}

TEST_F(GsmFlow, TheSimsServiceCentreIsReadWhenTheHostAsksForTheCard) {
    Engine().SetServiceCentre("+8613800200500");
    ASSERT_EQ(Start("card"), 1);
    EXPECT_TRUE(Engine().WaitForCommand("AT+CSCA=\"+8613800200500\"", std::chrono::seconds(60)));
}

TEST_F(GsmFlow, AStopDuringInitialisationEndsTheWorkerBeforeTheNextCommand) {
    // The worker's first wait, inside its first set-up command, lasts until the stop has been
    // asked for, so the stop surely arrives while that command runs.
    const std::thread::id host = std::this_thread::get_id();
    std::atomic<bool> held{false};
    Service().SetSleepFunction([&](uint32_t milliseconds) {
        if (std::this_thread::get_id() != host && !held.exchange(true)) {
            while (Service().ServiceStarted() == 1) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(milliseconds * 1000 / kTimeDivisor));
    });
    ASSERT_EQ(Start(), 1) << LastError();
    EXPECT_EQ(Service().StopService(), 1);
    EXPECT_EQ(Service().ServiceStarted(), 0);
    EXPECT_EQ(CountCommands(Engine(), "AT+CSCA"), 0u);
    EXPECT_EQ(LastError(), "");
}

TEST_F(GsmFlow, AStopDuringASendStillRecordsItsOutcome) {
    ASSERT_EQ(Start(), 1) << LastError();
    Engine().SetChunking(1, std::chrono::milliseconds(3));
    const int32_t id = Service().SendMessage("sent while stopping", "5551234");
    ASSERT_TRUE(Engine().WaitForCommand("AT+CMGS", std::chrono::seconds(60)));
    EXPECT_EQ(Service().StopService(), 1);
    EXPECT_EQ(Service().Query(id), 1);
    OutgoingMessage report;
    EXPECT_TRUE(NextReport(report));
    EXPECT_EQ(report.id, id);
}

TEST_F(GsmFlow, AFailedSendIsReportedAsFailed) {
    ASSERT_EQ(Start(), 1) << LastError();
    Engine().SetSendFailure(true);
    const int32_t id = Service().SendMessage("refused by the network", "5551234");
    EXPECT_EQ(Outcome(id), 0);
    OutgoingMessage report;
    EXPECT_TRUE(NextReport(report));
}

TEST_F(GsmFlow, AModuleThatAnswersInLowerCaseIsUnderstood) {
    Engine().SetLowerCaseReplies(true);
    ASSERT_EQ(Start(), 1) << LastError();
    EXPECT_EQ(Outcome(Service().SendMessage("quiet module", "5551234")), 1);
}

TEST_F(GsmFlow, AGbkHostSendsAndReceivesInItsOwnCodePage) {
    testdata::ScopedCtypeLocale gbk(testdata::kGbkLocale);
    if (!gbk.Active()) {
        GTEST_SKIP() << "the zh_CN.GBK locale is not installed (make test creates it)";
    }
    sim::IncomingMessage incoming;
    incoming.sender = "+8613800138000";
    incoming.textUtf8 = "收到请回复";
    ASSERT_TRUE(Engine().Inject(incoming).stored);
    ASSERT_EQ(Start(), 1) << LastError();

    const char gbkText[] = "\xC4\xE3\xBA\xC3\xA3\xAC\xCA\xC0\xBD\xE7";  // 你好，世界
    EXPECT_EQ(Outcome(Service().SendMessage(gbkText, "13912345678")), 1);
    ASSERT_EQ(Engine().SentMessages().size(), 1u);
    EXPECT_TRUE(Engine().SentMessages()[0].pduMode);
    EXPECT_EQ(Engine().SentMessages()[0].textUtf8, "你好，世界");

    ReceivedMessage message;
    ASSERT_TRUE(AwaitMessage(message));
    EXPECT_STREQ(message.text, "\xCA\xD5\xB5\xBD\xC7\xEB\xBB\xD8\xB8\xB4");  // 收到请回复

    // The texts of the last error come in the host's code page too.
    Service().StopService();
    EXPECT_EQ(Service().SendMessage("x", "1"), -1);
    EXPECT_EQ(LastError(), "\xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xC6\xF4\xB6\xAF");  // 服务器未启动
}

}  // namespace
}  // namespace tidewire

// Start-up on the host's thread: opening the port, the probe, the family, the SIM, the worker;
// and what every way of failing leaves behind (text, port, flags, queues).
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <future>
#include <string>

#include "dialogue/dialogue_fixture.h"

namespace tidewire {
namespace dialogue {
namespace {

class StartupTest : public ScriptedServiceTest {
  protected:
    // A report left from an earlier run, to see whether a failed start-up emptied the queues.
    void LeaveAnOldReport() {
        ScriptGsmModule(*modem_);
        ASSERT_EQ(Start(), 1);
        ASSERT_EQ(service_.SendMessage("earlier run", "13912345678"), 0);
        ASSERT_TRUE(Eventually([&] { return service_.Query(0) != -1; }));
        service_.StopService();
        ReplaceModem();
    }

    size_t ReportCount() { return TakeReports().size(); }

    void ExpectIdle() {
        EXPECT_FALSE(service_.Started());
        EXPECT_EQ(service_.ServiceStarted(), 0);
    }

    // A start-up that failed after the port was open: idle, the port closed again, the queues
    // of the earlier run discarded.
    void ExpectFailedWithClosedPort(const char* text) {
        EXPECT_EQ(LastError(), text);
        ExpectIdle();
        EXPECT_FALSE(service_.PortIsOpen());
        EXPECT_EQ(modem_->Events().back(), "close");
        EXPECT_EQ(ReportCount(), 0u);
    }

    // The service centre the worker's set-up configured.
    std::string ServiceCentreConfigured() {
        EXPECT_TRUE(
            modem_->WaitUntil([&] { return !WritesStartingWith("AT+CSCA=").empty(); }, kDeadline));
        const Strings written = WritesStartingWith("AT+CSCA=");
        return written.empty() ? std::string() : written[0];
    }

    static std::string PortOpenText(int code) {
        return std::string("串口打开错误") + std::strerror(code);
    }
};

TEST_F(StartupTest, OpensTheLineProbesIdentifiesChecksTheSimAndStartsTheWorker) {
    modem_->FailOpen(ENOENT);
    ASSERT_EQ(Start(), 0);
    ASSERT_NE(LastError(), "");
    modem_->FailOpen(0);
    modem_->ClearEvents();

    ScriptGsmModule(*modem_);
    LineSettings settings;
    settings.baud = 9600;
    settings.parity = Parity::Even;
    settings.dataBits = 7;
    settings.stopBits = StopBits::Two;
    settings.flowControl = FlowControl::CtsRts;
    ASSERT_EQ(service_.StartServiceOnDevice(kDevicePath, settings, "+8613800100500"), 1);

    EXPECT_EQ(LastError(), "") << "a successful start-up leaves no earlier text";
    EXPECT_EQ(service_.ServiceStarted(), 1);
    EXPECT_TRUE(service_.Started());
    EXPECT_EQ(modem_->OpenedPath(), kDevicePath);
    const LineSettings opened = modem_->OpenedSettings();
    EXPECT_EQ(opened.baud, 9600u);
    EXPECT_EQ(opened.parity, Parity::Even);
    EXPECT_EQ(opened.dataBits, 7);
    EXPECT_EQ(opened.stopBits, StopBits::Two);
    EXPECT_EQ(opened.flowControl, FlowControl::CtsRts);

    const Strings events = modem_->Events();
    ASSERT_GE(events.size(), 6u);
    EXPECT_EQ(Strings(events.begin(), events.begin() + 6),
              (Strings{"open:/dev/scripted", "timeouts", "config", "purge-in", "purge-out",
                       "write:AT\r"}));
    const Strings writes = modem_->Writes();
    ASSERT_GE(writes.size(), 3u);
    EXPECT_EQ(Strings(writes.begin(), writes.begin() + 3),
              (Strings{"AT\r", "AT+GMM\r", "AT+CPIN?\r"}));

    // The worker takes over the line: its set-up of a GSM module, with the service centre it
    // was given, follows the start-up's checks.
    EXPECT_TRUE(
        modem_->WaitUntil([&] { return WritesStartingWith("AT+CSCA=").size() == 1; }, kDeadline));
    EXPECT_EQ(WritesStartingWith("AT+CSCA="), Strings{"AT+CSCA=\"+8613800100500\"\r"});
    service_.StopService();
    ExpectIdle();
    EXPECT_FALSE(service_.PortIsOpen());
}

// A host thread stops the service while another is still starting it, as the module is being
// identified. The stop waits for the start-up, which sees the stop before its next dialogue:
// both agree that the service is stopped, and nothing more reaches the module.
TEST_F(StartupTest, StopDuringAStartUpFailsItAndNothingMoreIsWritten) {
    std::atomic<bool> identifying{false};
    AnswerOnceStopped("AT+GMM\r", "\r\nSIM800\r\n\r\nOK\r\n", identifying);
    ScriptGsmModule(*modem_);
    auto starting = std::async(std::launch::async, [&] { return Start(); });
    ASSERT_TRUE(Eventually([&] { return identifying.load(); }));

    EXPECT_EQ(service_.StopService(), 1);
    EXPECT_FALSE(service_.Started()) << "the stop returned before the start-up";
    EXPECT_EQ(starting.get(), 0);
    EXPECT_EQ(LastError(), "服务器未启动");
    ExpectIdle();
    EXPECT_FALSE(service_.PortIsOpen());
    EXPECT_EQ(modem_->Writes(), (Strings{"AT\r", "AT+GMM\r"}));
    EXPECT_EQ(modem_->Events().back(), "close");
    EXPECT_EQ(service_.SendMessage("refused", "13912345678"), -1);
}

TEST_F(StartupTest, SecondStartIsRefusedAndLeavesTheRunningServiceAlone) {
    ScriptGsmModule(*modem_);
    ASSERT_EQ(Start(), 1);
    EXPECT_EQ(service_.SendMessage("first", "13912345678"), 0);

    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(LastError(), "服务已经启动(或还没有停止成功)，不能再次启动");
    EXPECT_EQ(modem_->Count("open"), 1u);
    EXPECT_TRUE(service_.PortIsOpen());
    EXPECT_EQ(service_.ServiceStarted(), 1);
    EXPECT_EQ(service_.SendMessage("second", "13912345678"), 1) << "ids go on: nothing emptied";
    service_.StopService();
}

TEST_F(StartupTest, PortThatCannotBeOpenedGivesTheSystemText) {
    LeaveAnOldReport();
    modem_->FailOpen(ENOENT);
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(LastError(), PortOpenText(ENOENT));
    ExpectIdle();
    EXPECT_FALSE(service_.PortIsOpen());
    EXPECT_EQ(ReportCount(), 1u) << "the queues are not touched on this path";
}

TEST_F(StartupTest, PortThatCannotBeConfiguredIsClosedAgain) {
    modem_->FailConfiguration(EIO);
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(LastError(), PortOpenText(EIO));
    EXPECT_EQ(modem_->Events(),
              (Strings{"open:/dev/scripted", "timeouts", "config-error:5", "close"}));
    ExpectIdle();

    modem_->FailConfiguration(0);
    modem_->FailReadTimeouts(EINVAL);
    modem_->ClearEvents();
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(LastError(), PortOpenText(EINVAL));
    EXPECT_EQ(modem_->Events(), (Strings{"open:/dev/scripted", "timeouts-error:22", "close"}));
    EXPECT_FALSE(service_.PortIsOpen());
    ExpectIdle();
}

TEST_F(StartupTest, ModuleThatRefusesTheProbe) {
    LeaveAnOldReport();
    modem_->OnWrite("AT\r", Strings{"\r\nERROR\r\n"});
    EXPECT_EQ(Start(), 0);
    ExpectFailedWithClosedPort("未连接好设备或者波特率错误");
    EXPECT_EQ(modem_->Writes(), Strings{"AT\r"});
}

TEST_F(StartupTest, SilentModuleFailsTheProbeAfterItsTwelvePolls) {
    LeaveAnOldReport();
    EXPECT_EQ(Start(), 0);
    ExpectFailedWithClosedPort("未连接好设备或者波特率错误");
    EXPECT_EQ(modem_->ReadCount(), 12u);
}

TEST_F(StartupTest, ModuleThatDoesNotIdentifyItself) {
    LeaveAnOldReport();
    modem_->OnWrite("AT+GMM\r", Strings{"\r\nERROR\r\n"});
    ScriptGsmModule(*modem_);
    EXPECT_EQ(Start(), 0);
    ExpectFailedWithClosedPort("无法识别的模块类型");
    EXPECT_EQ(modem_->Writes(), (Strings{"AT\r", "AT+GMM\r"}));
}

TEST_F(StartupTest, MissingSimFailsGsmAndType870) {
    for (const char* model : {"SIM800", "CDMA 199"}) {
        SCOPED_TRACE(model);
        ReplaceModem();
        LeaveAnOldReport();
        modem_->OnWrite("AT+CPIN?\r", Strings{"\r\n+CME ERROR: 10\r\n"});
        ScriptGsmModule(*modem_, model);
        EXPECT_EQ(Start(), 0);
        ExpectFailedWithClosedPort("未连接好设备或者没有SIM卡");
        EXPECT_EQ(modem_->Writes().back(), "AT+CPIN?\r");
    }
}

TEST_F(StartupTest, AnyCpinStatePassesTheSimCheck) {
    modem_->OnWrite("AT+CPIN?\r", Strings{"\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n"});
    ScriptGsmModule(*modem_);
    EXPECT_EQ(Start(), 1);
    service_.StopService();
}

TEST_F(StartupTest, CdmaFamiliesWithoutSimAreNotAskedForOne) {
    // The worker's first command shows which family it serves.
    const std::pair<const char*, const char*> cases[] = {{"MODEL 199", "at$smsmt=1?\r"},
                                                         {"MODEL 100", "at$smstype=1\r"}};
    for (const auto& [model, first] : cases) {
        SCOPED_TRACE(model);
        ReplaceModem();
        ScriptGsmModule(*modem_, model);
        ASSERT_EQ(Start(), 1);
        EXPECT_TRUE(modem_->WaitUntil([&] { return modem_->Writes().size() >= 3; }, kDeadline));
        EXPECT_EQ(modem_->Writes().at(2), first);
        service_.StopService();
        EXPECT_TRUE(WritesStartingWith("AT+CPIN?").empty());
        EXPECT_EQ(modem_->Writes().at(1), "AT+GMM\r");
    }
}

TEST_F(StartupTest, SerialFailureInAStartupDialogueFailsThatStepWithItsOwnText) {
    const std::pair<uint32_t, const char*> cases[] = {
        {1, "未连接好设备或者波特率错误"},
        {2, "无法识别的模块类型"},
        {3, "未连接好设备或者没有SIM卡"},
    };
    for (const auto& [failingWrite, text] : cases) {
        SCOPED_TRACE(text);
        ReplaceModem();
        LeaveAnOldReport();
        ScriptGsmModule(*modem_);
        modem_->FailWriteAt(failingWrite, false, EIO);
        EXPECT_EQ(Start(), 0);
        ExpectFailedWithClosedPort(text);
    }
}

TEST_F(StartupTest, NewStartBeginsWithEmptyQueuesAndIdZero) {
    ScriptGsmModule(*modem_);
    ASSERT_EQ(Start(), 1);
    ASSERT_EQ(service_.SendMessage("one", "13912345678"), 0);
    ASSERT_EQ(service_.SendMessage("two", "13912345678"), 1);
    ASSERT_TRUE(Eventually([&] { return service_.Query(1) != -1; }));
    service_.StopService();
    ASSERT_EQ(service_.Query(0), 1) << "results outlive a stop";

    ASSERT_EQ(Start(), 1);
    EXPECT_EQ(service_.Query(0), -1);
    EXPECT_EQ(service_.Query(1), -1);
    EXPECT_TRUE(TakeReports().empty());
    EXPECT_EQ(service_.SendMessage("three", "13912345678"), 0);
    service_.StopService();
}

TEST_F(StartupTest, ServiceCentreIsCheckedBeforeAnythingIsOpened) {
    const std::pair<const char*, const char*> refused[] = {
        {"+86138001005001234567", "短信中心号码长度不能大于19"},
        {"+86138\"001", "短信中心号码格式错误"},
        {"+86138,001", "短信中心号码格式错误"},
        {"+86138\r001", "短信中心号码格式错误"},
        {"+861380\x1A", "短信中心号码格式错误"},
    };
    ScriptGsmModule(*modem_);
    for (const auto& [centre, text] : refused) {
        SCOPED_TRACE(centre);
        EXPECT_EQ(Start(centre), 0);
        EXPECT_EQ(LastError(), text);
        EXPECT_TRUE(modem_->Events().empty());
        ExpectIdle();
    }

    ASSERT_EQ(Start("1380010050012345678"), 1) << "nineteen bytes fit";
    EXPECT_EQ(ServiceCentreConfigured(), "AT+CSCA=\"1380010050012345678\"\r");
    service_.StopService();
}

TEST_F(StartupTest, NoServiceCentreLeavesTheFieldEmpty) {
    ScriptGsmModule(*modem_);
    ASSERT_EQ(Start("123"), 1);
    EXPECT_EQ(ServiceCentreConfigured(), "AT+CSCA=\"123\"\r");
    service_.StopService();
    ReplaceModem();
    ScriptGsmModule(*modem_);
    ASSERT_EQ(Start(nullptr), 1);
    EXPECT_EQ(ServiceCentreConfigured(), "AT+CSCA=\"\"\r");
    service_.StopService();
}

TEST_F(StartupTest, MessageOfferedWhileStartingIsRefusedNotSwallowed) {
    int32_t offered = 0;
    std::string textThen;
    uint8_t runningThen = 0;
    modem_->OnWriteOnce("AT+GMM\r", [&](const std::string&, ScriptedSerialDevice& line) {
        runningThen = service_.ServiceStarted();
        offered = service_.SendMessage("too early", "13912345678");
        textThen = LastError();
        line.Arrive({"\r\nSIM800\r\n\r\nOK\r\n"});
    });
    ScriptGsmModule(*modem_);
    ASSERT_EQ(Start(), 1);
    EXPECT_EQ(runningThen, 1);
    EXPECT_EQ(offered, -1);
    EXPECT_EQ(textThen, "服务器未启动");
    EXPECT_EQ(service_.SendMessage("in time", "13912345678"), 0) << "the refused one used no id";
    service_.StopService();
}

}  // namespace
}  // namespace dialogue
}  // namespace tidewire

// Telling the module families apart by their answer to AT+GMM, and the set-up sequence each
// family gets before the worker's loop: which failures end the service, which are only
// recorded, and where a stop is noticed.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "dialogue/dialogue_fixture.h"

namespace tidewire {
namespace dialogue {
namespace {

// --- Detection
// ------------------------------------------------------------------------------------

class DetectionTest : public ScriptedServiceTest {
  protected:
    explicit DetectionTest(Edition edition = Edition::Current) : ScriptedServiceTest(edition) {
        OpenPort(kModuleUnknown);
    }

    // The family detected from a model answer, or 0 when detection failed.
    int32_t FamilyFor(const std::string& model) {
        service_.moduleType = kModuleUnknown;
        modem_->OnWriteOnce("AT+GMM\r", {"AT+GMM\r\r\n" + model + "\r\n\r\nOK\r\n"});
        return service_.DetectModuleType() ? service_.moduleType.load() : 0;
    }
};

class LegacyDetectionTest : public DetectionTest {
  protected:
    LegacyDetectionTest() : DetectionTest(Edition::Legacy) {}
};

TEST_F(DetectionTest, MapsTheModelAnswerToTheFamily) {
    EXPECT_EQ(FamilyFor("MODEL 100"), kModule860);
    EXPECT_EQ(FamilyFor("MODEL 100 (199 series)"), kModule860) << "MODEL 100 wins over 199";
    EXPECT_EQ(FamilyFor("MODEL 199"), kModule865);
    EXPECT_EQ(FamilyFor("model 199"), kModule865) << "the answer is upper-cased first";
    EXPECT_EQ(FamilyFor("CDMA 199 MODULE"), kModule870);
    EXPECT_EQ(FamilyFor("SIMCOM_SIM800"), kModuleGsm);
}

TEST_F(LegacyDetectionTest, LegacyEditionServesTheBare199AsGsm) {
    EXPECT_EQ(FamilyFor("CDMA 199 MODULE"), kModuleGsm);
    EXPECT_EQ(FamilyFor("MODEL 199"), kModule865);
    EXPECT_EQ(FamilyFor("MODEL 100"), kModule860);
}

TEST_F(DetectionTest, AsksWithAtGmmAfterPurgingAndPollsEvery200Ms) {
    EXPECT_EQ(FamilyFor("SIM800"), kModuleGsm);
    EXPECT_EQ(modem_->Writes(), Strings{"AT+GMM\r"});
    const Strings events = modem_->Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0], "purge-in");
    EXPECT_EQ(events[1], "purge-out");
    EXPECT_EQ(Sleeps(), Repeat(200, 1));
}

TEST_F(DetectionTest, NeedsOkWithinSeventeenPolls) {
    Strings inTime = Silence(16);
    inTime.push_back("MODEL 199\r\nOK\r\n");
    modem_->OnWriteOnce("AT+GMM\r", inTime);
    EXPECT_TRUE(service_.DetectModuleType());
    EXPECT_EQ(service_.moduleType.load(), kModule865);
    EXPECT_EQ(modem_->ReadCount(), 17u);

    ClearLog();
    service_.moduleType = kModule860;
    Strings tooLate = Silence(17);
    tooLate.push_back("MODEL 199\r\nOK\r\n");
    modem_->OnWriteOnce("AT+GMM\r", tooLate);
    EXPECT_FALSE(service_.DetectModuleType());
    EXPECT_EQ(modem_->ReadCount(), 17u);
    EXPECT_EQ(Sleeps(), Repeat(200, 17));
    EXPECT_EQ(service_.moduleType.load(), kModule860) << "a failed detection keeps the family";
}

TEST_F(DetectionTest, KnownModelWithoutOkIsNoDetection) {
    modem_->OnWriteOnce("AT+GMM\r", {"\r\nMODEL 199\r\n"});
    EXPECT_FALSE(service_.DetectModuleType());
    EXPECT_EQ(service_.moduleType.load(), kModuleUnknown);
}

TEST_F(DetectionTest, ErrorAnswerFailsDetection) {
    service_.moduleType = kModule870;
    modem_->OnWriteOnce("AT+GMM\r", {"\r\nERROR\r\n"});
    EXPECT_FALSE(service_.DetectModuleType());
    EXPECT_EQ(modem_->ReadCount(), 1u);
    EXPECT_EQ(service_.moduleType.load(), kModule870);
}

// --- Initialisation
// -------------------------------------------------------------------------------

class InitialisationTest : public ScriptedServiceTest {
  protected:
    // The module answers OK to everything not scripted before.
    void AnswerOkToTheRest() {
        modem_->OnWrite(
            [](const std::string&, ScriptedSerialDevice& line) { line.Arrive({"\r\nOK\r\n"}); });
    }

    // Initialises a module of the family whose port is open and whose service runs.
    bool Initialise(int32_t family, const char* serviceCentre = "+8613800100500") {
        OpenPort(family);
        std::strcpy(service_.serviceCentre, serviceCentre);
        AnswerOkToTheRest();
        return service_.InitialiseModule();
    }

    // The state after a fatal failure or a stop: service ended, port closed.
    void ExpectServiceEnded() {
        EXPECT_FALSE(service_.running.load());
        EXPECT_FALSE(service_.started.load());
        EXPECT_FALSE(service_.channel.Port().IsOpen());
    }

    void ExpectServiceRunning() {
        EXPECT_TRUE(service_.running.load());
        EXPECT_TRUE(service_.started.load());
        EXPECT_TRUE(service_.channel.Port().IsOpen());
    }

    // Answers the command with OK and asks the service to stop, as SMSStopSerice would
    // while the command is in progress.
    void StopDuring(const std::string& command) {
        modem_->OnWriteOnce(command, [this](const std::string&, ScriptedSerialDevice& line) {
            service_.running = false;
            line.Arrive({"\r\nOK\r\n"});
        });
    }
};

TEST_F(InitialisationTest, GsmModuleGetsItsFourCommandsInOrder) {
    EXPECT_TRUE(Initialise(kModuleGsm));
    EXPECT_EQ(modem_->Writes(), (Strings{"AT+CNMI=1,0,0,0,1\r", "AT+CMGF=0\r", "AT+CPMS=ME\r",
                                         "AT+CSCA=\"+8613800100500\"\r"}));
    ExpectServiceRunning();
    EXPECT_EQ(LastError(), "");
}

TEST_F(InitialisationTest, Type870GetsNotificationsAndStorage) {
    EXPECT_TRUE(Initialise(kModule870));
    EXPECT_EQ(modem_->Writes(), (Strings{"AT+CNMI=2,1,0,0,0\r", "AT+CPMS=MT\r"}));
    ExpectServiceRunning();
}

TEST_F(InitialisationTest, Type860GetsItsMessageTypeCommands) {
    EXPECT_TRUE(Initialise(kModule860));
    EXPECT_EQ(modem_->Writes(), (Strings{"at$smstype=1\r", "at$mtrpttype=0\r"}));
    ExpectServiceRunning();
}

TEST_F(InitialisationTest, Type865IsSentNothing) {
    EXPECT_TRUE(Initialise(kModule865));
    EXPECT_TRUE(modem_->Events().empty());
    ExpectServiceRunning();
}

TEST_F(InitialisationTest, FatalFailuresEndTheServiceWithTheirText) {
    struct Case {
        int32_t family;
        const char* refused;
        const char* text;
        size_t commandsWritten;
    };
    const Case cases[] = {
        {kModuleGsm, "AT+CNMI=1,0,0,0,1\r", "初始化Modem(设置AT+CNMI=1,0,0,0,1)发生错误", 1},
        {kModuleGsm, "AT+CMGF=0\r", "初始化Modem(设置AT+CMGF=0)发生错误", 2},
        {kModuleGsm, "AT+CSCA=", "设置短信中心号码发生错误", 4},
        {kModule870, "AT+CNMI=2,1,0,0,0\r", "初始化Modem(设置AT+CNMI=2,2,0,0,0)发生错误", 1},
        {kModule860, "at$smstype=1\r", "初始化Modem(设置at$smstype=1)发生错误", 1},
        {kModule860, "at$mtrpttype=0\r", "初始化Modem(设置at$mtrpttype=0)发生错误", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refused);
        ReplaceModem();
        modem_->OnWrite(c.refused, Strings{"\r\nERROR\r\n"});
        EXPECT_FALSE(Initialise(c.family));
        EXPECT_EQ(LastError(), c.text);
        EXPECT_EQ(modem_->Writes().size(), c.commandsWritten) << "nothing follows the failure";
        ExpectServiceEnded();
    }
}

TEST_F(InitialisationTest, FailedStorageSelectionIsRecordedAndTheSequenceGoesOn) {
    modem_->OnWrite("AT+CPMS=ME\r", Strings{"\r\nERROR\r\n"});
    EXPECT_TRUE(Initialise(kModuleGsm));
    EXPECT_EQ(LastError(), "初始化Modem(设置AT+CPMS=ME)发生错误");
    EXPECT_EQ(modem_->Writes().back(), "AT+CSCA=\"+8613800100500\"\r");
    ExpectServiceRunning();
}

TEST_F(InitialisationTest, FailedStorageSelectionOn870IsRecorded) {
    modem_->OnWrite("AT+CPMS=MT\r", Strings{"\r\nERROR\r\n"});
    EXPECT_TRUE(Initialise(kModule870));
    EXPECT_EQ(LastError(), "初始化Modem(设置AT+CPMS=MT)发生错误");
    ExpectServiceRunning();
}

TEST_F(InitialisationTest, StopDuringAGsmCommandEndsAfterThatCommandWithoutText) {
    const std::pair<const char*, size_t> cases[] = {
        {"AT+CNMI=1,0,0,0,1\r", 1}, {"AT+CMGF=0\r", 2}, {"AT+CPMS=ME\r", 3}};
    for (const auto& [command, written] : cases) {
        SCOPED_TRACE(command);
        ReplaceModem();
        service_.ClearLastError();
        StopDuring(command);
        EXPECT_FALSE(Initialise(kModuleGsm));
        EXPECT_EQ(modem_->Writes().size(), written);
        EXPECT_EQ(LastError(), "");
        ExpectServiceEnded();
    }
}

TEST_F(InitialisationTest, StopDuringTheCardQuerySendsNoServiceCentre) {
    modem_->OnWriteOnce("AT+CSCA?\r", [this](const std::string&, ScriptedSerialDevice& line) {
        service_.running = false;
        line.Arrive({"+CSCA: \"+8613800100500\",145\r\n\r\nOK\r\n"});
    });
    EXPECT_FALSE(Initialise(kModuleGsm, "card"));
    EXPECT_TRUE(WritesStartingWith("AT+CSCA=").empty());
    ExpectServiceEnded();
}

TEST_F(InitialisationTest, CdmaFamiliesLookForAStopBeforeEachCommand) {
    OpenPort(kModule870);
    service_.running = false;
    EXPECT_FALSE(service_.InitialiseModule());
    EXPECT_TRUE(modem_->Writes().empty());
    ExpectServiceEnded();

    ReplaceModem();
    StopDuring("AT+CNMI=2,1,0,0,0\r");
    EXPECT_FALSE(Initialise(kModule870));
    EXPECT_EQ(modem_->Writes(), Strings{"AT+CNMI=2,1,0,0,0\r"});
    ExpectServiceEnded();

    ReplaceModem();
    StopDuring("at$smstype=1\r");
    EXPECT_FALSE(Initialise(kModule860));
    EXPECT_EQ(modem_->Writes(), Strings{"at$smstype=1\r"});
    ExpectServiceEnded();
}

TEST_F(InitialisationTest, CardAsksTheSimAndConfiguresItsNumber) {
    modem_->OnWrite("AT+CSCA?\r", Strings{"\r\n+CSCA: \"+8613800571500\",145\r\n\r\nOK\r\n"});
    EXPECT_TRUE(Initialise(kModuleGsm, "card"));
    EXPECT_EQ(modem_->Writes(), (Strings{"AT+CNMI=1,0,0,0,1\r", "AT+CMGF=0\r", "AT+CPMS=ME\r",
                                         "AT+CSCA?\r", "AT+CSCA=\"+8613800571500\"\r"}));
    EXPECT_STREQ(service_.serviceCentre, "+8613800571500");
    EXPECT_EQ(Sleeps(), Concat({Repeat(200, 3), Repeat(1000, 1), Repeat(200, 1)}));
}

TEST_F(InitialisationTest, CardStaysWhenTheSimGivesNoNumber) {
    modem_->OnWrite("AT+CSCA?\r", Strings{});
    EXPECT_TRUE(Initialise(kModuleGsm, "card"));
    EXPECT_EQ(modem_->Writes().back(), "AT+CSCA=\"card\"\r");
}

TEST_F(InitialisationTest, OnlyLowerCaseCardIsTheSpecialValue) {
    EXPECT_TRUE(Initialise(kModuleGsm, "Card"));
    EXPECT_TRUE(WritesStartingWith("AT+CSCA?").empty());
    EXPECT_EQ(modem_->Writes().back(), "AT+CSCA=\"Card\"\r");
}

TEST_F(InitialisationTest, SerialFailureDuringInitialisationIsFatal) {
    modem_->FailWriteAt(2, true, EIO);
    EXPECT_FALSE(Initialise(kModuleGsm));
    EXPECT_EQ(LastError(), "初始化Modem时串口发生错误");
    EXPECT_EQ(modem_->Writes(), Strings{"AT+CNMI=1,0,0,0,1\r"});
    ExpectServiceEnded();

    ReplaceModem();
    modem_->FailReadAt(1, false, EIO);
    EXPECT_FALSE(Initialise(kModule860));
    EXPECT_EQ(LastError(), "初始化Modem时串口发生错误");
    ExpectServiceEnded();
}

}  // namespace
}  // namespace dialogue
}  // namespace tidewire

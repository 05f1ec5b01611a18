// Telling the module families apart by their answer to AT+GMM, and the set-up sequence each
// family gets before the worker's loop: which failures end the service, which are only
// recorded, and where a stop is noticed.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "dialogue/dialogue_fixture.h"

namespace tidewire {
namespace dialogue {
namespace {

// --- Detection
// ------------------------------------------------------------------------------------

class DetectionTest : public ChannelTest {
  protected:
    explicit DetectionTest(Edition edition = Edition::Current) : edition_(edition) {
        OpenChannel();
    }

    // The family identified by the answer the module gives, or 0 when identification failed.
    int32_t Identified() {
        const Identification identification = IdentifyFamily(channel_, edition_);
        model_ = identification.model;
        return identification.family != nullptr ? identification.family->Code() : 0;
    }

    // The family identified from a model answer.
    int32_t FamilyFor(const std::string& model) {
        modem_->OnWriteOnce("AT+GMM\r", {"AT+GMM\r\r\n" + model + "\r\n\r\nOK\r\n"});
        return Identified();
    }

    const Edition edition_;
    std::string model_;  // the model text of the last identification
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
    EXPECT_EQ(Identified(), kModule865);
    EXPECT_EQ(modem_->ReadCount(), 17u);

    ClearLog();
    Strings tooLate = Silence(17);
    tooLate.push_back("MODEL 199\r\nOK\r\n");
    modem_->OnWriteOnce("AT+GMM\r", tooLate);
    EXPECT_EQ(Identified(), 0);
    EXPECT_EQ(modem_->ReadCount(), 17u);
    EXPECT_EQ(Sleeps(), Repeat(200, 17));
}

TEST_F(DetectionTest, KeepsTheModelLinesOfTheAnswerAsPrintableText) {
    // The echo, the result code, an indication and the "+GMM:" prefix are not the model; a
    // module that answers in two lines gets them joined, and bytes no codeset agrees on dropped.
    modem_->OnWriteOnce("AT+GMM\r", {"AT+GMM\r\r\n+CMTI: \"ME\",3\r\n+GMM:  sim800 r14\r\n"
                                     "\r\nrev\x01 \xE4\xB8\x80"
                                     "B\r\n\r\nOK\r\n"});
    EXPECT_EQ(Identified(), kModuleGsm);
    EXPECT_EQ(model_, "SIM800 R14 REV B");

    modem_->OnWriteOnce("AT+GMM\r", {"\r\n" + std::string(100, 'X') + "\r\nOK\r\n"});
    EXPECT_EQ(Identified(), kModuleGsm);
    EXPECT_EQ(model_, std::string(kModelTextSize - 1, 'X'));
}

TEST_F(DetectionTest, KnownModelWithoutOkIsNoDetection) {
    modem_->OnWriteOnce("AT+GMM\r", {"\r\nMODEL 199\r\n"});
    EXPECT_EQ(Identified(), 0);
    EXPECT_EQ(model_, "") << "no model is kept from an answer that never ended";
}

TEST_F(DetectionTest, ErrorAnswerFailsDetection) {
    modem_->OnWriteOnce("AT+GMM\r", {"\r\nERROR\r\n"});
    EXPECT_EQ(Identified(), 0);
    EXPECT_EQ(modem_->ReadCount(), 1u);
}

// --- Initialisation
// -------------------------------------------------------------------------------

class InitialisationTest : public FamilyTest {
  protected:
    // The module answers OK to everything not scripted before.
    void AnswerOkToTheRest() {
        modem_->OnWrite(
            [](const std::string&, ScriptedSerialDevice& line) { line.Arrive({"\r\nOK\r\n"}); });
    }

    // Sets up a module of the family whose port is open and whose service runs.
    SetUpResult::Outcome Initialise(int32_t family, const char* serviceCentre = "+8613800100500") {
        OpenPort(family);
        SetServiceCentre(serviceCentre);
        AnswerOkToTheRest();
        result_ = SetUpModule();
        return result_.outcome;
    }

    // A failure that ends the service, with the text it leaves.
    void ExpectFailedWith(const char* text) {
        EXPECT_EQ(result_.outcome, SetUpResult::Outcome::Failed);
        EXPECT_EQ(ErrorTextUtf8(result_.failure), std::string(text));
    }

    // Answers the command with OK and asks the service to stop, as SMSStopSerice would
    // while the command is in progress.
    void StopDuring(const std::string& command) {
        modem_->OnWriteOnce(command, [this](const std::string&, ScriptedSerialDevice& line) {
            running_ = false;
            line.Arrive({"\r\nOK\r\n"});
        });
    }

    SetUpResult result_ = SetUpResult::Ready();
};

constexpr SetUpResult::Outcome kReady = SetUpResult::Outcome::Ready;
constexpr SetUpResult::Outcome kStopped = SetUpResult::Outcome::Stopped;
constexpr SetUpResult::Outcome kFailed = SetUpResult::Outcome::Failed;

TEST_F(InitialisationTest, GsmModuleGetsItsFourCommandsInOrder) {
    EXPECT_EQ(Initialise(kModuleGsm), kReady);
    EXPECT_EQ(modem_->Writes(), (Strings{"AT+CNMI=1,0,0,0,1\r", "AT+CMGF=0\r", "AT+CPMS=ME\r",
                                         "AT+CSCA=\"+8613800100500\"\r"}));
    EXPECT_EQ(LastError(), "");
}

TEST_F(InitialisationTest, Type870GetsNotificationsAndStorage) {
    EXPECT_EQ(Initialise(kModule870), kReady);
    EXPECT_EQ(modem_->Writes(), (Strings{"AT+CNMI=2,1,0,0,0\r", "AT+CPMS=MT\r"}));
}

TEST_F(InitialisationTest, Type860GetsItsMessageTypeCommands) {
    EXPECT_EQ(Initialise(kModule860), kReady);
    EXPECT_EQ(modem_->Writes(), (Strings{"at$smstype=1\r", "at$mtrpttype=0\r"}));
}

TEST_F(InitialisationTest, Type865IsSentNothing) {
    EXPECT_EQ(Initialise(kModule865), kReady);
    EXPECT_TRUE(modem_->Events().empty());
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
        EXPECT_EQ(Initialise(c.family), kFailed);
        ExpectFailedWith(c.text);
        EXPECT_EQ(modem_->Writes().size(), c.commandsWritten) << "nothing follows the failure";
    }
}

TEST_F(InitialisationTest, FailedStorageSelectionIsRecordedAndTheSequenceGoesOn) {
    modem_->OnWrite("AT+CPMS=ME\r", Strings{"\r\nERROR\r\n"});
    EXPECT_EQ(Initialise(kModuleGsm), kReady);
    EXPECT_EQ(LastError(), "初始化Modem(设置AT+CPMS=ME)发生错误");
    EXPECT_EQ(modem_->Writes().back(), "AT+CSCA=\"+8613800100500\"\r");
}

TEST_F(InitialisationTest, FailedStorageSelectionOn870IsRecorded) {
    modem_->OnWrite("AT+CPMS=MT\r", Strings{"\r\nERROR\r\n"});
    EXPECT_EQ(Initialise(kModule870), kReady);
    EXPECT_EQ(LastError(), "初始化Modem(设置AT+CPMS=MT)发生错误");
}

TEST_F(InitialisationTest, StopDuringAGsmCommandEndsAfterThatCommandWithoutText) {
    const std::pair<const char*, size_t> cases[] = {
        {"AT+CNMI=1,0,0,0,1\r", 1}, {"AT+CMGF=0\r", 2}, {"AT+CPMS=ME\r", 3}};
    for (const auto& [command, written] : cases) {
        SCOPED_TRACE(command);
        ReplaceModem();
        ClearLastError();
        StopDuring(command);
        EXPECT_EQ(Initialise(kModuleGsm), kStopped);
        EXPECT_EQ(modem_->Writes().size(), written);
        EXPECT_EQ(LastError(), "");
    }
}

TEST_F(InitialisationTest, LegacyEditionRunsTheWholeSequenceDespiteAStop) {
    session_.edition = Edition::Legacy;
    StopDuring("AT+CNMI=1,0,0,0,1\r");
    EXPECT_EQ(Initialise(kModuleGsm), kReady);
    EXPECT_EQ(modem_->Writes().size(), 4u);
}

TEST_F(InitialisationTest, StopDuringTheCardQuerySendsNoServiceCentre) {
    modem_->OnWriteOnce("AT+CSCA?\r", [this](const std::string&, ScriptedSerialDevice& line) {
        running_ = false;
        line.Arrive({"+CSCA: \"+8613800100500\",145\r\n\r\nOK\r\n"});
    });
    EXPECT_EQ(Initialise(kModuleGsm, "card"), kStopped);
    EXPECT_TRUE(WritesStartingWith("AT+CSCA=").empty());
}

TEST_F(InitialisationTest, CdmaFamiliesLookForAStopBeforeEachCommand) {
    OpenPort(kModule870);
    running_ = false;
    EXPECT_EQ(SetUpModule().outcome, kStopped);
    EXPECT_TRUE(modem_->Writes().empty());

    ReplaceModem();
    StopDuring("AT+CNMI=2,1,0,0,0\r");
    EXPECT_EQ(Initialise(kModule870), kStopped);
    EXPECT_EQ(modem_->Writes(), Strings{"AT+CNMI=2,1,0,0,0\r"});

    ReplaceModem();
    StopDuring("at$smstype=1\r");
    EXPECT_EQ(Initialise(kModule860), kStopped);
    EXPECT_EQ(modem_->Writes(), Strings{"at$smstype=1\r"});
}

TEST_F(InitialisationTest, CardAsksTheSimAndConfiguresItsNumber) {
    modem_->OnWrite("AT+CSCA?\r", Strings{"\r\n+CSCA: \"+8613800571500\",145\r\n\r\nOK\r\n"});
    EXPECT_EQ(Initialise(kModuleGsm, "card"), kReady);
    EXPECT_EQ(modem_->Writes(), (Strings{"AT+CNMI=1,0,0,0,1\r", "AT+CMGF=0\r", "AT+CPMS=ME\r",
                                         "AT+CSCA?\r", "AT+CSCA=\"+8613800571500\"\r"}));
    EXPECT_STREQ(session_.serviceCentre, "+8613800571500");
    EXPECT_EQ(Sleeps(), Concat({Repeat(200, 3), Repeat(1000, 1), Repeat(200, 1)}));
}

TEST_F(InitialisationTest, CardStaysWhenTheSimGivesNoNumber) {
    modem_->OnWrite("AT+CSCA?\r", Strings{});
    EXPECT_EQ(Initialise(kModuleGsm, "card"), kReady);
    EXPECT_EQ(modem_->Writes().back(), "AT+CSCA=\"card\"\r");
}

TEST_F(InitialisationTest, OnlyLowerCaseCardIsTheSpecialValue) {
    EXPECT_EQ(Initialise(kModuleGsm, "Card"), kReady);
    EXPECT_TRUE(WritesStartingWith("AT+CSCA?").empty());
    EXPECT_EQ(modem_->Writes().back(), "AT+CSCA=\"Card\"\r");
}

// A port failure leaves the set-up at once; the service turns it into its text and ends.
TEST_F(InitialisationTest, SerialFailureLeavesTheSetUpAtOnce) {
    modem_->FailWriteAt(2, true, EIO);
    EXPECT_THROW(Initialise(kModuleGsm), CSerialException);
    EXPECT_EQ(modem_->Writes(), Strings{"AT+CNMI=1,0,0,0,1\r"});

    ReplaceModem();
    modem_->FailReadAt(1, false, EIO);
    EXPECT_THROW(Initialise(kModule860), CSerialException);
    EXPECT_EQ(modem_->Writes(), Strings{"at$smstype=1\r"});
}

class ServiceSetUpTest : public ScriptedServiceTest {};

TEST_F(ServiceSetUpTest, SerialFailureDuringSetUpReopensThePortAndSetsTheModuleUpAgain) {
    // The probe, the model query and the SIM check go through; the set-up's second command
    // meets a port that fails once.
    ScriptGsmModule(*modem_);
    modem_->FailWriteAt(5, false, EIO);
    LineSettings settings;
    settings.baud = 9600;
    settings.parity = Parity::Even;
    ASSERT_EQ(service_.StartServiceOnDevice(kDevicePath, settings, "+8613800100500"), 1);
    ASSERT_TRUE(
        modem_->WaitUntil([&] { return !WritesStartingWith("AT+CMGL=").empty(); }, kDeadline));
    EXPECT_EQ(service_.ServiceStarted(), 1);
    EXPECT_EQ(LastError(), "初始化Modem时串口发生错误") << "the failure stays readable";
    service_.StopService();
    const Strings writes = modem_->Writes();
    ASSERT_GE(writes.size(), 13u);
    EXPECT_EQ(Strings(writes.begin(), writes.begin() + 13),
              (Strings{"AT\r", "AT+GMM\r", "AT+CPIN?\r", "AT+CNMI=1,0,0,0,1\r", "AT\r", "AT+GMM\r",
                       "AT+CPIN?\r", "AT+CNMI=1,0,0,0,1\r", "AT+CMGF=0\r", "AT+CPMS=ME\r",
                       "AT+CSCA=\"+8613800100500\"\r", "AT+CMGF=0\r", "AT+CMGL=4\r"}));
    EXPECT_EQ(modem_->Count("open"), 2u) << "the same device, opened again once";
    EXPECT_EQ(modem_->OpenedPath(), kDevicePath);
    EXPECT_EQ(modem_->OpenedSettings().baud, 9600u);
    EXPECT_EQ(modem_->OpenedSettings().parity, Parity::Even);
}

TEST_F(ServiceSetUpTest, StopDuringSetUpEndsTheServiceWithoutText) {
    // The module takes the first set-up command while the host's stop begins.
    std::atomic<bool> settingUp{false};
    AnswerOnceStopped("AT+CNMI=", "\r\nOK\r\n", settingUp);
    ScriptGsmModule(*modem_);
    ASSERT_EQ(Start(), 1);
    ASSERT_TRUE(Eventually([&] { return settingUp.load(); }));
    service_.StopService();
    EXPECT_FALSE(service_.Started());
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(modem_->Writes().back(), "AT+CNMI=1,0,0,0,1\r");
    EXPECT_EQ(modem_->Events().back(), "close");
}

}  // namespace
}  // namespace dialogue
}  // namespace tidewire

// The single-command exchange every modem dialogue is built from, and the query of the SIM's
// service-centre number.
#include <gtest/gtest.h>

#include <string>

#include "dialogue/dialogue_fixture.h"

namespace tidewire {
namespace dialogue {
namespace {

class AtCommandTest : public ScriptedServiceTest {
  protected:
    AtCommandTest() { OpenPort(kModuleGsm); }

    // "AT\r" answered by the given polls.
    bool ProbeAnsweredWith(const Strings& polls) {
        modem_->OnWrite("AT\r", polls);
        return service_.channel.SendAtCommand("AT\r", "OK", "ERROR");
    }
};

TEST_F(AtCommandTest, PurgesInputThenOutputBeforeWritingTheCommand) {
    EXPECT_TRUE(ProbeAnsweredWith({"AT\r\r\nOK\r\n"}));
    const Strings events = modem_->Events();
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(Strings(events.begin(), events.begin() + 4),
              (Strings{"purge-in", "purge-out", "write:AT\r", "read:AT\r\r\nOK\r\n"}));
    EXPECT_EQ(Sleeps(), Repeat(200, 1)) << "the first read comes one interval after the write";
}

TEST_F(AtCommandTest, EndsInThePollInWhichTheExpectedTokenArrives) {
    EXPECT_TRUE(ProbeAnsweredWith({"AT\r", "", "\r\nOK\r\n", "late\r\n"}));
    EXPECT_EQ(modem_->ReadCount(), 3u);
    EXPECT_EQ(Sleeps(), Repeat(200, 3));
}

TEST_F(AtCommandTest, SilentModuleFailsAfterTwelvePolls) {
    EXPECT_FALSE(service_.channel.SendAtCommand("AT\r", "OK", "ERROR"));
    EXPECT_EQ(modem_->ReadCount(), 12u);
    EXPECT_EQ(Sleeps(), Repeat(200, 12));
}

TEST_F(AtCommandTest, AnswerInTheTwelfthPollCountsAndOneLaterDoesNot) {
    Strings answered = Silence(11);
    answered.push_back("OK\r\n");
    EXPECT_TRUE(ProbeAnsweredWith(answered));

    ClearLog();
    Strings late = Silence(12);
    late.push_back("OK\r\n");
    modem_->OnWriteOnce("AT+CPIN?\r", late);
    EXPECT_FALSE(service_.channel.SendAtCommand("AT+CPIN?\r", "OK", "ERROR"));
    EXPECT_EQ(modem_->ReadCount(), 12u);
}

TEST_F(AtCommandTest, TokenSplitOverTwoPollsIsFoundWhenItsLastByteArrives) {
    EXPECT_TRUE(ProbeAnsweredWith({"\r\nO", "", "K\r\n"}));
    EXPECT_EQ(modem_->ReadCount(), 3u);
}

TEST_F(AtCommandTest, ExpectedTokenWinsOverErrorTokenInTheSameReply) {
    EXPECT_TRUE(ProbeAnsweredWith({"\r\nERROR\r\n\r\nOK\r\n"}));
}

TEST_F(AtCommandTest, ErrorTokenFailsAtOnce) {
    EXPECT_FALSE(ProbeAnsweredWith({"\r\nERROR\r\n", "\r\nOK\r\n"}));
    EXPECT_EQ(modem_->ReadCount(), 1u);
}

TEST_F(AtCommandTest, LowerCaseAnswerSatisfiesTheToken) {
    EXPECT_TRUE(ProbeAnsweredWith({"\r\nok\r\n"}));
}

TEST_F(AtCommandTest, InputWaitingBeforeTheCommandIsNeverRead) {
    modem_->Arrive({"\r\nOK\r\n", "RING\r\n"});
    EXPECT_FALSE(service_.channel.SendAtCommand("AT\r", "OK", "ERROR"));
    for (const std::string& event : modem_->Events()) {
        EXPECT_EQ(event.find("OK"), std::string::npos) << event;
    }
}

TEST_F(AtCommandTest, ClosedPortFailsWithoutTouchingTheLine) {
    service_.channel.Port().Close();
    modem_->ClearEvents();
    EXPECT_FALSE(service_.channel.SendAtCommand("AT\r", "OK", "ERROR"));
    EXPECT_TRUE(modem_->Events().empty());
    EXPECT_TRUE(Sleeps().empty());
}

// --- The SIM's service centre -------------------------------------------------------------------

class ServiceCentreQueryTest : public AtCommandTest {
  protected:
    ServiceCentreQueryTest() { std::strcpy(service_.serviceCentre, "card"); }

    std::string QueryAnsweredWith(const Strings& polls) {
        modem_->OnWrite("AT+CSCA?\r", polls);
        service_.QueryServiceCentre();
        return service_.serviceCentre;
    }
};

TEST_F(ServiceCentreQueryTest, TakesTheQuotedNumberFromOneReadAfterOneSecond) {
    EXPECT_EQ(QueryAnsweredWith({"AT+CSCA?\r\r\n+CSCA: \"+8613800100500\",145\r\n\r\nOK\r\n"}),
              "+8613800100500");
    EXPECT_EQ(modem_->Events(),
              (Strings{"purge-in", "purge-out", "write:AT+CSCA?\r",
                       "read:AT+CSCA?\r\r\n+CSCA: \"+8613800100500\",145\r\n\r\nOK\r\n"}));
    EXPECT_EQ(Sleeps(), Repeat(1000, 1));
}

TEST_F(ServiceCentreQueryTest, ReadsOnlyOnceEvenWhenNothingHasArrivedYet) {
    EXPECT_EQ(QueryAnsweredWith({"", "\r\n+CSCA: \"+8613800100500\",145\r\n"}), "card");
    EXPECT_EQ(modem_->ReadCount(), 1u);
}

TEST_F(ServiceCentreQueryTest, TakesNineteenCharactersWithOrWithoutPlus) {
    modem_->OnWriteOnce("AT+CSCA?\r", {"+CSCA: \"1380010050012345678\",129\r\nOK\r\n"});
    service_.QueryServiceCentre();
    EXPECT_STREQ(service_.serviceCentre, "1380010050012345678");

    modem_->OnWriteOnce("AT+CSCA?\r", {"+CSCA: \"+123456789012345678\",145\r\nOK\r\n"});
    service_.QueryServiceCentre();
    EXPECT_STREQ(service_.serviceCentre, "+123456789012345678");
}

TEST_F(ServiceCentreQueryTest, TakesTheNumbersRealModulesReport) {
    const std::pair<const char*, const char*> dumps[] = {
        {"replies/gammu/at-smsc/02.dump", "+79168999100"},
        {"replies/gammu/at-smsc/03.dump", "6281100000"},
    };
    for (const auto& [dump, number] : dumps) {
        modem_->OnWriteOnce("AT+CSCA?\r", {CapturedReply(dump)});
        service_.QueryServiceCentre();
        EXPECT_STREQ(service_.serviceCentre, number) << dump;
    }
}

TEST_F(ServiceCentreQueryTest, KeepsTheStoredValueWhenTheAnswerHoldsNoNumber) {
    const Strings answers[] = {
        {CapturedReply("replies/gammu/at-smsc/01.dump")},          // UCS-2 hex, unquoted
        {CapturedReply("replies/gammu/at-smsc/05.dump")},          // UCS-2 hex, too long
        {CapturedReply("replies/gammu/at-smsc-failing/04.dump")},  // empty quotes
        {"\r\n+CMS ERROR: 330\r\n"},                               // no quote at all
        {"\r\n+CSCA: \"+86138001005001234567\",145\r\n"},          // does not fit 19
        {"\r\n+CSCA: \"SMSC\",129\r\n"},                           // not digits
        {"\r\n+CSCA: \"+\",145\r\n"},                              // a plus alone
    };
    for (const Strings& answer : answers) {
        modem_->OnWriteOnce("AT+CSCA?\r", answer);
        service_.QueryServiceCentre();
        EXPECT_STREQ(service_.serviceCentre, "card") << answer[0];
    }
}

TEST_F(ServiceCentreQueryTest, SilentModuleLeavesTheStoredValue) {
    EXPECT_EQ(QueryAnsweredWith({}), "card");
    EXPECT_EQ(modem_->ReadCount(), 1u);
}

TEST_F(ServiceCentreQueryTest, ClosedPortLeavesTheStoredValueAndTheLineAlone) {
    service_.channel.Port().Close();
    modem_->ClearEvents();
    EXPECT_EQ(QueryAnsweredWith({"+CSCA: \"+8613800100500\",145\r\n"}), "card");
    EXPECT_TRUE(modem_->Events().empty());
}

}  // namespace
}  // namespace dialogue
}  // namespace tidewire

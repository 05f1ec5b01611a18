// The single-command exchange every modem dialogue is built from, and the query of the SIM's
// service-centre number in a GSM module's set-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "dialogue/dialogue_fixture.h"

namespace tidewire {
namespace dialogue {
namespace {

class AtCommandTest : public ChannelTest {
  protected:
    AtCommandTest() { OpenChannel(); }

    // "AT\r" answered by the given polls.
    bool ProbeAnsweredWith(const Strings& polls) {
        modem_->OnWrite("AT\r", polls);
        return channel_.SendAtCommand("AT\r", "OK", "ERROR");
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
    EXPECT_FALSE(channel_.SendAtCommand("AT\r", "OK", "ERROR"));
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
    EXPECT_FALSE(channel_.SendAtCommand("AT+CPIN?\r", "OK", "ERROR"));
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
    EXPECT_FALSE(channel_.SendAtCommand("AT\r", "OK", "ERROR"));
    for (const std::string& event : modem_->Events()) {
        EXPECT_EQ(event.find("OK"), std::string::npos) << event;
    }
}

TEST_F(AtCommandTest, ClosedPortFailsWithoutTouchingTheLine) {
    channel_.Port().Close();
    modem_->ClearEvents();
    EXPECT_FALSE(channel_.SendAtCommand("AT\r", "OK", "ERROR"));
    EXPECT_TRUE(modem_->Events().empty());
    EXPECT_TRUE(Sleeps().empty());
}

// --- The SIM's service centre -------------------------------------------------------------------

// A GSM module set up with "card": the SIM's number is asked for after the storage selection
// and configured after it.
class ServiceCentreQueryTest : public FamilyTest {
  protected:
    ServiceCentreQueryTest() { ReplaceModemAndOpen(); }

    void ReplaceModemAndOpen() {
        ReplaceModem();
        OpenPort(kModuleGsm);
        SetServiceCentre("card");
    }

    // The service centre after a set-up in which the SIM's query got the given polls; every
    // other command is answered OK.
    std::string QueryAnsweredWith(const Strings& polls) {
        modem_->OnWrite("AT+CSCA?\r", polls);
        modem_->OnWrite(
            [](const std::string&, ScriptedSerialDevice& line) { line.Arrive({"\r\nOK\r\n"}); });
        EXPECT_EQ(SetUpModule().outcome, SetUpResult::Outcome::Ready);
        EXPECT_EQ(modem_->Writes().back(),
                  std::string("AT+CSCA=\"") + session_.serviceCentre + "\"\r");
        return session_.serviceCentre;
    }

    // The events from the query's write up to the next command's purge.
    Strings QueryEvents() const {
        const Strings events = modem_->Events();
        auto at = std::find(events.begin(), events.end(), "write:AT+CSCA?\r");
        Strings found;
        for (; at != events.end() && *at != "purge-in"; ++at) {
            found.push_back(*at);
        }
        return found;
    }
};

TEST_F(ServiceCentreQueryTest, TakesTheQuotedNumberFromOneReadAfterOneSecond) {
    EXPECT_EQ(QueryAnsweredWith({"AT+CSCA?\r\r\n+CSCA: \"+8613800100500\",145\r\n\r\nOK\r\n"}),
              "+8613800100500");
    EXPECT_EQ(QueryEvents(),
              (Strings{"write:AT+CSCA?\r",
                       "read:AT+CSCA?\r\r\n+CSCA: \"+8613800100500\",145\r\n\r\nOK\r\n"}));
    EXPECT_EQ(Sleeps(), Concat({Repeat(200, 3), Repeat(1000, 1), Repeat(200, 1)}));
}

TEST_F(ServiceCentreQueryTest, ReadsOnlyOnceEvenWhenNothingHasArrivedYet) {
    EXPECT_EQ(QueryAnsweredWith({"", "\r\n+CSCA: \"+8613800100500\",145\r\n"}), "card");
    EXPECT_EQ(QueryEvents(), (Strings{"write:AT+CSCA?\r", "read:"}));
}

TEST_F(ServiceCentreQueryTest, TakesNineteenCharactersWithOrWithoutPlus) {
    EXPECT_EQ(QueryAnsweredWith({"+CSCA: \"1380010050012345678\",129\r\nOK\r\n"}),
              "1380010050012345678");

    ReplaceModemAndOpen();
    EXPECT_EQ(QueryAnsweredWith({"+CSCA: \"+123456789012345678\",145\r\nOK\r\n"}),
              "+123456789012345678");
}

TEST_F(ServiceCentreQueryTest, TakesTheNumbersRealModulesReport) {
    const std::pair<const char*, const char*> dumps[] = {
        {"replies/gammu/at-smsc/02.dump", "+79168999100"},
        {"replies/gammu/at-smsc/03.dump", "6281100000"},
    };
    for (const auto& [dump, number] : dumps) {
        SCOPED_TRACE(dump);
        ReplaceModemAndOpen();
        EXPECT_EQ(QueryAnsweredWith({CapturedReply(dump)}), number);
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
        SCOPED_TRACE(answer[0]);
        ReplaceModemAndOpen();
        EXPECT_EQ(QueryAnsweredWith(answer), "card");
    }
}

TEST_F(ServiceCentreQueryTest, SilentModuleLeavesTheStoredValue) {
    EXPECT_EQ(QueryAnsweredWith({}), "card");
    EXPECT_EQ(QueryEvents(), (Strings{"write:AT+CSCA?\r", "read:"}));
}

TEST_F(ServiceCentreQueryTest, ClosedPortLeavesTheStoredValueAndTheLineAlone) {
    // The port goes away while the module takes its storage selection.
    modem_->OnWrite("AT+CPMS=ME\r",
                    [this](const std::string&, ScriptedSerialDevice&) { channel_.Port().Close(); });
    modem_->OnWrite(
        [](const std::string&, ScriptedSerialDevice& line) { line.Arrive({"\r\nOK\r\n"}); });
    const SetUpResult result = SetUpModule();
    EXPECT_EQ(result.outcome, SetUpResult::Outcome::Failed);
    EXPECT_EQ(result.failure, ErrorText::InitServiceCentre);
    EXPECT_STREQ(session_.serviceCentre, "card");
    EXPECT_TRUE(WritesStartingWith("AT+CSCA").empty());
    EXPECT_EQ(modem_->Events().back(), "close");
}

}  // namespace
}  // namespace dialogue
}  // namespace tidewire

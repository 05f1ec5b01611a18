// Receiving on the CDMA families 860 and 865: one message per call, cut out of the module's
// comma-separated answer, and on type 860 a delete after each message handed to the host.
#include <gtest/gtest.h>

#include <string>

#include "dialogue/dialogue_fixture.h"

namespace tidewire {
namespace dialogue {
namespace {

// Answers as the modules give them: time stamp, sender, a field, the encoding character, a
// field, then the hex body (to the line end on 865, in quotes on 860).
std::string Answer865(const std::string& sender, char encoding, const std::string& body) {
    return "\r\n$SMSMT: 20100512102345," + sender + ",0," + encoding + ",0," + body +
           "\r\n\r\nOK\r\n";
}

std::string Answer860(const std::string& sender, char encoding, const std::string& body) {
    return "\r\n$SMSMT0: 20100512102345," + sender + ",0," + encoding + ",\"" + body +
           "\"\r\n\r\nOK\r\n";
}

class CdmaReceiveTest : public FamilyTest {
  protected:
    // One call of the receiving procedure against a module that answers the read with polls.
    bool ReceiveOn(int32_t family, const Strings& polls) {
        ReplaceModem();
        OpenPort(family);
        ClearLog();
        modem_->OnWrite("at$smsmt", polls);
        return Receive();
    }

    // The one record a call queued; fails the test when there is not exactly one.
    ReceivedMessage OnlyRecord() {
        std::vector<ReceivedMessage> records = TakeReceived();
        EXPECT_EQ(records.size(), 1u);
        return records.empty() ? ReceivedMessage{} : records[0];
    }
};

TEST_F(CdmaReceiveTest, Type865ReadsOneMessageAndDeletesNothing) {
    EXPECT_TRUE(ReceiveOn(kModule865, {"at$smsmt=1?\r" + Answer865("13912345678", '2', "616263")}));
    const ReceivedMessage record = OnlyRecord();
    EXPECT_STREQ(record.text, "abc");
    EXPECT_STREQ(record.sender, "13912345678");
    EXPECT_STREQ(record.timestamp, "2010-05-12 10:23:45");
    EXPECT_EQ(modem_->Writes(), Strings{"at$smsmt=1?\r"});
    EXPECT_EQ(modem_->Events().at(0), "purge-in");
    EXPECT_EQ(modem_->Events().at(1), "purge-out");
    EXPECT_EQ(Sleeps(), Repeat(300, 1));
}

TEST_F(CdmaReceiveTest, Type860ReadsOneMessageAndDeletesIt) {
    EXPECT_TRUE(ReceiveOn(kModule860, {Answer860("13912345678", '2', "616263")}));
    const ReceivedMessage record = OnlyRecord();
    EXPECT_STREQ(record.text, "abc");
    EXPECT_STREQ(record.sender, "13912345678");
    EXPECT_STREQ(record.timestamp, "2010-05-12 10:23:45");
    EXPECT_EQ(modem_->Writes(), (Strings{"at$smsmt0?\r", "at$delmt=0\r"}));
}

// While records are held nothing more is read until the host acknowledges the last one: type
// 860 then drops it, with no read in between, and type 865 reads on.
TEST_F(CdmaReceiveTest, HeldRecordStopsTheReadsUntilItIsAcknowledged) {
    session_.options.holdReceived = true;
    EXPECT_TRUE(ReceiveOn(kModule860, {Answer860("13912345678", '2', "616263")}));
    EXPECT_STREQ(OnlyRecord().text, "abc");
    EXPECT_TRUE(Receive());
    EXPECT_EQ(modem_->Writes(), Strings{"at$smsmt0?\r"});
    Acknowledge(1);
    EXPECT_TRUE(Receive());
    EXPECT_EQ(modem_->Writes(), (Strings{"at$smsmt0?\r", "at$delmt=0\r"}));
    EXPECT_TRUE(Receive());
    EXPECT_EQ(modem_->Writes().back(), "at$smsmt0?\r");

    EXPECT_TRUE(ReceiveOn(kModule865, {Answer865("13912345678", '2', "616263")}));
    EXPECT_STREQ(OnlyRecord().text, "abc");
    EXPECT_TRUE(Receive());
    EXPECT_EQ(modem_->Writes(), Strings{"at$smsmt=1?\r"});
    Acknowledge(2);
    EXPECT_TRUE(Receive());
    EXPECT_EQ(modem_->Writes(), (Strings{"at$smsmt=1?\r", "at$smsmt=1?\r"}));
}

// The delete drops whatever the module handed out last, so it follows only a message that
// reached the host: an empty answer deletes nothing, and a message that cannot be read is
// deleted once it came back on the third cycle in a row, so that it cannot block the store.
TEST_F(CdmaReceiveTest, Type860DeletesOnlyWhatReachedTheHostOrCameBackUnreadable) {
    EXPECT_TRUE(ReceiveOn(kModule860, {"\r\n", "OK\r\n"}));
    EXPECT_TRUE(TakeReceived().empty());
    EXPECT_EQ(modem_->Writes(), Strings{"at$smsmt0?\r"});
    EXPECT_EQ(PollsAfter("at$smsmt0?\r"), 2u);

    // The module answers every read alike.
    EXPECT_TRUE(ReceiveOn(kModule860, {Answer860("13912345678", '7', "616263")}));
    EXPECT_TRUE(Receive());
    EXPECT_EQ(WritesStartingWith("at$delmt"), Strings{});
    EXPECT_TRUE(Receive());
    EXPECT_TRUE(TakeReceived().empty()) << "an unknown encoding queues nothing";
    EXPECT_EQ(modem_->Writes(),
              (Strings{"at$smsmt0?\r", "at$smsmt0?\r", "at$smsmt0?\r", "at$delmt=0\r"}));
}

TEST_F(CdmaReceiveTest, NoDeleteWithoutACompleteAnswer) {
    EXPECT_TRUE(ReceiveOn(kModule860, {"\r\nERROR\r\n"}));
    EXPECT_EQ(modem_->Writes(), Strings{"at$smsmt0?\r"});
    EXPECT_EQ(PollsAfter("at$smsmt0?\r"), 1u);

    EXPECT_TRUE(ReceiveOn(kModule860, {}));
    EXPECT_EQ(modem_->Writes(), Strings{"at$smsmt0?\r"});
    EXPECT_EQ(PollsAfter("at$smsmt0?\r"), 12u);
    EXPECT_EQ(Sleeps(), Repeat(300, 12));
    EXPECT_TRUE(TakeReceived().empty());
}

TEST_F(CdmaReceiveTest, StopWhileWaitingEndsTheCallWithFalse) {
    int waits = 0;
    OnEverySleep([&](uint32_t) {
        if (++waits == 2) {
            running_ = false;
        }
    });
    EXPECT_FALSE(ReceiveOn(kModule865, {}));
    EXPECT_EQ(PollsAfter("at$smsmt=1?\r"), 1u);
}

TEST_F(CdmaReceiveTest, BodyIsDecodedByItsEncodingCharacter) {
    EXPECT_TRUE(ReceiveOn(kModule865, {Answer865("13912345678", '4', "00610062")}));
    EXPECT_STREQ(OnlyRecord().text, "ab");
    EXPECT_TRUE(ReceiveOn(kModule860, {Answer860("13912345678", '4', "4E2D")}));
    EXPECT_STREQ(OnlyRecord().text, "\xE4\xB8\xAD");
    EXPECT_TRUE(ReceiveOn(kModule860, {Answer860("13912345678", '2', "4a4B4c")}));
    EXPECT_STREQ(OnlyRecord().text, "JKL") << "hex of either letter case";
    EXPECT_TRUE(ReceiveOn(kModule865, {Answer865("13912345678", '0', "616263")}));
    EXPECT_TRUE(TakeReceived().empty());
}

TEST_F(CdmaReceiveTest, AnswerSplitOverPollsIsCollectedUntilOk) {
    const std::string answer = Answer865("13912345678", '2', "616263");
    EXPECT_TRUE(ReceiveOn(kModule865, {answer.substr(0, 20), "", answer.substr(20)}));
    EXPECT_STREQ(OnlyRecord().text, "abc");
    EXPECT_EQ(PollsAfter("at$smsmt=1?\r"), 3u);
}

TEST_F(CdmaReceiveTest, TimeStampNeedsThirtyEightCharactersFromIts20) {
    // From the "20" to the end: 15 for the stamp and its comma, the sender, 9 for the fields
    // and the body, 6 for the line ends and the OK.
    const std::string enough = "\r\n20100512102345,13912345,0,2,0,61\r\nOK\r\n";
    ASSERT_EQ(enough.size() - 2, 38u);
    EXPECT_TRUE(ReceiveOn(kModule865, {enough}));
    EXPECT_STREQ(OnlyRecord().text, "a");

    const std::string shorter = "\r\n20100512102345,1391234,0,2,0,61\r\nOK\r\n";
    EXPECT_TRUE(ReceiveOn(kModule865, {shorter}));
    EXPECT_TRUE(TakeReceived().empty());

    EXPECT_TRUE(
        ReceiveOn(kModule865, {"\r\n$SMSMT: 1,13912345678,0,2,0,616263,filler\r\n\r\nOK\r\n"}));
    EXPECT_TRUE(TakeReceived().empty()) << "no stamp at all";
}

TEST_F(CdmaReceiveTest, TheFirst20OfTheAnswerIsTheStamp) {
    EXPECT_TRUE(ReceiveOn(kModule865, {Answer865("8613920202020", '2', "3230323020")}));
    const ReceivedMessage record = OnlyRecord();
    EXPECT_STREQ(record.timestamp, "2010-05-12 10:23:45");
    EXPECT_STREQ(record.sender, "8613920202020");
    EXPECT_STREQ(record.text, "2020 ");
}

TEST_F(CdmaReceiveTest, AnswerWithoutItsFieldsQueuesNothing) {
    const std::string stamp = "\r\n$SMSMT: 20100512102345";
    for (const std::string& answer :
         {stamp + " and no fields at all and only words\r\n\r\nOK\r\n",
          stamp + ",13912345678 and then nothing more here\r\n\r\nOK\r\n",
          stamp + ",13912345678,0,2,0,616263 and no line end after it: OK"}) {
        SCOPED_TRACE(answer);
        EXPECT_TRUE(ReceiveOn(kModule865, {answer}));
        EXPECT_TRUE(TakeReceived().empty());
    }
    EXPECT_TRUE(ReceiveOn(kModule860, {stamp + ",13912345678,0,2,616263 unquoted\r\n\r\nOK\r\n"}));
    EXPECT_TRUE(TakeReceived().empty());
}

TEST_F(CdmaReceiveTest, AtMostOneMessageIsTakenPerCall) {
    EXPECT_TRUE(ReceiveOn(kModule865, {Answer865("13912345678", '2', "616263") +
                                       Answer865("13900000000", '2', "646566")}));
    EXPECT_STREQ(OnlyRecord().text, "abc");
}

TEST_F(CdmaReceiveTest, OverlongSenderAndBodyAreCutToTheirFields) {
    const std::string sender(40, '1');
    std::string body;
    for (int i = 0; i < 300; ++i) {
        body += "61";
    }
    EXPECT_TRUE(ReceiveOn(kModule865, {Answer865(sender, '2', body)}));
    const ReceivedMessage record = OnlyRecord();
    EXPECT_EQ(std::string(record.sender), std::string(31, '1'));
    EXPECT_EQ(std::string(record.text), std::string(255, 'a'));
}

// Indications that carry digits of their own ("^BOOT:20...", "+CMTI: \"SM\",20") may come
// before the module's answer to the CDMA read command; the time stamp is the answer's, not theirs.
TEST_F(CdmaReceiveTest, ReadAnswerAfterAnIndicationWithDigits) {
    struct Case {
        int32_t family;
        const char* answer;
    };
    const Case cases[] = {
        {kModule860,
         "\r\n^BOOT:20952548,0,0,0,72\r\n\r\n$SMSMT0: 20100512102345,13912345678,4098,2,3,"
         "\"616263\"\r\n\r\nOK\r\n"},
        {kModule865,
         "\r\n+CMTI: \"SM\",20\r\n\r\n$SMSMT: 20100512102345,13912345678,4098,2,3,616263\r\n"
         "\r\nOK\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.family);
        EXPECT_TRUE(ReceiveOn(c.family, {c.answer}));
        const std::vector<ReceivedMessage> records = TakeReceived();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_STREQ(records[0].text, "abc");
        EXPECT_STREQ(records[0].sender, "13912345678");
        EXPECT_STREQ(records[0].timestamp, "2010-05-12 10:23:45");
    }
}

}  // namespace
}  // namespace dialogue
}  // namespace tidewire

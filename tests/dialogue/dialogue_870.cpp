// Type-870 modules: sending after AT+ZMSGL and the prompt of AT+CMGS (ASCII text, or raw UCS-2
// bytes), and receiving by listing the store, reading each message with AT+CMGR and deleting it
// once its record is queued.
#include <gtest/gtest.h>

#include <string>

#include "dialogue/dialogue_fixture.h"

namespace tidewire {
namespace dialogue {
namespace {

constexpr const char* kChineseZhong = "\xE4\xB8\xAD";  // U+4E2D in the UTF-8 host
const std::string kZhongBody("\x4E\x2D\x00\x1A", 4);   // its UCS-2 form and Ctrl-Z

class Send870Test : public FamilyTest {
  protected:
    Send870Test() { OpenPort(kModule870); }

    // A module that takes the encoding, asks for the body and answers it with the given polls.
    void ScriptSend(const Strings& verdict) {
        modem_->OnWrite("AT+ZMSGL=", Strings{"\r\nOK\r\n"});
        modem_->OnWrite("AT+CMGS=", Strings{"\r\n> "});
        modem_->OnWrite("\x1A", verdict);
    }

    bool SendSingleByte(const std::string& text) {
        NumberBuffer number("13912345678");
        return Send(TextKind::SingleByte, text, number.digits);
    }

    bool SendMultiByte(const std::string& text) {
        NumberBuffer number("13912345678");
        return Send(TextKind::MultiByte, text, number.digits);
    }

    // The body follows the number once the prompt has been read, after a purge.
    void ExpectBodyAfterPrompt(const std::string& body) {
        const Strings events = modem_->Events();
        const std::string command = "write:AT+CMGS=\"13912345678\"\r";
        size_t at = 0;
        while (at < events.size() && events[at] != command) {
            ++at;
        }
        ASSERT_LT(at + 4, events.size());
        EXPECT_EQ(Strings(events.begin() + at + 1, events.begin() + at + 5),
                  (Strings{"read:\r\n> ", "purge-in", "purge-out", "write:" + body}));
    }
};

TEST_F(Send870Test, SingleByteGoesAfterItsEncodingCommandAndThePrompt) {
    ScriptSend({"\r\n+CMGS: 5\r\n\r\nOK\r\n"});
    EXPECT_TRUE(SendSingleByte("Hello"));
    EXPECT_EQ(modem_->Writes(),
              (Strings{"AT+ZMSGL=1,2\r", "AT+CMGS=\"13912345678\"\r", "Hello\x1A"}));
    ExpectBodyAfterPrompt("Hello\x1A");
    EXPECT_EQ(Sleeps(), (Intervals{200, 200, 300}));
}

TEST_F(Send870Test, SingleByteVerdicts) {
    struct Case {
        Strings polls;
        bool sent;
        size_t pollsMade;
    };
    const Case cases[] = {
        {{"\r\n+CMGS: 5\r\n", "", "\r\nOK\r\n"}, true, 3},
        {{"\r\n+cmgs: 5\r\n\r\nok\r\n"}, true, 1},
        {{"\r\nOK\r\n"}, false, 42},  // without "+CMGS:" nothing is decided
        {{"\r\nERROR\r\n"}, false, 1},
        {{}, false, 42},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pollsMade);
        ReplaceModem();
        OpenPort(kModule870);
        ScriptSend(c.polls);
        MarkLastError();
        EXPECT_EQ(SendSingleByte("Hello"), c.sent);
        EXPECT_EQ(PollsAfter("Hello\x1A"), c.pollsMade);
        EXPECT_EQ(LastError(), kMarker);
    }
}

TEST_F(Send870Test, SingleByteEchoThatSpellsATokenDecidesNothing) {
    for (const std::string text : {"ok", "error", "Look, OK"}) {
        SCOPED_TRACE(text);
        ReplaceModem();
        OpenPort(kModule870);
        ScriptSend({text + "\x1A\r\n+CMGS: 8\r\n\r\nOK\r\n"});
        EXPECT_TRUE(SendSingleByte(text));

        ReplaceModem();
        OpenPort(kModule870);
        ScriptSend({text + "\x1A"});
        EXPECT_FALSE(SendSingleByte(text));
        EXPECT_EQ(PollsAfter(text + "\x1A"), 42u);
    }
}

// As on GSM modules, a new-message indication before the echo must not hide it: the echoed
// "Error 42" is not the module's refusal of a confirmed message.
TEST_F(Send870Test, UnsolicitedLineBeforeTheEchoDoesNotLetTheEchoDecide) {
    ScriptSend({"\r\n+CMTI: \"MT\",3\r\nError 42\x1A", "\r\n+CMGS: 7\r\n\r\nOK\r\n"});
    EXPECT_TRUE(SendSingleByte("Error 42"));
    EXPECT_EQ(PollsAfter("Error 42\x1A"), 2u);
}

TEST_F(Send870Test, SingleByteLimitsAndRefusedEncoding) {
    ScriptSend({"\r\n+CMGS: 5\r\n\r\nOK\r\n"});
    EXPECT_TRUE(SendSingleByte(std::string(140, 'a')));
    ClearLog();
    EXPECT_FALSE(SendSingleByte(std::string(141, 'a')));
    EXPECT_EQ(LastError(), "英文短信，长度不能大于140");
    EXPECT_TRUE(modem_->Events().empty());

    ReplaceModem();
    OpenPort(kModule870);
    modem_->OnWrite("AT+ZMSGL=", Strings{"\r\nERROR\r\n"});
    EXPECT_FALSE(SendSingleByte("Hello"));
    EXPECT_EQ(LastError(), "以英文发送时，AT+ZMSGL=1, 2设置失败");
    EXPECT_EQ(modem_->Writes(), Strings{"AT+ZMSGL=1,2\r"});
}

// A module that refuses "AT+CMGS", or never asks for the text, is not taking a message: a body
// written now would run as commands, a CR in it ending each one.
TEST_F(Send870Test, NoPromptNoBody) {
    for (const Strings& answer : {Strings{"AT+CMGS=\"13912345678\"\r\r\nERROR\r\n"}, Strings{}}) {
        ReplaceModem();
        OpenPort(kModule870);
        modem_->OnWrite("AT+ZMSGL=", Strings{"\r\nOK\r\n"});
        modem_->OnWrite("AT+CMGS=", answer);
        EXPECT_FALSE(SendSingleByte("gone\rAT+CMGD=1"));
        EXPECT_EQ(modem_->Writes(), (Strings{"AT+ZMSGL=1,2\r", "AT+CMGS=\"13912345678\"\r"}));
    }
}

// On a slow line the end of an earlier answer arrives after the purge that goes before the next
// command. Once the module has echoed a command, an answer counts only behind its own command's
// echo; and a bare "OK" to the message decides nothing until its "+CMGS:" comes.
TEST_F(Send870Test, OnASlowLineEachAnswerCountsForItsOwnCommandOnly) {
    modem_->OnWrite("AT+CMGL=", Strings{"AT+CMGL=\"ALL\"\r\r\nOK\r\n"});
    EXPECT_TRUE(Receive());
    // A late "OK" ahead of the encoding command's own refusal.
    modem_->OnWriteOnce("AT+ZMSGL=", Strings{"\r\nOK\r\n", "AT+ZMSGL=1,2\r\r\nERROR\r\n"});
    EXPECT_FALSE(SendSingleByte("Hello"));
    EXPECT_EQ(LastError(), "以英文发送时，AT+ZMSGL=1, 2设置失败");
    EXPECT_TRUE(WritesStartingWith("AT+CMGS").empty());

    // A late "OK" ahead of the acceptance, and the encoding command's own late "OK" ahead of the
    // message's confirmation.
    modem_->OnWrite("AT+ZMSGL=", Strings{"\r\nOK\r\n", "AT+ZMSGL=1,2\r\r\nOK\r\n"});
    modem_->OnWrite("AT+CMGS=", Strings{"AT+CMGS=\"13912345678\"\r\r\n> "});
    modem_->OnWrite("\x1A", Strings{"Hello\x1A\r\nOK\r\n", "", "\r\n+CMGS: 5\r\n\r\nOK\r\n"});
    EXPECT_TRUE(SendSingleByte("Hello"));
    EXPECT_EQ(PollsAfter("Hello\x1A"), 3u);
}

TEST_F(Send870Test, MultiByteBodyIsRawUcs2EndingInTheUcs2CtrlZ) {
    ScriptSend({"\r\n+CMGS: 5\r\n\r\nOK\r\n"});
    EXPECT_TRUE(SendMultiByte(kChineseZhong));
    EXPECT_EQ(modem_->Writes(),
              (Strings{"AT+ZMSGL=6,4\r", "AT+CMGS=\"13912345678\"\r", kZhongBody}));
    ExpectBodyAfterPrompt(kZhongBody);
    EXPECT_EQ(Sleeps(), (Intervals{200, 200, 300}));
}

TEST_F(Send870Test, MultiByteVerdictsAreReadByteWise) {
    struct Case {
        const char* what;
        Strings polls;
        bool sent;
        size_t pollsMade;
    };
    const Case cases[] = {
        {"echo with zero bytes first", {kZhongBody + "\r\n+CMGS: 5\r\n\r\nOK\r\n"}, true, 1},
        {"OK a poll later", {"\r\n+CMGS: 5\r\n", "", "\r\nOK\r\n"}, true, 3},
        {"lower case is no token", {"\r\n+CMGS: 5\r\n\r\nok\r\n"}, false, 42},
        {"refused", {kZhongBody + "\r\nERROR\r\n"}, false, 1},
        {"silent", {}, false, 42},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReplaceModem();
        OpenPort(kModule870);
        ScriptSend(c.polls);
        EXPECT_EQ(SendMultiByte(kChineseZhong), c.sent);
        EXPECT_EQ(PollsAfter(kZhongBody), c.pollsMade);
    }
}

TEST_F(Send870Test, MultiByteLimitsAndRefusedEncoding) {
    ScriptSend({"\r\n+CMGS: 5\r\n\r\nOK\r\n"});
    std::string seventy;
    for (int i = 0; i < 70; ++i) {
        seventy += kChineseZhong;
    }
    EXPECT_TRUE(SendMultiByte(seventy));
    EXPECT_EQ(modem_->Writes().back().size(), 142u);
    ClearLog();
    EXPECT_FALSE(SendMultiByte(seventy + "a"));
    EXPECT_EQ(LastError(), "中文短信长度不能大于70");
    EXPECT_TRUE(modem_->Events().empty());

    ReplaceModem();
    OpenPort(kModule870);
    modem_->OnWrite("AT+ZMSGL=", Strings{"\r\nERROR\r\n"});
    EXPECT_FALSE(SendMultiByte(kChineseZhong));
    EXPECT_EQ(LastError(), "以中文发送时，AT+ZMSGL=6,4设置失败");
    EXPECT_EQ(modem_->Writes(), Strings{"AT+ZMSGL=6,4\r"});
}

// --- Receiving
// ------------------------------------------------------------------------------------

std::string ListingEntry(int index, const std::string& body) {
    return "+CMGL: " + std::to_string(index) +
           ",\"REC UNREAD\",\"13912345678\",,\"2010/05/12 10:23:45\"\r\n" + body + "\r\n";
}

std::string Listing(const std::string& entries) {
    return "\r\n" + entries + "\r\nOK\r\n";
}

std::string ReadReply(const std::string& body, char encoding = '0',
                      const std::string& sender = "13912345678",
                      const std::string& time = "2010/05/12 10:23:45") {
    return "\r\n+CMGR: \"REC UNREAD\",\"" + sender + "\",\"" + time + "\",0," + encoding + "\r\n" +
           body + "\r\n\r\nOK\r\n";
}

class Receive870Test : public FamilyTest {
  protected:
    Receive870Test() { OpenPort(kModule870); }

    // A store listed with the given polls; each delete is answered with deleteAnswer and notes
    // how many records were queued when it came.
    void ScriptStore(const Strings& listing, const Strings& deleteAnswer = {"\r\nOK\r\n"}) {
        modem_->OnWrite("AT+CMGL=\"ALL\"\r", listing);
        modem_->OnWrite("AT+CMGD=",
                        [this, deleteAnswer](const std::string&, ScriptedSerialDevice& line) {
                            queuedAtDelete_.push_back(ReceivedCount());
                            line.Arrive(deleteAnswer);
                        });
    }

    void ScriptRead(int index, const Strings& reply) {
        modem_->OnWrite("AT+CMGR=" + std::to_string(index) + "\r", reply);
    }

    Strings ReadsAndDeletes() const {
        Strings found;
        for (const std::string& block : modem_->Writes()) {
            if (block.rfind("AT+CMGR=", 0) == 0 || block.rfind("AT+CMGD=", 0) == 0) {
                found.push_back(block);
            }
        }
        return found;
    }

    std::vector<size_t> queuedAtDelete_;
};

TEST_F(Receive870Test, ReadsEachListedMessageAndDeletesItAfterItsRecord) {
    ScriptStore({Listing(ListingEntry(3, "hello") + ListingEntry(12, "world"))});
    ScriptRead(3, {ReadReply("hello")});
    ScriptRead(12, {ReadReply("world", '0', "13800000000", "10/05/13,08:00:00")});
    EXPECT_TRUE(Receive());

    EXPECT_EQ(modem_->Writes().front(), "AT+CMGL=\"ALL\"\r");
    EXPECT_EQ(ReadsAndDeletes(),
              (Strings{"AT+CMGR=3\r", "AT+CMGD=3\r", "AT+CMGR=12\r", "AT+CMGD=12\r"}));
    EXPECT_EQ(queuedAtDelete_, (std::vector<size_t>{1, 2}));
    const std::vector<ReceivedMessage> records = TakeReceived();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_STREQ(records[0].text, "hello");
    EXPECT_STREQ(records[0].sender, "13912345678");
    EXPECT_STREQ(records[0].timestamp, "2010/05/12 10:23:45") << "the module's own time text";
    EXPECT_STREQ(records[1].sender, "13800000000");
    EXPECT_STREQ(records[1].timestamp, "10/05/13,08:00:00");

    // The listing is purged for; a read command is written straight after what came before.
    const Strings events = modem_->Events();
    EXPECT_EQ(Strings(events.begin(), events.begin() + 3),
              (Strings{"purge-in", "purge-out", "write:AT+CMGL=\"ALL\"\r"}));
    for (size_t i = 1; i < events.size(); ++i) {
        if (events[i].rfind("write:AT+CMGR=", 0) == 0) {
            EXPECT_NE(events[i - 1], "purge-out") << events[i];
        }
    }
    EXPECT_EQ(Sleeps(), (Intervals{500, 300, 200, 300, 200}));
}

// While records are held a listed message is read once, and deleted at the start of the first
// receive step after the host acknowledged its record.
TEST_F(Receive870Test, HeldMessageIsReadOnceAndDeletedAfterItsAcknowledgement) {
    session_.options.holdReceived = true;
    bool deleted = false;
    modem_->OnWrite("AT+CMGL=\"ALL\"\r", [&](const std::string&, ScriptedSerialDevice& line) {
        line.Arrive(
            {Listing((deleted ? "" : ListingEntry(3, "hello")) + ListingEntry(12, "world"))});
    });
    modem_->OnWrite("AT+CMGD=3\r", [&](const std::string&, ScriptedSerialDevice& line) {
        deleted = true;
        line.Arrive({"\r\nOK\r\n"});
    });
    ScriptRead(3, {ReadReply("hello")});
    ScriptRead(12, {ReadReply("world")});
    EXPECT_TRUE(Receive());
    EXPECT_TRUE(Receive());
    EXPECT_EQ(ReadsAndDeletes(), (Strings{"AT+CMGR=3\r", "AT+CMGR=12\r"}));
    ASSERT_EQ(TakeReceived().size(), 2u);

    Acknowledge(1);
    EXPECT_TRUE(Receive());
    EXPECT_EQ(ReadsAndDeletes(), (Strings{"AT+CMGR=3\r", "AT+CMGR=12\r", "AT+CMGD=3\r"}));
    EXPECT_EQ(modem_->Writes().back(), "AT+CMGL=\"ALL\"\r") << "the delete opens the step";
    EXPECT_TRUE(TakeReceived().empty());
    EXPECT_EQ(Unacknowledged(), std::vector<int32_t>{2});
}

// This family reports new messages with +CMTI (AT+CNMI=2,1,...), and the read command is
// written without a purge, so such a line can stand before the +CMGR line. Its comma must not
// shift the fields (sender "\r\n\r\n+CMGR: ", time "C UNREAD", real sender lost): they are
// counted from the +CMGR line.
TEST_F(Receive870Test, UnsolicitedLineBeforeTheReadReplyDoesNotShiftItsFields) {
    ScriptStore({Listing(ListingEntry(3, "hello"))});
    ScriptRead(3, {"\r\n+CMTI: \"MT\",4\r\n" + ReadReply("hello")});
    EXPECT_TRUE(Receive());
    const std::vector<ReceivedMessage> records = TakeReceived();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_STREQ(records[0].sender, "13912345678");
    EXPECT_STREQ(records[0].timestamp, "2010/05/12 10:23:45");
    EXPECT_STREQ(records[0].text, "hello");
}

// A delete answered only after its wait leaves its "OK" on the line, and the next read is
// written straight behind it. That "OK" is no answer to the read: each message reaches the host
// once, from its own read, and each delete follows its own message's record.
TEST_F(Receive870Test, ADeleteAnsweredLateIsNotTakenForTheNextRead) {
    Strings lateOk = Silence(12);
    lateOk.push_back("\r\nOK\r\n");
    ScriptStore(
        {Listing(ListingEntry(1, "one") + ListingEntry(2, "two") + ListingEntry(3, "three"))},
        lateOk);
    ScriptRead(1, {ReadReply("one")});
    ScriptRead(2, {ReadReply("two")});
    ScriptRead(3, {ReadReply("three")});
    EXPECT_TRUE(Receive());
    const std::vector<ReceivedMessage> records = TakeReceived();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_STREQ(records[0].text, "one");
    EXPECT_STREQ(records[1].text, "two");
    EXPECT_STREQ(records[2].text, "three");
    EXPECT_EQ(ReadsAndDeletes(), (Strings{"AT+CMGR=1\r", "AT+CMGD=1\r", "AT+CMGR=2\r",
                                          "AT+CMGD=2\r", "AT+CMGR=3\r", "AT+CMGD=3\r"}));
    EXPECT_EQ(queuedAtDelete_, (std::vector<size_t>{1, 2, 3}));
}

TEST_F(Receive870Test, EmptyStoreReadsNothing) {
    ScriptStore({Listing("")});
    EXPECT_TRUE(Receive());
    EXPECT_EQ(modem_->Writes(), Strings{"AT+CMGL=\"ALL\"\r"});
}

TEST_F(Receive870Test, RefusedOrSilentListingReadsNothing) {
    ScriptStore({"\r\nERROR\r\n"});
    EXPECT_TRUE(Receive());
    EXPECT_EQ(modem_->Writes(), Strings{"AT+CMGL=\"ALL\"\r"});

    ReplaceModem();
    OpenPort(kModule870);
    ClearLog();
    ScriptStore({});
    EXPECT_TRUE(Receive());
    EXPECT_EQ(PollsAfter("AT+CMGL=\"ALL\"\r"), 22u);
    EXPECT_EQ(Sleeps(), Repeat(500, 22));
}

TEST_F(Receive870Test, Encoding4BodyIsRawUcs2AndOtherBodiesAreCopied) {
    ScriptStore({Listing(ListingEntry(1, "?") + ListingEntry(2, "?"))});
    ScriptRead(1, {ReadReply(std::string("\x4E\x2D", 2), '4')});
    ScriptRead(2, {ReadReply(std::string("\x4E\x2D", 2), '0')});
    EXPECT_TRUE(Receive());
    const std::vector<ReceivedMessage> records = TakeReceived();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_STREQ(records[0].text, kChineseZhong);
    EXPECT_STREQ(records[1].text, "N-");
}

TEST_F(Receive870Test, BodiesSayingOkOrErrorDoNotEndTheAnswers) {
    ScriptStore({Listing(ListingEntry(1, "OK") + ListingEntry(2, "ERROR"))});
    ScriptRead(1, {ReadReply("OK")});
    ScriptRead(2, {ReadReply("ERROR")});
    EXPECT_TRUE(Receive());
    const std::vector<ReceivedMessage> records = TakeReceived();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_STREQ(records[0].text, "OK");
    EXPECT_STREQ(records[1].text, "ERROR");
    EXPECT_EQ(ReadsAndDeletes(),
              (Strings{"AT+CMGR=1\r", "AT+CMGD=1\r", "AT+CMGR=2\r", "AT+CMGD=2\r"}));
}

TEST_F(Receive870Test, ReadReplyThatCannotBeCutGetsNoRecordAndStays) {
    ScriptStore({Listing(ListingEntry(1, "a") + ListingEntry(2, "b") + ListingEntry(3, "c") +
                         ListingEntry(4, "d"))});
    ScriptRead(1, {"\r\n+CMGR: \"REC READ\"\r\n\r\nOK\r\n"});  // no comma
    ScriptRead(2, {"+CMGR: \"REC READ\",\"139\",\"2010/05/12 10:23:45\",0,0\nb\n\nOK\n"});
    ScriptRead(3, {ReadReply("")});  // an empty body
    ScriptRead(4, {ReadReply("d")});
    EXPECT_TRUE(Receive());
    EXPECT_EQ(ReadsAndDeletes(),
              (Strings{"AT+CMGR=1\r", "AT+CMGR=2\r", "AT+CMGR=3\r", "AT+CMGR=4\r", "AT+CMGD=4\r"}));
    const std::vector<ReceivedMessage> records = TakeReceived();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_STREQ(records[0].text, "d");
}

TEST_F(Receive870Test, RefusedReadLeavesTheRestForTheNextCall) {
    ScriptStore({Listing(ListingEntry(3, "a") + ListingEntry(4, "b"))});
    ScriptRead(3, {"\r\n+CMS ERROR: 321\r\n"});
    ScriptRead(4, {ReadReply("b")});
    EXPECT_TRUE(Receive());
    EXPECT_EQ(ReadsAndDeletes(), Strings{"AT+CMGR=3\r"});
    EXPECT_TRUE(TakeReceived().empty());
}

TEST_F(Receive870Test, ListingAndReadsShareOnePollCounter) {
    Strings slowListing = Silence(15);
    slowListing.push_back(Listing(ListingEntry(5, "a")));
    ScriptStore(slowListing);
    ScriptRead(5, {});
    EXPECT_TRUE(Receive());
    EXPECT_EQ(PollsAfter("AT+CMGL=\"ALL\"\r"), 16u);
    EXPECT_EQ(PollsAfter("AT+CMGR=5\r"), 7u);
    EXPECT_EQ(Sleeps(), Concat({Repeat(500, 16), Repeat(300, 7)}));
    EXPECT_TRUE(TakeReceived().empty());
    EXPECT_EQ(ReadsAndDeletes(), Strings{"AT+CMGR=5\r"});
}

TEST_F(Receive870Test, StopWhileWaitingEndsTheCallWithFalse) {
    ScriptStore({Listing(ListingEntry(5, "a"))});
    ScriptRead(5, {});
    int readWaits = 0;
    OnEverySleep([&](uint32_t ms) {
        if (ms == 300 && ++readWaits == 2) {
            running_ = false;
        }
    });
    EXPECT_FALSE(Receive());
    EXPECT_EQ(PollsAfter("AT+CMGR=5\r"), 1u);
}

TEST_F(Receive870Test, LongIndexIsReadWhole) {
    ScriptStore({Listing(ListingEntry(1234, "a"))});
    ScriptRead(1234, {ReadReply("a")});
    EXPECT_TRUE(Receive());
    EXPECT_EQ(ReadsAndDeletes(), (Strings{"AT+CMGR=1234\r", "AT+CMGD=1234\r"}));
}

TEST_F(Receive870Test, OverlongFieldsAreCutToTheirSize) {
    ScriptStore({Listing(ListingEntry(1, "a"))});
    ScriptRead(1,
               {ReadReply(std::string(300, 'b'), '0', std::string(40, '1'), std::string(40, 't'))});
    EXPECT_TRUE(Receive());
    const std::vector<ReceivedMessage> records = TakeReceived();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(std::string(records[0].sender), std::string(31, '1'));
    EXPECT_EQ(std::string(records[0].timestamp), std::string(31, 't'));
    EXPECT_EQ(std::string(records[0].text), std::string(255, 'b'));
}

}  // namespace
}  // namespace dialogue
}  // namespace tidewire

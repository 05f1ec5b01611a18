// The CDMA families as a host sees them, byte for byte: type 870's text-mode commands with raw
// bodies, and types 860 and 865 with whole messages on one command line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ModemEngine.h"

namespace tidewire::sim {
namespace {

const std::string kOk = "\r\nOK\r\n";
const std::string kError = "\r\nERROR\r\n";
const std::string kZhongWen = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文, U+4E2D U+6587
const std::string kZhongWenUcs2("\x4E\x2D\x65\x87", 4);

// A message from 13912345678, 2024-05-12 10:23:45 local time.
IncomingMessage Incoming(std::string text, std::string sender = "13912345678") {
    IncomingMessage message;
    message.sender = std::move(sender);
    message.textUtf8 = std::move(text);
    message.timestamp = Timestamp{2024, 5, 12, 10, 23, 45, 32};
    return message;
}

ModemConfig Family(int family, int capacity = 30) {
    ModemConfig config;
    config.family = family;
    config.capacity = capacity;
    config.echo = false;  // the answers alone; echo has its own cases
    return config;
}

class CdmaModule : public ::testing::Test {
  protected:
    void Use(const ModemConfig& config) { modem_ = std::make_unique<ModemEngine>(config); }
    ModemEngine& Modem() { return *modem_; }
    std::string Feed(const std::string& bytes) { return modem_->Feed(bytes); }
    void Store(const IncomingMessage& message) {
        const InjectResult result = modem_->Inject(message);
        ASSERT_TRUE(result.stored) << result.error;
    }

  private:
    std::unique_ptr<ModemEngine> modem_;
};

// --- Type 870 ---------------------------------------------------------------------------------

class Module870 : public CdmaModule {
  protected:
    Module870() { Use(Family(870)); }
};

TEST_F(Module870, AsciiBodyFollowsThePromptAndEndsAtCtrlZ) {
    Use([] {
        ModemConfig config = Family(870);
        config.echo = true;
        return config;
    }());
    EXPECT_EQ(Feed("AT+ZMSGL=1,2\r"), "AT+ZMSGL=1,2\r" + kOk);
    EXPECT_EQ(Feed("AT+CMGS=\"13912345678\"\r"), "AT+CMGS=\"13912345678\"\r\r\n> ");
    EXPECT_EQ(Feed("ERROR in the book\x1A"), "ERROR in the book\r\n+CMGS: 1\r\n" + kOk);
    ASSERT_EQ(Modem().SentMessages().size(), 1u);
    EXPECT_EQ(Modem().SentMessages()[0].destination, "13912345678");
    EXPECT_EQ(Modem().SentMessages()[0].textUtf8, "ERROR in the book");
}

TEST_F(Module870, RawUnicodeBodyEndsOnlyAtTheZeroCtrlZPair) {
    Use([] {
        ModemConfig config = Family(870);
        config.echo = true;
        return config;
    }());
    Feed("AT+ZMSGL=6,4\r");
    Feed("AT+CMGS=\"13912345678\"\r");
    // 业 U+4E1A, 不 U+4E0D and 丛 U+4E1B carry Ctrl-Z, CR and ESC as their low bytes.
    const std::string body("\x4E\x1A\x4E\x0D\x4E\x1B", 6);
    const std::string answer = Feed(body + std::string("\x00\x1A", 2));
    // The echo holds the body and the zero byte of the terminator.
    EXPECT_EQ(answer, body + std::string(1, '\0') + "\r\n+CMGS: 1\r\n" + kOk);
    ASSERT_EQ(Modem().SentMessages().size(), 1u);
    EXPECT_EQ(Modem().SentMessages()[0].textUtf8, "\xE4\xB8\x9A\xE4\xB8\x8D\xE4\xB8\x9B");
}

TEST_F(Module870, UnicodeBodiesBeyondSeventyCharactersOrCancelledAreNotSent) {
    Feed("AT+ZMSGL=6,4\r");
    std::string seventyOne;
    for (int i = 0; i < 71; ++i) {
        seventyOne += kZhongWenUcs2.substr(0, 2);
    }
    Feed("AT+CMGS=\"13912345678\"\r");
    EXPECT_EQ(Feed(seventyOne + std::string("\x00\x1A", 2)), "\r\n+CMS ERROR: 305\r\n");
    Feed("AT+CMGS=\"13912345678\"\r");
    EXPECT_EQ(Feed(kZhongWenUcs2 + std::string("\x00\x1B", 2)), kOk) << "00 1B cancels";
    EXPECT_TRUE(Modem().SentMessages().empty());
    EXPECT_EQ(Feed("AT\r"), kOk) << "the module is back in command mode";
}

TEST_F(Module870, AsciiModeRefusesBytesAboveSevenBits) {
    Feed("AT+ZMSGL=1,2\r");
    Feed("AT+CMGS=\"13912345678\"\r");
    EXPECT_EQ(Feed("caf\xE9\x1A"), "\r\n+CMS ERROR: 305\r\n");
    EXPECT_TRUE(Modem().SentMessages().empty());
}

TEST_F(Module870, ZmsglTakesALanguageAndTheAsciiOrUnicodeEncoding) {
    EXPECT_EQ(Feed("AT+ZMSGL?\r"), "\r\n+ZMSGL: 1,2\r\n" + kOk);
    EXPECT_EQ(Feed("AT+ZMSGL=6,4\r"), kOk);
    EXPECT_EQ(Feed("AT+ZMSGL?\r"), "\r\n+ZMSGL: 6,4\r\n" + kOk);
    EXPECT_EQ(Feed("AT+ZMSGL=1,3\r"), kError);
    EXPECT_EQ(Feed("AT+ZMSGL=8,2\r"), kError);
    EXPECT_EQ(Feed("AT+ZMSGL?\r"), "\r\n+ZMSGL: 6,4\r\n" + kOk);
}

TEST_F(Module870, ListingAndReadShowHeaderThenTheRawBodyLine) {
    Store(Incoming("hello"));
    Store(Incoming(kZhongWen, "10086"));
    EXPECT_EQ(Feed("AT+CMGL=\"ALL\"\r"),
              "\r\n+CMGL: 1,\"REC UNREAD\",\"13912345678\",\"2024/05/12 10:23:45\",0,2,5\r\n"
              "hello\r\n"
              "+CMGL: 2,\"REC UNREAD\",\"10086\",\"2024/05/12 10:23:45\",0,4,4\r\n" +
                  kZhongWenUcs2 + "\r\n" + kOk);
    // Listing marked both read.
    EXPECT_EQ(Feed("AT+CMGR=2\r"),
              "\r\n+CMGR: \"REC READ\",\"10086\",\"2024/05/12 10:23:45\",0,4,4\r\n" +
                  kZhongWenUcs2 + "\r\n" + kOk);
    EXPECT_EQ(Feed("AT+CMGL=\"REC UNREAD\"\r"), kOk);
    EXPECT_EQ(Feed("AT+CMGL=ALL\r"), "\r\n+CMS ERROR: 305\r\n") << "the status is quoted";
}

TEST_F(Module870, DeleteRemovesThatIndexOnly) {
    Store(Incoming("one"));
    Store(Incoming("two"));
    EXPECT_EQ(Feed("AT+CMGD=1\r"), kOk);
    EXPECT_EQ(Modem().StoreContents().size(), 1u);
    EXPECT_EQ(Modem().StoreContents()[0].index, 2);
    EXPECT_EQ(Feed("AT+CMGD=1\r"), "\r\n+CMS ERROR: 321\r\n");
    EXPECT_EQ(Feed("AT+CMGR=1\r"), "\r\n+CMS ERROR: 321\r\n");
}

TEST_F(Module870, NewMessagesAreAnnouncedOnceIndicationsAreOn) {
    Store(Incoming("quiet"));
    EXPECT_EQ(Modem().TakeUnsolicited(), "");
    EXPECT_EQ(Feed("AT+CNMI=2,1,0,0,0\r"), kOk);
    Store(Incoming("announced"));
    EXPECT_EQ(Modem().TakeUnsolicited(), "\r\n+CMTI: \"ME\",2\r\n");
}

TEST_F(Module870, SendFailureAndAMissingCardRefuseTheMessage) {
    Modem().SetSendFailure(true);
    Feed("AT+CMGS=\"13912345678\"\r");
    EXPECT_EQ(Feed("hi\x1A"), "\r\n+CMS ERROR: 500\r\n");
    Modem().SetSendFailure(false);
    Modem().SetSimPresent(false);
    EXPECT_EQ(Feed("AT+CMGS=\"13912345678\"\r"), "\r\n+CMS ERROR: 310\r\n");
    EXPECT_EQ(Feed("AT+CPIN?\r"), "\r\n+CME ERROR: 10\r\n");
    EXPECT_TRUE(Modem().SentMessages().empty());
}

// --- What a CDMA network delivers --------------------------------------------------------------

TEST_F(Module870, DeliveriesAreWhatOneCdmaMessageCarries) {
    EXPECT_TRUE(Modem().Inject(Incoming(std::string(160, 'a'))).stored);
    EXPECT_FALSE(Modem().Inject(Incoming(std::string(161, 'a'))).stored);
    std::string seventy;
    for (int i = 0; i < 35; ++i) {
        seventy += kZhongWen;
    }
    EXPECT_TRUE(Modem().Inject(Incoming(seventy)).stored);
    EXPECT_FALSE(Modem().Inject(Incoming(seventy + "a")).stored);

    IncomingMessage named = Incoming("hi", "BANK");
    named.alphanumericSender = true;
    EXPECT_FALSE(Modem().Inject(named).stored);
    IncomingMessage accented = Incoming("caf\xC3\xA9");
    accented.coding = TextCoding::Gsm7;
    EXPECT_FALSE(Modem().Inject(accented).stored) << "CDMA 7-bit text is plain ASCII";
    EXPECT_FALSE(Modem().InjectPdu("0011", false).stored) << "only decodable messages";
    EXPECT_EQ(Modem().StoreCount(), 2);

    // Accented Latin text, which GSM would carry in its 7-bit alphabet, comes as Unicode.
    Modem().ClearStore();
    Store(Incoming("caf\xC3\xA9"));
    EXPECT_EQ(Feed("AT+CMGR=1\r"),
              "\r\n+CMGR: \"REC UNREAD\",\"13912345678\",\"2024/05/12 10:23:45\",0,4,8\r\n" +
                  std::string("\x00\x63\x00\x61\x00\x66\x00\xE9", 8) + "\r\n" + kOk);
}

// --- Type 865 ---------------------------------------------------------------------------------

class Module865 : public CdmaModule {
  protected:
    Module865() { Use(Family(865)); }
};

TEST_F(Module865, SendIsTakenWithOkAndThenReportedSent) {
    EXPECT_EQ(Feed("at$smsmo=13912345678,13912345678,4098,2,0,0,616263\r"), kOk);
    EXPECT_EQ(Modem().TakeUnsolicited(), "\r\n$SMSMO: $006\r\n");
    EXPECT_EQ(Feed("at$smsmo=13912345678,13912345678,4098,4,0,0,4E2D6587\r"), kOk);
    EXPECT_EQ(Modem().TakeUnsolicited(), "\r\n$SMSMO: $006\r\n");
    const auto sent = Modem().SentMessages();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].destination, "13912345678");
    EXPECT_EQ(sent[0].textUtf8, "abc");
    EXPECT_EQ(sent[1].textUtf8, kZhongWen);
}

TEST_F(Module865, MalformedSendLinesAreRefusedAndReportNothing) {
    const std::vector<std::string> lines = {
        "at$smsmo=13912345678,13912345678,4097,2,0,0,616263\r",  // another teleservice
        "at$smsmo=13912345678,13912345678,4098,3,0,0,616263\r",  // no such encoding
        "at$smsmo=13912345678,13912345678,4098,2,0,0,61626\r",   // half an octet
        "at$smsmo=13912345678,13912345678,4098,2,0,0,E9\r",      // not 7-bit ASCII
        "at$smsmo=13912345678,13912345678,4098,4,0,0,4E2D65\r",  // half a character
        "at$smsmo=139-1234,139-1234,4098,2,0,0,61\r",            // not a number
        "at$smsmo=13912345678,4098,2,0,0,61\r",                  // a field missing
        "at$smsmo=13912345678,13912345678,4098,2,0,0," + std::string(322, '6') + "\r",
    };
    for (const std::string& line : lines) {
        EXPECT_EQ(Feed(line), kError) << line;
    }
    EXPECT_EQ(Modem().TakeUnsolicited(), "");
    EXPECT_TRUE(Modem().SentMessages().empty());
}

TEST_F(Module865, RefusalAndMissingCardAreReportedWithTheirCodes) {
    Modem().SetSendFailure(true);
    EXPECT_EQ(Feed("at$smsmo=5551234,5551234,4098,2,0,0,61\r"), kOk);
    EXPECT_EQ(Modem().TakeUnsolicited(), "\r\n$SMSMO: $002\r\n");
    Modem().SetSendFailure(false);
    Modem().SetSimPresent(false);
    EXPECT_EQ(Feed("at$smsmo=5551234,5551234,4098,2,0,0,61\r"), kOk);
    EXPECT_EQ(Modem().TakeUnsolicited(), "\r\n$SMSMO: $004\r\n");
    EXPECT_TRUE(Modem().SentMessages().empty());
}

TEST_F(Module865, ReadHandsOutEachUnreadMessageOnceAndKeepsIt) {
    Store(Incoming("hello"));
    Store(Incoming(kZhongWen, "10086"));
    EXPECT_EQ(Feed("at$smsmt=1?\r"),
              "\r\n$SMSMT: 20240512102345,13912345678,4098,2,5,68656C6C6F\r\n" + kOk);
    EXPECT_EQ(Feed("at$smsmt=1?\r"),
              "\r\n$SMSMT: 20240512102345,10086,4098,4,2,4E2D6587\r\n" + kOk);
    EXPECT_EQ(Feed("at$smsmt=1?\r"), kOk) << "every message has been read";
    ASSERT_EQ(Modem().StoreCount(), 2);
    for (const StoredMessage& message : Modem().StoreContents()) {
        EXPECT_EQ(message.status, MessageStatus::ReceivedRead);
    }
    EXPECT_EQ(Feed("at$delmt=0\r"), kError) << "type 865 has no delete command";
    EXPECT_EQ(Feed("at$smsmt0?\r"), kError) << "nor type 860's read";
}

TEST_F(Module865, AFullStoreMakesRoomByDroppingTheOldestReadMessage) {
    Use(Family(865, 2));
    Store(Incoming("first"));
    Store(Incoming("second"));
    Feed("at$smsmt=1?\r");  // "first" is read
    Store(Incoming("third"));
    const auto contents = Modem().StoreContents();
    ASSERT_EQ(contents.size(), 2u);
    EXPECT_EQ(contents[0].status, MessageStatus::ReceivedUnread);  // "third", in slot 1
    EXPECT_NE(Feed("at$smsmt=1?\r").find("7365636F6E64"), std::string::npos) << "second";
    EXPECT_NE(Feed("at$smsmt=1?\r").find("7468697264"), std::string::npos) << "third";
    Store(Incoming("fourth"));
    Store(Incoming("fifth"));
    EXPECT_FALSE(Modem().Inject(Incoming("sixth")).stored) << "no read message left to drop";
}

// --- Type 860 ---------------------------------------------------------------------------------

class Module860 : public CdmaModule {
  protected:
    Module860() { Use(Family(860)); }
};

TEST_F(Module860, SendIsTakenWithOkAndThenAcknowledged) {
    EXPECT_EQ(Feed("at$smsmo0=13912345678,13912345678,4098,2,0,0,616263\r"), kOk);
    EXPECT_EQ(Modem().TakeUnsolicited(), "\r\n$SMSMOACK\r\n");
    Modem().SetSendFailure(true);
    EXPECT_EQ(Feed("at$smsmo0=13912345678,13912345678,4098,2,0,0,616263\r"), kOk);
    EXPECT_EQ(Modem().TakeUnsolicited(), "\r\n$SMSMONAK\r\n");
    EXPECT_EQ(Modem().SentMessages().size(), 1u);
    EXPECT_EQ(Feed("at$smsmo=13912345678,13912345678,4098,2,0,0,616263\r"), kError)
        << "type 865's command";
}

TEST_F(Module860, ReadQuotesTheBodyAndDeleteRemovesThatMessage) {
    Store(Incoming("hello"));
    Store(Incoming(kZhongWen, "10086"));
    const std::string first =
        "\r\n$SMSMT0: 20240512102345,13912345678,4098,2,5,\"68656C6C6F\"\r\n" + kOk;
    EXPECT_EQ(Feed("at$smsmt0?\r"), first);
    EXPECT_EQ(Feed("at$smsmt0?\r"), first) << "handed out again until deleted";
    EXPECT_EQ(Feed("at$delmt=0\r"), kOk);
    EXPECT_EQ(Feed("at$smsmt0?\r"),
              "\r\n$SMSMT0: 20240512102345,10086,4098,4,2,\"4E2D6587\"\r\n" + kOk);
    EXPECT_EQ(Feed("at$delmt=0\r"), kOk);
    EXPECT_EQ(Modem().StoreCount(), 0);
    EXPECT_EQ(Feed("at$smsmt0?\r"), kOk);
    EXPECT_EQ(Feed("at$delmt=1\r"), kError);
}

TEST_F(Module860, DeleteAfterAnEmptyAnswerLeavesALaterDeliveryAlone) {
    EXPECT_EQ(Feed("at$smsmt0?\r"), kOk);
    Store(Incoming("arrived between the read and the delete"));
    EXPECT_EQ(Feed("at$delmt=0\r"), kOk);
    EXPECT_EQ(Modem().StoreCount(), 1);
}

TEST_F(Module860, OldestIsCountedByDeliveryNotBySlot) {
    Store(Incoming("first"));
    Store(Incoming("second"));
    Feed("at$smsmt0?\r");
    Feed("at$delmt=0\r");
    Store(Incoming("third"));  // takes the free slot 1
    EXPECT_EQ(Modem().StoreContents()[0].index, 1);
    EXPECT_NE(Feed("at$smsmt0?\r").find("7365636F6E64"), std::string::npos) << "second first";
    // A slot the controller emptied and refilled is not "the message handed out".
    Modem().ClearStore();
    Store(Incoming("fresh"));
    Feed("at$delmt=0\r");
    EXPECT_EQ(Modem().StoreCount(), 1);
}

TEST_F(Module860, FaultSwitchesWorkAsOnEveryFamily) {
    Store(Incoming("hello"));
    Modem().AddErrorFor("at$smsmt0");
    EXPECT_EQ(Feed("at$smsmt0?\r"), kError);
    Modem().ClearFaults();
    Modem().SetLowerCaseReplies(true);
    Feed("at$smsmo0=5551234,5551234,4098,2,0,0,61\r");
    EXPECT_EQ(Modem().TakeUnsolicited(), "\r\n$smsmoack\r\n");
    Modem().ClearFaults();
    Modem().SetSilent(true);
    EXPECT_EQ(Feed("at$smsmt0?\r"), "");
    EXPECT_EQ(Feed("at$delmt=0\r"), "");
    EXPECT_EQ(Modem().StoreCount(), 1) << "a silent module executes nothing";
}

}  // namespace
}  // namespace tidewire::sim

// The options of a GSM module: long texts as concatenated 7-bit or UCS-2 SUBMITs, received
// parts joined in the store before anything is deleted, and status reports asked for, stored
// by the module, matched and deleted. With the options off the other dialogue tests hold.
#include <gtest/gtest.h>

#include <string>

#include "dialogue/dialogue_fixture.h"

namespace tidewire {
namespace dialogue {
namespace {

// "Hello raspberry pi" from +27748577604, as a module lists it.
constexpr const char* kHelloPdu =
    "07917248014000F3240B917247587706F400003110824115248012C8329BFD06C9C373B8B82C97E741F034";

// The two parts of a 7-bit message under the 8-bit reference 0x4C (python-gsmmodem's test data).
constexpr const char* kFirstPart =
    "07912160130320F5440B916171056429F5000021405291650569A00500034C0201A9E8F41C949E83C2207B599E07"
    "B1DFEE33885E9ED341E4F23C7D7697C920FA1B54C697E5E3F4BC0C6AD7D9F434081E96D341E3303C2C4EB3D3F4BC"
    "0B94A483E6E8779D4D06CDD1EF3BA80E0785E7A0B7BB0C6A97E7F3F0B9CC02B9DF7450780EA2DFDF2C50780EA2A3"
    "CBA0BA9B5C96B3F369F71954768FDFE4B4FB0C9297E1F2F2BCECA6CF41";
constexpr const char* kSecondPart =
    "07912160130320F6440B916171056429F5000021405291651569320500034C0202E9E8301D44479741F0B09C3E07"
    "85E56590BCCC0ED3CB6410FD0D7ABBCBA0B0FB4D4797E52E10";
constexpr const char* kFirstText =
    "This is a very long test designed to exercise multi part capability. It should show up as "
    "one message, not as two, as the underlying encoding represents ";
constexpr const char* kSecondText = "that the parts are related to one another. ";

// A status report about the message with reference 183 to 0829200000: delivered.
constexpr const char* kReportPdu =
    "07917248014000F506B70AA18092020000317071518590803170715185418000";

std::string Entry(const std::string& index, const std::string& pdu) {
    return "+CMGL: " + index + ",1,,35\r\n" + pdu + "\r\n";
}

class GsmLongTest : public FamilyTest {
  protected:
    GsmLongTest() {
        OpenPort(kModuleGsm);
        SetServiceCentre("123456");
        session_.options.longMessages = true;
    }

    // A module that prompts for every message and confirms each body with the next reference
    // from 9 on, except the refused one (counted from 1), and answers OK to the rest.
    void ScriptSends(int refused = 0) {
        modem_->OnWrite("AT+CMGS=", Strings{"\r\n> "});
        modem_->OnWrite("\x1A", [this, refused](const std::string&, ScriptedSerialDevice& line) {
            ++bodies_;
            line.Arrive({bodies_ == refused
                             ? std::string("\r\n+CMS ERROR: 500\r\n")
                             : "\r\n+CMGS: " + std::to_string(8 + bodies_) + "\r\n\r\nOK\r\n"});
        });
        AnswerOkToTheRest();
    }

    // A module whose store lists listing_ at every call, and is full when full_ says so.
    void ScriptStore() {
        modem_->OnWrite("AT+CMGL=4\r", [this](const std::string&, ScriptedSerialDevice& line) {
            line.Arrive({"\r\n" + listing_ + "\r\nOK\r\n"});
        });
        modem_->OnWrite("AT+CPMS?\r", [this](const std::string&, ScriptedSerialDevice& line) {
            const std::string used = full_ ? "30" : "2";
            line.Arrive({"\r\n+CPMS: \"ME\"," + used + ",30,\"ME\"," + used + ",30,\"ME\"," + used +
                         ",30\r\n\r\nOK\r\n"});
        });
        modem_->OnWrite("AT+CMGD=", [this](const std::string&, ScriptedSerialDevice& line) {
            queuedAtDelete_.push_back(ReceivedCount());
            line.Arrive({"\r\nOK\r\n"});
        });
        modem_->OnWrite("AT+CNMI=1,0,0,2,1\r",
                        [this](const std::string&, ScriptedSerialDevice& line) {
                            line.Arrive({refusesStoredReports_ ? "\r\nERROR\r\n" : "\r\nOK\r\n"});
                        });
        AnswerOkToTheRest();
    }

    void AnswerOkToTheRest() {
        modem_->OnWrite(
            [](const std::string&, ScriptedSerialDevice& line) { line.Arrive({"\r\nOK\r\n"}); });
    }

    // The PDUs written after the prompts, without their Ctrl-Z and CR.
    Strings Pdus() const {
        Strings pdus;
        for (const std::string& block : modem_->Writes()) {
            const size_t end = block.find('\x1A');
            if (end != std::string::npos && block.rfind("AT", 0) != 0) {
                pdus.push_back(block.substr(0, end));
            }
        }
        return pdus;
    }

    Strings Texts() {
        Strings texts;
        for (const ReceivedMessage& record : TakeReceived()) {
            texts.push_back(record.text);
        }
        return texts;
    }

    int bodies_ = 0;
    std::string listing_;
    bool full_ = false;
    bool refusesStoredReports_ = false;
    std::vector<size_t> queuedAtDelete_;
};

// In the PDUs below (service centre 123456, destination 8613912345678): the first octet at 10,
// TP-DCS at 34, TP-UDL at 38, the user-data header from 40.
TEST_F(GsmLongTest, LongTextGoesInPartsUnderOneReferenceEachPartWithItsOwn) {
    ScriptSends(6);
    session_.sending.reportWanted = true;
    NumberBuffer number("13912345678");
    EXPECT_TRUE(Send(TextKind::SingleByte, std::string(200, 'a'), number.digits));
    EXPECT_STREQ(number.digits, "8613912345678");
    EXPECT_EQ(WritesStartingWith("AT+CMGS="), (Strings{"AT+CMGS=155\r", "AT+CMGS=63\r"}));
    Strings pdus = Pdus();
    ASSERT_EQ(pdus.size(), 2u);
    // Status report asked, header present; 7-bit; 7 + 153 and 7 + 47 septets.
    EXPECT_EQ(pdus[0].substr(10, 2), "71");
    EXPECT_EQ(pdus[0].substr(34, 2), "00");
    EXPECT_EQ(pdus[0].substr(38, 2), "A0");
    EXPECT_EQ(pdus[1].substr(38, 2), "36");
    const std::string reference = pdus[0].substr(46, 2);
    EXPECT_EQ(pdus[0].substr(40, 12), "050003" + reference + "0201");
    EXPECT_EQ(pdus[1].substr(40, 12), "050003" + reference + "0202");
    EXPECT_EQ(session_.sending.partCount, 2u);
    EXPECT_EQ(session_.sending.references[0], 9);
    EXPECT_EQ(session_.sending.references[1], 10);

    // A GSM text that is not ASCII goes as one 7-bit message; an ASCII text that fits text
    // mode stays there. Without the request the first octet is the usual one.
    session_.sending = SendRecord{};
    ClearLog();
    NumberBuffer again("13912345678");
    EXPECT_TRUE(Send(TextKind::MultiByte,
                     "Gr\xC3\xBC\xC3\x9F"
                     "e aus M\xC3\xBCnchen",
                     again.digits));
    pdus = Pdus();
    ASSERT_EQ(pdus.size(), 1u);
    EXPECT_EQ(pdus[0].substr(10, 2), "11");
    EXPECT_EQ(pdus[0].substr(34, 2), "00");
    EXPECT_EQ(pdus[0].substr(38, 2), "11") << "17 septets";
    EXPECT_TRUE(Send(TextKind::SingleByte, "Hello", again.digits));
    EXPECT_EQ(WritesStartingWith("AT+CMGF=1"), Strings{"AT+CMGF=1\r"});

    // The next long message has a reference of its own; a refused part ends it there.
    ClearLog();
    NumberBuffer third("13912345678");
    EXPECT_FALSE(Send(TextKind::MultiByte, std::string(200, '[') + "\xC3\xA9", third.digits));
    pdus = Pdus();
    ASSERT_EQ(pdus.size(), 2u) << "the third part never goes";
    EXPECT_NE(pdus[0].substr(46, 2), reference);
    EXPECT_EQ(pdus[0].substr(48, 4), "0301");
}

TEST_F(GsmLongTest, AReportIsAskedForInTextModeForTheOneSendAndInPduModeByItsFirstOctet) {
    session_.options.longMessages = false;
    ScriptSends();
    session_.sending.reportWanted = true;
    NumberBuffer number("13912345678");
    EXPECT_TRUE(Send(TextKind::SingleByte, "Hello", number.digits));
    EXPECT_EQ(modem_->Writes(),
              (Strings{"AT+CMGF=1\r", "AT+CSMP=49,167,0,0\r", "AT+CMGS=\"13912345678\"\r",
                       "Hello\x1A", "AT+CSMP=17,167,0,0\r"}));
    EXPECT_TRUE(Send(TextKind::MultiByte, "\xE4\xB8\xAD", number.digits));
    ASSERT_EQ(Pdus().size(), 2u);
    EXPECT_EQ(Pdus()[1].substr(10, 2), "31");
    EXPECT_EQ(session_.sending.partCount, 2u);
    EXPECT_EQ(session_.sending.references[0], 9);
    EXPECT_EQ(session_.sending.references[1], 10);

    // A confirmation whose line never ends confirms the message, with no reference to keep.
    ReplaceModem();
    OpenPort(kModuleGsm);
    modem_->OnWrite("AT+CMGS=", Strings{"\r\n> "});
    modem_->OnWrite("\x1A", Strings{"\r\n+CMGS: 1"});
    AnswerOkToTheRest();
    session_.sending = SendRecord{};
    session_.sending.reportWanted = true;
    EXPECT_TRUE(Send(TextKind::MultiByte, "\xE4\xB8\xAD", number.digits));
    EXPECT_EQ(session_.sending.partCount, 1u);
    EXPECT_EQ(session_.sending.references[0], -1);
}

TEST_F(GsmLongTest, PartsWaitInTheStoreUntilTheWholeMessageIsQueued) {
    ScriptStore();
    listing_ = Entry("3", kHelloPdu) + Entry("5", kSecondPart);
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Texts(), Strings{"Hello raspberry pi"});
    EXPECT_EQ(WritesStartingWith("AT+CMGD="), Strings{"AT+CMGD=3\r"});

    ClearLog();
    listing_ = Entry("5", kSecondPart) + Entry("7", kFirstPart);
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Texts(), Strings{std::string(kFirstText) + kSecondText});
    EXPECT_EQ(WritesStartingWith("AT+CMGD="), (Strings{"AT+CMGD=7\r", "AT+CMGD=5\r"}));
    EXPECT_EQ(queuedAtDelete_, (std::vector<size_t>{1, 1, 1})) << "deleted once queued";
}

// While records are held the parts of a joined text stay in the store, listed but not joined
// again, and leave together once the text is acknowledged.
TEST_F(GsmLongTest, HeldPartsLeaveTogetherOnceTheJoinedTextIsAcknowledged) {
    session_.options.holdReceived = true;
    ScriptStore();
    listing_ = Entry("5", kSecondPart) + Entry("7", kFirstPart);
    EXPECT_TRUE(Receive());
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Texts(), Strings{std::string(kFirstText) + kSecondText});
    EXPECT_TRUE(WritesStartingWith("AT+CMGD=").empty());

    Acknowledge(1);
    listing_.clear();
    EXPECT_TRUE(Receive());
    EXPECT_EQ(WritesStartingWith("AT+CMGD="), (Strings{"AT+CMGD=7\r", "AT+CMGD=5\r"}));
    EXPECT_TRUE(Texts().empty());
}

TEST_F(GsmLongTest, PartsOfAnIncompleteMessageGoOnTheirOwnWhenOverdueOrInAFullStore) {
    ScriptStore();
    session_.options.reassemblySeconds = 600;
    listing_ = Entry("5", kSecondPart);
    for (const uint64_t now : {uint64_t{0}, uint64_t{599999}}) {
        clockMs_ = now;
        EXPECT_TRUE(Receive());
        EXPECT_TRUE(Texts().empty());
    }
    EXPECT_EQ(WritesStartingWith("AT+CPMS?"), (Strings{"AT+CPMS?\r", "AT+CPMS?\r"}));
    EXPECT_TRUE(WritesStartingWith("AT+CMGD=").empty());
    clockMs_ = 600000;
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Texts(), Strings{kSecondText});
    EXPECT_EQ(WritesStartingWith("AT+CMGD="), Strings{"AT+CMGD=5\r"});

    // Another message's first part in a full store, where its second could never arrive.
    ClearLog();
    std::string other = kFirstPart;
    other.replace(other.find("0500034C"), 8, "0500034D");
    listing_ = Entry("6", other);
    full_ = true;
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Texts(), Strings{kFirstText});
    EXPECT_EQ(WritesStartingWith("AT+CMGD="), Strings{"AT+CMGD=6\r"});
}

TEST_F(GsmLongTest, StatusReportsAreRoutedMatchedAndDeletedOnlyWhileReportsAreWanted) {
    session_.options.longMessages = false;
    ScriptStore();
    // Stored under index 2, and one indicated in the middle of the listing.
    listing_ = Entry("2", kReportPdu) + "+CDS: 25\r\n" + kReportPdu + "\r\n";
    EXPECT_TRUE(Receive());
    EXPECT_TRUE(reports_.empty());
    EXPECT_TRUE(WritesStartingWith("AT+CNMI").empty());
    EXPECT_TRUE(WritesStartingWith("AT+CMGD=").empty());

    session_.options.deliveryReports = true;
    EXPECT_TRUE(Receive());
    EXPECT_EQ(WritesStartingWith("AT+CNMI"), Strings{"AT+CNMI=1,0,0,2,1\r"});
    ASSERT_EQ(reports_.size(), 2u);
    EXPECT_EQ(reports_[0].reference, 183);
    EXPECT_STREQ(reports_[0].recipient, "0829200000");
    EXPECT_EQ(WritesStartingWith("AT+CMGD="), Strings{"AT+CMGD=2\r"});

    ClearLog();
    session_.options.deliveryReports = false;
    EXPECT_TRUE(Receive());
    EXPECT_EQ(WritesStartingWith("AT+CNMI"), Strings{"AT+CNMI=1,0,0,0,1\r"});

    // At set-up: stored reports asked for first, today's indications when the module refuses.
    ClearLog();
    session_.options.deliveryReports = true;
    refusesStoredReports_ = true;
    SetServiceCentre("+8613800100500");
    EXPECT_EQ(SetUpModule().outcome, SetUpResult::Outcome::Ready);
    EXPECT_EQ(WritesStartingWith("AT+CNMI"),
              (Strings{"AT+CNMI=1,0,0,2,1\r", "AT+CNMI=1,0,0,0,1\r"}));
}

}  // namespace
}  // namespace dialogue
}  // namespace tidewire

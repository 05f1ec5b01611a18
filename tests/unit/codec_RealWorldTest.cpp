// The codec against messages captured from real modules and against other projects' vectors.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "base/BoundedCopy.h"
#include "codec/Pdu.h"
#include "support/TestData.h"

namespace tidewire {
namespace {

using testdata::kGbkLocale;
using testdata::kUtf8Locale;
using testdata::ScopedCtypeLocale;
using testdata::TsvTable;

// Messages that are well-formed but carry no text: a zero-length one, and a picture message
// whose user data is all header. They decode to a count of 0 with their sender filled in.
bool IsKnownTextlessMessage(const std::string& source) {
    return source.find("tests/at-sms/23.dump") != std::string::npos ||
           source.find("tests/at-sms/26.dump") != std::string::npos;
}

int Decode(const std::string& hex, PduMessage& message) {
    const std::vector<char> exact(hex.begin(), hex.end());
    return DecodeDeliverPdu(exact.data(), exact.size(), message);
}

bool IsValidHostText(const char* text) {
    std::mbstate_t state{};
    const size_t length = strlen(text);
    size_t position = 0;
    while (position < length) {
        wchar_t character = 0;
        const size_t used = mbrtowc(&character, text + position, length - position, &state);
        if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2) || used == 0) {
            return false;
        }
        position += used;
    }
    return true;
}

std::string WithoutPlus(const std::string& number) {
    return !number.empty() && number[0] == '+' ? number.substr(1) : number;
}

// "2013-03-08T15:02:16+02:00" as the record shows it: "2013-03-08 15:02:16".
std::string RecordTimestamp(const std::string& iso) {
    std::string text = iso.substr(0, 19);
    text[10] = ' ';
    return text;
}

std::vector<uint8_t> HexBytes(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// The first count characters of a UTF-8 text.
std::string Utf8Prefix(const std::string& text, size_t count) {
    size_t end = 0;
    for (size_t characters = 0; end < text.size() && characters < count; ++characters) {
        ++end;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            ++end;
        }
    }
    return text.substr(0, end);
}

// What the text of a generated vector decodes to: the notes name the text when the generator
// substituted characters or cut the text to fit one message.
std::string GeneratedText(const std::string& text, const std::string& notes) {
    const std::string marker = "decodes the PDU text as '";
    const size_t start = notes.find(marker);
    if (start == std::string::npos) {
        return text;
    }
    const size_t quoteEnd = notes.find("' (", start + marker.size());
    const std::string quoted =
        notes.substr(start + marker.size(), quoteEnd - start - marker.size());
    if (quoted.size() < 3 || quoted.compare(quoted.size() - 3, 3, "...") != 0) {
        return quoted;
    }
    return Utf8Prefix(text, std::stoul(notes.substr(quoteEnd + 3)));
}

class RealWorldTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(utf8_.Active()); }

    void Load(const char* fileName, TsvTable& table) {
        std::string error;
        ASSERT_TRUE(table.Load(fileName, error)) << error;
        ASSERT_GT(table.RowCount(), 0u);
    }

    ScopedCtypeLocale utf8_{kUtf8Locale};
};

TEST_F(RealWorldTest, EveryCapturedDeliveryDecodesToItsSenderAndText) {
    TsvTable table;
    Load("pdus.tsv", table);
    for (size_t row = 0; row < table.RowCount(); ++row) {
        SCOPED_TRACE("pdus.tsv line " + std::to_string(table.LineOf(row)));
        ASSERT_EQ(table.Cell(row, "tpdu_type"), "SMS-DELIVER");
        PduMessage message{};
        const int count = Decode(table.Cell(row, "pdu_hex"), message);
        const std::string& alphabet = table.Cell(row, "alphabet_from_dcs");
        const bool textless = IsKnownTextlessMessage(table.Cell(row, "source_file"));
        if (textless) {
            EXPECT_EQ(count, 0);
        } else {
            EXPECT_GT(count, 0);
        }
        if (alphabet != "8bit" && !textless) {
            EXPECT_GT(strlen(message.text), 0u);
            EXPECT_TRUE(IsValidHostText(message.text)) << message.text;
        }
        EXPECT_GT(strlen(message.number), 0u);
        const std::string& senderType = table.Cell(row, "sender_toa");
        if (senderType != "D0" && senderType != "50") {
            EXPECT_EQ(strspn(message.number, "0123456789"), strlen(message.number))
                << message.number;
        }
        EXPECT_EQ(strlen(message.timestamp), 19u);
        EXPECT_EQ(std::string(message.timestamp, 2), "20");

        if (!table.Cell(row, "expected_sender").empty()) {
            EXPECT_EQ(message.number, WithoutPlus(table.Cell(row, "expected_sender")));
        }
        if (!table.Cell(row, "expected_text").empty()) {
            EXPECT_EQ(message.text, table.Cell(row, "expected_text"));
        }
        if (!table.Cell(row, "expected_timestamp").empty()) {
            EXPECT_EQ(message.timestamp, RecordTimestamp(table.Cell(row, "expected_timestamp")));
        }
        if (!table.Cell(row, "expected_smsc").empty()) {
            EXPECT_EQ(message.smsc, WithoutPlus(table.Cell(row, "expected_smsc")));
        }
        const std::string& notes = table.Cell(row, "notes");
        const std::string binaryMarker = "expected binary user data = ";
        const size_t binary = notes.find(binaryMarker);
        if (binary != std::string::npos) {
            const std::vector<uint8_t> expected =
                HexBytes(notes.substr(binary + binaryMarker.size(), 20));
            ASSERT_EQ(count, static_cast<int>(expected.size()));
            EXPECT_EQ(std::vector<uint8_t>(message.text, message.text + count), expected);
        }
    }
}

TEST_F(RealWorldTest, CapturedDeliveriesArriveAsValidGbkText) {
    ScopedCtypeLocale gbk(kGbkLocale);
    if (!gbk.Active()) {
        GTEST_SKIP() << "locale " << kGbkLocale << " is not installed";
    }
    TsvTable table;
    Load("pdus.tsv", table);
    for (size_t row = 0; row < table.RowCount(); ++row) {
        SCOPED_TRACE("pdus.tsv line " + std::to_string(table.LineOf(row)));
        if (table.Cell(row, "alphabet_from_dcs") == "8bit" ||
            IsKnownTextlessMessage(table.Cell(row, "source_file"))) {
            continue;
        }
        PduMessage message{};
        EXPECT_GT(Decode(table.Cell(row, "pdu_hex"), message), 0);
        EXPECT_GT(strlen(message.text), 0u);
        EXPECT_TRUE(IsValidHostText(message.text));
        EXPECT_TRUE(IsValidHostText(message.number));
    }
}

// Some captures carry octets after the user data, so a cut may fall in those; a cut into the
// message itself must be refused, never decoded into a shorter message.
TEST_F(RealWorldTest, CapturedDeliveriesCutShortAreRefusedOrUnchanged) {
    TsvTable table;
    Load("pdus.tsv", table);
    for (size_t row = 0; row < table.RowCount(); ++row) {
        const std::string& hex = table.Cell(row, "pdu_hex");
        PduMessage whole{};
        const int wholeCount = Decode(hex, whole);
        size_t accepted = 0;
        for (size_t length = 0; length < hex.size(); ++length) {
            PduMessage message{};
            const int count = Decode(hex.substr(0, length), message);
            if (count == 0) {
                EXPECT_EQ(accepted, 0u) << "a longer cut was accepted before " << length;
                continue;
            }
            ++accepted;
            EXPECT_EQ(count, wholeCount);
            EXPECT_STREQ(message.text, whole.text);
            EXPECT_STREQ(message.number, whole.number);
        }
        EXPECT_LT(accepted, hex.size() / 2) << "pdus.tsv line " << table.LineOf(row);
    }
}

TEST_F(RealWorldTest, SubmitsStatusReportsAndBrokenPdusAreRefused) {
    TsvTable table;
    Load("pdus_other.tsv", table);
    for (size_t row = 0; row < table.RowCount(); ++row) {
        PduMessage message{};
        EXPECT_EQ(Decode(table.Cell(row, "pdu_hex"), message), 0)
            << "pdus_other.tsv line " << table.LineOf(row);
        EXPECT_STREQ(message.text, "");
    }
}

// The fixed choices of the encoder (first octet 0x11, reference 0, international numbers,
// longest validity, UCS-2) match these vectors exactly.
TEST_F(RealWorldTest, EncoderMatchesGeneratedUcs2Submits) {
    TsvTable table;
    Load("gammu_at-sms-encode.tsv", table);
    size_t checked = 0;
    for (size_t row = 0; row < table.RowCount(); ++row) {
        const std::string& smsc = table.Cell(row, "smsc");
        const std::string& number = table.Cell(row, "number");
        if (table.Cell(row, "tpdu_type") != "SMS-SUBMIT" ||
            table.Cell(row, "coding") != "Unicode" || table.Cell(row, "first_octet") != "11" ||
            smsc[0] != '+' || number[0] != '+') {
            continue;
        }
        SCOPED_TRACE("gammu_at-sms-encode.tsv line " + std::to_string(table.LineOf(row)));
        PduMessage message{};
        BoundedCopy(message.smsc, WithoutPlus(smsc).c_str());
        BoundedCopy(message.number, WithoutPlus(number).c_str());
        const std::string text =
            GeneratedText(table.Cell(row, "text_utf8"), table.Cell(row, "notes"));
        BoundedCopy(message.text, text.c_str());
        message.dcs = 0x08;
        char pdu[512];
        EncodeSubmitPdu(message, pdu, sizeof(pdu));
        EXPECT_EQ(pdu, table.Cell(row, "expected_pdu_hex"));
        ++checked;
    }
    EXPECT_GT(checked, 0u);
}

// The parts of a golden SMS-SUBMIT that this encoder also writes, read octet by octet.
struct SubmitParts {
    std::string serviceCentre;  // length, type and digits, or "00"
    std::string destination;    // length, type and digits
    std::string pidAndDcs;
    std::string userData;  // length and data
};

SubmitParts SplitSubmit(const std::string& hex) {
    SubmitParts parts;
    size_t position = 0;
    const auto octet = [&](size_t at) { return std::stoi(hex.substr(at, 2), nullptr, 16); };
    const size_t smscLength = 2 + 2 * octet(0);
    parts.serviceCentre = hex.substr(0, smscLength);
    position = smscLength;
    const int firstOctet = octet(position);
    position += 4;  // first octet and message reference
    const size_t destinationLength = 4 + 2 * ((octet(position) + 1) / 2);
    parts.destination = hex.substr(position, destinationLength);
    position += destinationLength;
    parts.pidAndDcs = hex.substr(position, 4);
    position += 4;
    const int validityFormat = (firstOctet >> 3) & 0x03;
    position += validityFormat == 0 ? 0 : validityFormat == 2 ? 2 : 14;
    parts.userData = hex.substr(position);
    return parts;
}

TEST_F(RealWorldTest, EncoderAgreesWithGoldenUcs2Submits) {
    TsvTable table;
    Load("submit_golden.tsv", table);
    size_t checked = 0;
    for (size_t row = 0; row < table.RowCount(); ++row) {
        if (table.Cell(row, "dcs") != "08" || table.Cell(row, "udhi") != "0") {
            continue;
        }
        SCOPED_TRACE("submit_golden.tsv line " + std::to_string(table.LineOf(row)));
        PduMessage message{};
        BoundedCopy(message.smsc, WithoutPlus(table.Cell(row, "input_smsc")).c_str());
        BoundedCopy(message.number, WithoutPlus(table.Cell(row, "input_number")).c_str());
        BoundedCopy(message.text, table.Cell(row, "input_text").c_str());
        message.dcs = 0x08;
        char pdu[512];
        ASSERT_GT(EncodeSubmitPdu(message, pdu, sizeof(pdu)), 0u);
        const SubmitParts expected = SplitSubmit(table.Cell(row, "expected_pdu_hex"));
        const SubmitParts actual = SplitSubmit(pdu);
        if (expected.serviceCentre != "00") {
            EXPECT_EQ(actual.serviceCentre, expected.serviceCentre);
        } else {
            EXPECT_EQ(actual.serviceCentre, "0191");
        }
        EXPECT_EQ(actual.destination, expected.destination);
        EXPECT_EQ(actual.pidAndDcs, expected.pidAndDcs);
        EXPECT_EQ(actual.userData, expected.userData);
        EXPECT_EQ(std::string(pdu).substr(actual.serviceCentre.size(), 4), "1100");
        ++checked;
    }
    EXPECT_GT(checked, 0u);
}

}  // namespace
}  // namespace tidewire

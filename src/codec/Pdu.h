// SMS PDUs as GSM modules take and list them in PDU mode: the SMS-SUBMIT builder (UCS-2 text,
// explicit service-centre address) and the SMS-DELIVER decoder.
#ifndef TIDEWIRE_CODEC_PDU_H
#define TIDEWIRE_CODEC_PDU_H

#include <cstddef>
#include <cstdint>

namespace tidewire {

// One message in PDU form. The encoder reads smsc, number, pid, dcs and text; the decoder
// writes every field and terminates each one itself, so a block can be reused.
struct PduMessage {
    char smsc[16];       // service-centre digits, no "+", at most 15
    char number[32];     // destination digits (encoding) or sender (decoding): digits without
                         // "+", or the name of an alphanumeric sender in host text
    uint8_t pid;         // TP-PID
    uint8_t dcs;         // TP-DCS
    char timestamp[32];  // "yyyy-mm-dd hh:mm:ss" after decoding; not read by the encoder
    char text[256];      // host text, at most 255 bytes
};

// Longest number of digits an address field holds.
constexpr size_t kMaxAddressDigits = 15;

// Builds the SMS-SUBMIT: smsc (type 0x91), first octet 0x11, TP-MR 0, destination (type
// 0x91), pid, dcs, TP-VP 0xFF, UCS-2 user data. Returns the number of upper-case hex characters
// written (NUL-terminated), or 0 when the text does not convert or the output does not fit.
// The caller keeps both numbers within 15 digits and the text within 70 characters; a message
// outside those limits (a number that is empty for the destination, longer than 15 or not all
// decimal digits, a text of more than 140 UCS-2 octets, a field without its NUL) or whose dcs
// does not declare UCS-2 is refused with 0 rather than sent garbled.
size_t EncodeSubmitPdu(const PduMessage& message, char* out, size_t outCapacity);

// The TPDU length that "AT+CMGS=%d" carries for a PDU text: its octets without the
// service-centre part. 0 when the text is shorter than its service-centre part says, of odd
// length, or does not start with a hex octet.
int SubmitTpduLength(const char* pduText, size_t pduLength);

// Alphabet chosen by a TP-DCS octet under the coding groups of 3GPP TS 23.038.
enum class SmsAlphabet { Gsm7Bit, EightBit, Ucs2 };
SmsAlphabet AlphabetOfDcs(uint8_t dcs);

// --- Long messages and status reports ----------------------------------------------------------

// The place of one part in a concatenated message, as its user-data header gives it
// (information element 00 with an 8-bit reference, or 08 with a 16-bit one).
struct Concatenation {
    bool present = false;
    bool wideReference = false;  // element 08
    uint16_t reference = 0;
    uint8_t total = 0;
    uint8_t sequence = 0;  // 1 to total
};

// The most parts a record's text (255 bytes) needs: 255 characters of the extension table are
// 510 septets, four parts of 152 or 153; 255 UCS-2 units are four parts of 66 or 67.
constexpr size_t kMostSubmitParts = 4;

// A text laid out for SMS-SUBMITs: its alphabet, its septets (one a byte) or UCS-2 octets (high
// byte first), and where each part ends. One part carries no user-data header and holds 160
// septets or 140 octets; each of several parts holds 153 septets or 134 octets behind its
// header, less one where the part would end inside an escape pair or a surrogate pair.
struct SubmitText {
    bool gsm7 = false;
    uint8_t data[2 * 255];
    size_t length = 0;
    size_t partCount = 0;
    size_t partEnd[kMostSubmitParts] = {};
};

enum class SubmitCoding { Ucs2, Gsm7WhereItFits };

// Lays out count UTF-16 units: GSM 7-bit (with the extension table) when every character is in
// the alphabet and the coding allows it, UCS-2 otherwise. False when the text is empty, does not
// fit mostParts parts (at most kMostSubmitParts), or holds more than 255 units.
bool PlanSubmitText(const char16_t* units, size_t count, SubmitCoding coding, size_t mostParts,
                    SubmitText& plan);

// One SMS-SUBMIT to build.
struct SubmitPart {
    const char* smsc = "";      // digits, at most 15 (type 0x91)
    const char* number = "";    // digits, 1 to 15 (type 0x91)
    bool gsm7 = false;          // TP-DCS 0x00, else 0x08
    bool statusReport = false;  // TP-SRR
    // Written as element 00 (8-bit reference) when present.
    Concatenation concatenation;
    const uint8_t* data = nullptr;  // septets or UCS-2 octets
    size_t length = 0;
};

// Builds the SMS-SUBMIT as EncodeSubmitPdu does (TP-MR 0, TP-VP 0xFF), with the status-report
// request and the concatenation header when asked. Returns the hex characters written
// (NUL-terminated), or 0 when a number is no number, the user data does not fit one PDU, or the
// output does not fit.
size_t EncodeSubmitPart(const SubmitPart& part, char* out, size_t outCapacity);

// A DELIVER's text as UTF-16 units, and its place in a concatenated message. 8-bit data gives
// no units.
struct DeliverText {
    SmsAlphabet alphabet = SmsAlphabet::Gsm7Bit;
    Concatenation concatenation;
    char16_t units[160];
    size_t unitCount = 0;
};

// Decodes as DecodeDeliverPdu does, with the text as units rather than host text: message gets
// every field but its text. False for a PDU that DecodeDeliverPdu refuses (every field of
// message then empty).
bool DecodeDeliverText(const char* pdu, size_t length, PduMessage& message, DeliverText& text);

// What an SMS-STATUS-REPORT says about one sent message.
struct StatusReport {
    uint8_t reference = 0;    // the TP-MR the module gave the message ("+CMGS: <mr>")
    char recipient[32] = {};  // TP-RA as digits, without "+"
    uint8_t status = 0;       // TP-ST
};

// Decodes an SMS-STATUS-REPORT as modules list it and indicate it (+CDS), the service-centre
// part first (0 for none). False for anything else, or one cut short or malformed.
bool DecodeStatusReportPdu(const char* pdu, size_t length, StatusReport& report);

// The message type of a listed PDU (TP-MTI of its first octet, after the service-centre part):
// 0 SMS-DELIVER, 1 SMS-SUBMIT, 2 SMS-STATUS-REPORT; -1 when it cannot be read.
constexpr int kMessageTypeStatusReport = 2;
int MessageTypeOfPdu(const char* pdu, size_t length);

// Decodes the SMS-DELIVER in the first length characters of pdu (hex, either case), which
// starts with the service-centre length octet (0 meaning no service-centre address). Reads
// nothing past length. Returns the count of decoded text units (septets for 7-bit, host bytes
// for UCS-2, octets for 8-bit; header octets not counted), greater than 0 for a message to
// deliver; 0 for an empty message, a PDU that is cut short, malformed, or not an SMS-DELIVER.
// For an empty message the other fields are still filled in; for a refused PDU every field is
// left empty.
int DecodeDeliverPdu(const char* pdu, size_t length, PduMessage& message);

}  // namespace tidewire

#endif

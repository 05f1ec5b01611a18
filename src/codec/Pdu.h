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

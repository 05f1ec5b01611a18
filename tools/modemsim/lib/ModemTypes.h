// The records the simulated modem exchanges with its controller: messages put into its store,
// messages the host sent through it, its configuration and its fault switches.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tidewire::sim {

// How an injected text is coded in the DELIVER PDU. Auto picks the GSM 7-bit default alphabet
// when every character is in it (extension table included), UCS-2 otherwise, as a network does.
enum class TextCoding { Auto, Gsm7, Ucs2, EightBit };

// A service-centre time stamp as the network writes it: local time and its offset from UTC in
// quarter hours.
struct Timestamp {
    int year = 2024;  // four digits; only the last two travel in the PDU
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int quarterHoursFromUtc = 0;

    bool operator==(const Timestamp& o) const {
        return year == o.year && month == o.month && day == o.day && hour == o.hour &&
               minute == o.minute && second == o.second &&
               quarterHoursFromUtc == o.quarterHoursFromUtc;
    }
};

// Position of one part in a concatenated message (the user-data header's fields).
struct ConcatInfo {
    int reference = 0;
    int total = 1;
    int sequence = 1;

    bool operator==(const ConcatInfo& o) const {
        return reference == o.reference && total == o.total && sequence == o.sequence;
    }
};

// An incoming message, as the network delivers it to the module.
struct IncomingMessage {
    // Digits, with a leading "+" for an international number; or a name when alphanumericSender.
    std::string sender;
    std::string textUtf8;
    TextCoding coding = TextCoding::Auto;
    bool alphanumericSender = false;
    // The current local time when absent.
    std::optional<Timestamp> timestamp;
    // The service centre that delivered it; "" writes an empty address.
    std::string serviceCentre = "+8613800100500";
};

// One AT+CMGS the module accepted. A concatenated message sent by the host arrives as one
// record per part, as the network would see it.
struct SentMessage {
    std::string destination;  // with "+" when the host gave an international number
    std::string textUtf8;     // decoded text (8-bit data: the bytes as they came)
    std::string rawPdu;       // the PDU hex as the host wrote it; empty in text mode
    bool pduMode = false;
    int messageReference = 0;          // the <mr> the module answered with
    std::optional<ConcatInfo> concat;  // PDU mode only, when a header carries it
    // TP-SRR: the SUBMIT's first octet (PDU mode) or AT+CSMP's <fo> (text mode) asked for a
    // status report, which the network then sends.
    bool statusReportRequested = false;
};

// Which parts of a long text the network delivers, and in what order: each part number (from
// 1) as its own delivery, so parts may come out of order, twice, or not at all.
struct PartSelection {
    std::vector<int> order;
    bool sixteenBitReference = false;  // information element 08 instead of 00
    // The module's running reference (the one every long delivery counts up) when absent;
    // the same reference again delivers parts of an earlier message.
    std::optional<int> reference;
};

// Message status in the store, numbered as in the PDU-mode listing.
enum class MessageStatus { ReceivedUnread = 0, ReceivedRead = 1, StoredUnsent = 2, StoredSent = 3 };

struct StoredMessage {
    int index = 0;
    MessageStatus status = MessageStatus::ReceivedUnread;
    std::string pduHex;  // service-centre part and TPDU, as AT+CMGL lists it
};

// Result of putting a message into the store: every part or none.
struct InjectResult {
    bool stored = false;
    std::vector<int> indexes;  // one per part, in part order (in delivery order for parts)
    std::string error;         // why nothing was stored
    // A status report that AT+CNMI routes to the host as a +CDS indication: taken, but not
    // stored (indexes stays empty).
    bool routedToHost = false;
    // InjectParts only: the concatenation reference used and the number of parts of the text.
    int concatReference = 0;
    int partCount = 0;
};

enum class TrafficDirection { HostToModem, ModemToHost };
using TrafficObserver = std::function<void(TrafficDirection, std::string_view)>;

struct ModemConfig {
    int family = 666;  // 666, 870, 860 or 865
    int firstIndex = 1;
    int capacity = 30;
    bool echo = true;
    bool simPresent = true;
    std::string serviceCentre = "+8613800100500";
};

// Ways to make the module misbehave. The transport (PtyModem) applies the chunk, delay and line
// speed settings; the engine applies the others.
struct FaultSettings {
    bool silent = false;                  // swallow everything, answer nothing
    std::set<std::string> errorPrefixes;  // upper-cased command-line prefixes answered ERROR
    bool noEcho = false;                  // never echo, whatever ATE says
    bool lowerCaseReplies = false;        // replies (not the echo) in lower case
    std::string garbage;                  // bytes put before every reply
    bool sendFailure = false;             // AT+CMGS ends in +CMS ERROR: 500
    std::size_t chunkBytes = 0;           // 0: replies written whole
    std::chrono::milliseconds chunkDelay{0};
    int bytesPerSecond = 0;  // 0: as fast as the pty takes them
    // An indication line (such as "^RSSI:12") put in the middle of every reply: before each of
    // its lines that starts with '+', '$', '>' or a final result code. "": none.
    std::string interjection;
    // Every reply (echo included) and indication is held back this long before it goes out, as
    // by a module that answers only after the host has given up waiting. The module goes on
    // reading meanwhile; what it answers queues up behind.
    std::chrono::milliseconds replyDelay{0};
};

}  // namespace tidewire::sim

#include "family/CdmaHexFamily.h"

#include <cstdio>
#include <cstring>

#include "base/BoundedCopy.h"
#include "modem/ResultLines.h"

namespace tidewire {

namespace {

// The encoding digit of a message, on the command line and in the answer that hands it out.
constexpr int kSingleByteEncoding = 2;
constexpr int kUcs2Encoding = 4;

// How many consecutive cycles a type-860 module may hand out the same message without its record
// being queued before it is told to drop it.
constexpr int kCyclesBeforeDrop = 3;

// The refusal word is looked for only where it cannot still grow into the acknowledgement: on
// type 865 "$0" is the beginning of "$006", and an answer split after "$0" is not a refusal.
bool RefusalSeen(const ReplyBuffer& reply, const CdmaHexDialect& dialect) {
    const size_t acknowledgementLength = std::strlen(dialect.acknowledgement);
    for (size_t at = reply.Find(dialect.refusal); at != ReplyBuffer::npos;
         at = reply.Find(dialect.refusal, at + 1)) {
        const size_t available = reply.Length() - at;
        if (available < acknowledgementLength &&
            std::memcmp(reply.Data() + at, dialect.acknowledgement, available) == 0) {
            continue;  // more may come
        }
        return true;
    }
    return false;
}

// The first "20" of the answer that does not stand in an indication line: a "^BOOT:20..." or
// "+CMTI: \"SM\",20" the module sent of its own accord before its answer is not the time stamp.
size_t FindStamp(const ReplyBuffer& reply) {
    const char* data = reply.Data();
    for (size_t at = reply.Find("20"); at != ReplyBuffer::npos; at = reply.Find("20", at + 1)) {
        size_t lineStart = at;
        while (lineStart > 0 && data[lineStart - 1] != '\r' && data[lineStart - 1] != '\n') {
            --lineStart;
        }
        if (!IsUnsolicitedLine(data + lineStart, reply.Length() - lineStart)) {
            return at;
        }
        while (at + 1 < reply.Length() && data[at + 1] != '\r' && data[at + 1] != '\n') {
            ++at;  // on to the end of the indication, so no line is walked twice
        }
    }
    return ReplyBuffer::npos;
}

// Cuts the message out of a complete answer: the time stamp, the sender (field 1), the encoding
// character (the first of field 3) and the hex body, quoted or running to the end of its line.
// False when the answer holds no message this library can read.
bool CutAnswer(const ReplyBuffer& reply, BodyField bodyField, ReceivedMessage& message) {
    std::memset(&message, 0, sizeof message);
    const char* data = reply.Data();
    const size_t end = reply.Length();
    // The time stamp 20yymmddhhmmss is the first "20" of the answer.
    const size_t stamp = FindStamp(reply);
    if (stamp == ReplyBuffer::npos || end - stamp < 38) {
        return false;
    }
    std::snprintf(message.timestamp, sizeof message.timestamp, "20%c%c-%c%c-%c%c %c%c:%c%c:%c%c",
                  data[stamp + 2], data[stamp + 3], data[stamp + 4], data[stamp + 5],
                  data[stamp + 6], data[stamp + 7], data[stamp + 8], data[stamp + 9],
                  data[stamp + 10], data[stamp + 11], data[stamp + 12], data[stamp + 13]);
    size_t p = stamp + 2;

    // Field 1 is the sender, field 3 begins with the encoding character.
    p = reply.Find(",", p);
    if (p == ReplyBuffer::npos) {
        return false;
    }
    ++p;
    const size_t senderEnd = reply.Find(",", p);
    if (senderEnd == ReplyBuffer::npos) {
        return false;
    }
    BoundedCopy(message.sender, sizeof message.sender, data + p, senderEnd - p);
    p = senderEnd + 1;  // field 2
    p = reply.Find(",", p);
    if (p == ReplyBuffer::npos) {
        return false;
    }
    ++p;  // field 3
    if (p >= end) {
        return false;
    }
    const char encoding = data[p];

    size_t bodyStart = 0;
    size_t bodyEnd = 0;
    if (bodyField == BodyField::ToLineEnd) {
        // Fields 4 and 5 follow; the body runs to the end of the line.
        for (int field = 0; field < 2; ++field) {
            p = reply.Find(",", p);
            if (p == ReplyBuffer::npos) {
                return false;
            }
            ++p;
        }
        bodyStart = p;
        const size_t lineEnd = reply.Find("\r\n", p);
        if (lineEnd == ReplyBuffer::npos) {
            return false;
        }
        bodyEnd = lineEnd;
    } else {
        p = reply.Find("\"", p);
        if (p == ReplyBuffer::npos) {
            return false;
        }
        bodyStart = p + 1;
        bodyEnd = reply.Find("\"", bodyStart);
        if (bodyEnd == ReplyBuffer::npos) {
            return false;
        }
    }
    char body[512 + 1];
    BoundedCopy(body, sizeof body, data + bodyStart, bodyEnd - bodyStart);

    if (encoding == '0' + kSingleByteEncoding) {
        HexToText(body, message.text, sizeof message.text);
    } else if (encoding == '0' + kUcs2Encoding) {
        uint8_t ucs2[256];
        const size_t bytes = HexToBytes(body, std::strlen(body), ucs2, sizeof ucs2);
        Ucs2ToHost(ucs2, bytes, message.text, sizeof message.text);
    } else {
        return false;
    }
    return true;
}

// A message known by a hash of its record.
uint32_t RecordFingerprint(const ReceivedMessage& message) {
    // The fields are zero-filled past their text, so each field counts whole.
    return Fingerprint(reinterpret_cast<const char*>(&message), sizeof message);
}

// The fingerprint of the line an answer that could not be cut handed out: its first line after
// the echo of the read command that is no indication and no result code. 0 when it handed out
// nothing, or when the reply begins in the middle of that line: then it is the end of an earlier
// answer whose beginning went with the purge before the read, and not one to judge.
uint32_t HandedOutLine(const ReplyBuffer& reply, const char* readCommand) {
    const char* data = reply.Data();
    const size_t length = reply.Length();
    size_t at = AnswerStart(reply, readCommand, std::strlen(readCommand));
    // A module's answer begins with a line break or the echo; one that does not is a piece.
    if (at == ReplyBuffer::npos || at == 0) {
        return 0;
    }
    for (;;) {
        while (at < length && (data[at] == '\r' || data[at] == '\n')) {
            ++at;
        }
        size_t lineEnd = at;
        while (lineEnd < length && data[lineEnd] != '\r' && data[lineEnd] != '\n') {
            ++lineEnd;
        }
        if (lineEnd == at || ResultOfLine(data + at, lineEnd - at) != Verdict::Pending) {
            return 0;
        }
        if (!IsUnsolicitedLine(data + at, lineEnd - at)) {
            return Fingerprint(data + at, lineEnd - at);
        }
        at = lineEnd;
    }
}

}  // namespace

SetUpResult CdmaHexFamily::SetUp(ModuleSession& session) const {
    session.memory = ModuleMemory{};
    return RunSetUpSteps(session, setUp_, setUpSteps_, FirstStep::Checked);
}

bool CdmaHexFamily::SendWhole(ModuleSession& session, TextKind kind, const char* text,
                              const char* number) const {
    if (std::strlen(text) > 140) {
        session.errors.Record(ErrorText::SingleByteTooLong);
        return false;
    }
    // A UCS-2 text of more than 70 characters would not fit the module's command line.
    if (kind == TextKind::MultiByte && CountHostCharacters(text) > 70) {
        session.errors.Record(ErrorText::MultiByteTooLong);
        return false;
    }
    char hex[512 + 1];
    const size_t digits = kind == TextKind::SingleByte ? HostToHex(text, hex, sizeof hex)
                                                       : HostToUcs2Hex(text, hex, sizeof hex);
    if (digits == 0 && text[0] != '\0') {
        session.errors.Record(ErrorText::MultiByteTooLong);
        return false;
    }
    const int encoding = kind == TextKind::SingleByte ? kSingleByteEncoding : kUcs2Encoding;
    char command[512];
    const int length =
        std::snprintf(command, sizeof command, dialect_.sendFormat, number, number, encoding, hex);
    if (length < 0 || static_cast<size_t>(length) >= sizeof command) {
        session.errors.Record(ErrorText::SingleByteTooLong);
        return false;
    }
    session.channel.PurgeAndWrite(command);
    ReplyBuffer reply;
    const Verdict verdict =
        session.channel.ReplyPoll(reply, plans::kCdmaSendVerdict, [&](const ReplyBuffer& r) {
            if (r.Contains(dialect_.acknowledgement)) {
                return Verdict::Accepted;
            }
            return RefusalSeen(r, dialect_) ? Verdict::Refused : Verdict::Pending;
        });
    return verdict == Verdict::Accepted;
}

bool CdmaHexFamily::Receive(ModuleSession& session) const {
    ModemChannel& channel = session.channel;
    if (!channel.IsOpen()) {
        return true;
    }
    // While a record is held nothing more is read: type 860 would hand out the same message
    // again, and type 865 would mark the next one read, to be lost if the host went down before
    // storing it. Once acknowledged, type 860 drops its message, with no read in between, so
    // the drop can only hit the message the host has; the next cycle reads on.
    int32_t& held = session.memory.heldReceipt;
    if (held != 0) {
        if (!session.inbox.Acknowledged(held, held)) {
            return true;
        }
        held = 0;
        if (dialect_.dropCommand != nullptr) {
            channel.Write(dialect_.dropCommand);
            return true;
        }
    }
    const bool holding = session.options.holdReceived.load();
    if (holding && session.inbox.RoomToHold() == 0) {
        return true;
    }
    channel.PurgeAndWrite(dialect_.readCommand);
    ReplyBuffer reply;
    const Verdict outcome =
        channel.ReplyPoll(reply, plans::kCdmaMessageAnswer, [](const ReplyBuffer& r) {
            if (r.Contains("OK")) {
                return Verdict::Accepted;
            }
            return r.Contains("ERROR") ? Verdict::Refused : Verdict::Pending;
        });
    if (outcome == Verdict::Stopped) {
        return false;
    }
    if (outcome != Verdict::Accepted) {
        // The answer may still come, late, in front of the next one.
        session.memory.answerOwed = true;
        return true;
    }
    ReceivedMessage message;
    const bool readable = CutAnswer(reply, dialect_.body, message);
    if (dialect_.dropCommand == nullptr) {
        // The module marks what it handed out as read by itself.
        if (readable && holding) {
            held = session.inbox.DeliverHeld(message.text, message.sender, message.timestamp);
        } else if (readable) {
            session.inbox.Deliver(message.text, message.sender, message.timestamp);
        }
        return true;
    }
    HandOverAndDrop(session, reply, readable ? &message : nullptr, holding);
    return true;
}

void CdmaHexFamily::HandOverAndDrop(ModuleSession& session, const ReplyBuffer& reply,
                                    const ReceivedMessage* message, bool holding) const {
    ModuleMemory& memory = session.memory;
    const bool afterLateAnswer = memory.answerOwed;
    memory.answerOwed = false;
    const uint32_t handedOut = message != nullptr ? RecordFingerprint(*message)
                                                  : HandedOutLine(reply, dialect_.readCommand);
    if (handedOut == 0) {
        return;  // nothing handed out, so nothing to drop
    }
    if (message != nullptr && handedOut != memory.delivered) {
        memory.held = 0;
        memory.heldCycles = 0;
        if (holding) {
            // Dropped once the host acknowledges the record (Receive). Without a receipt
            // nothing was queued, and the message is handed out again as a new one.
            memory.heldReceipt =
                session.inbox.DeliverHeld(message->text, message->sender, message->timestamp);
            memory.delivered = memory.heldReceipt != 0 ? handedOut : 0;
            return;
        }
        memory.delivered = handedOut;
        session.inbox.Deliver(message->text, message->sender, message->timestamp);
        session.channel.Write(dialect_.dropCommand);
        return;
    }
    // Handed out again without a record: a message this library cannot read, or one already
    // delivered whose drop the module did not take. Either would block the store for good, so
    // it is dropped once it came back on several consecutive cycles. A cycle after a late
    // answer does not count: what it read may have been that late answer, with the message it
    // carried dropped already and a new one handed out behind it.
    if (afterLateAnswer) {
        memory.held = 0;
        memory.heldCycles = 0;
        return;
    }
    memory.heldCycles = handedOut == memory.held ? memory.heldCycles + 1 : 1;
    memory.held = handedOut;
    if (memory.heldCycles < kCyclesBeforeDrop) {
        return;
    }
    memory.delivered = handedOut;
    memory.held = 0;
    memory.heldCycles = 0;
    session.channel.Write(dialect_.dropCommand);
}

}  // namespace tidewire

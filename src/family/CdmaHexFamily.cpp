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

}  // namespace

SetUpResult CdmaHexFamily::SetUp(ModuleSession& session) const {
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
        return true;
    }
    if (dialect_.dropCommand != nullptr) {
        // The module hands out its oldest message and is told to drop it at once; its answer
        // is purged by the next exchange.
        channel.Write(dialect_.dropCommand);
    }

    const char* data = reply.Data();
    const size_t end = reply.Length();
    // The time stamp 20yymmddhhmmss is the first "20" of the answer.
    const size_t stamp = FindStamp(reply);
    if (stamp == ReplyBuffer::npos || end - stamp < 38) {
        return true;
    }
    char timestamp[32];
    std::snprintf(timestamp, sizeof timestamp, "20%c%c-%c%c-%c%c %c%c:%c%c:%c%c", data[stamp + 2],
                  data[stamp + 3], data[stamp + 4], data[stamp + 5], data[stamp + 6],
                  data[stamp + 7], data[stamp + 8], data[stamp + 9], data[stamp + 10],
                  data[stamp + 11], data[stamp + 12], data[stamp + 13]);
    size_t p = stamp + 2;

    // Field 1 is the sender, field 3 begins with the encoding character.
    p = reply.Find(",", p);
    if (p == ReplyBuffer::npos) {
        return true;
    }
    ++p;
    const size_t senderEnd = reply.Find(",", p);
    if (senderEnd == ReplyBuffer::npos) {
        return true;
    }
    char sender[32];
    BoundedCopy(sender, sizeof sender, data + p, senderEnd - p);
    p = senderEnd + 1;  // field 2
    p = reply.Find(",", p);
    if (p == ReplyBuffer::npos) {
        return true;
    }
    ++p;  // field 3
    if (p >= end) {
        return true;
    }
    const char encoding = data[p];

    size_t bodyStart = 0;
    size_t bodyEnd = 0;
    if (dialect_.body == BodyField::ToLineEnd) {
        // Fields 4 and 5 follow; the body runs to the end of the line.
        for (int field = 0; field < 2; ++field) {
            p = reply.Find(",", p);
            if (p == ReplyBuffer::npos) {
                return true;
            }
            ++p;
        }
        bodyStart = p;
        const size_t lineEnd = reply.Find("\r\n", p);
        if (lineEnd == ReplyBuffer::npos) {
            return true;
        }
        bodyEnd = lineEnd;
    } else {
        p = reply.Find("\"", p);
        if (p == ReplyBuffer::npos) {
            return true;
        }
        bodyStart = p + 1;
        bodyEnd = reply.Find("\"", bodyStart);
        if (bodyEnd == ReplyBuffer::npos) {
            return true;
        }
    }
    char body[512 + 1];
    BoundedCopy(body, sizeof body, data + bodyStart, bodyEnd - bodyStart);

    char text[sizeof(ReceivedMessage::text)] = {};
    if (encoding == '0' + kSingleByteEncoding) {
        HexToText(body, text, sizeof text);
    } else if (encoding == '0' + kUcs2Encoding) {
        uint8_t ucs2[256];
        const size_t bytes = HexToBytes(body, std::strlen(body), ucs2, sizeof ucs2);
        Ucs2ToHost(ucs2, bytes, text, sizeof text);
    } else {
        return true;
    }
    session.inbox.Deliver(text, sender, timestamp);
    return true;
}

}  // namespace tidewire

// Receiving on the CDMA families 860 and 865: one message per cycle from the module's
// "at$smsmt" answer, cut out of its comma-separated fields.
#include <cstdio>
#include <cstring>

#include "api/SmsService.h"
#include "codec/BoundedCopy.h"
#include "codec/TextHex.h"
#include "modem/ResultLines.h"

namespace tidewire {

namespace {

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

bool SmsService::ReceiveCdmaMessages() {
    if (!channel.IsOpen()) {
        return true;
    }
    const bool type865 = moduleType.load() == kModule865;
    channel.PurgeAndWrite(type865 ? "at$smsmt=1?\r" : "at$smsmt0?\r");
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
    if (!type865) {
        // Type 860 hands out its oldest message and is told to drop it at once; its answer is
        // purged by the next exchange.
        channel.Write("at$delmt=0\r");
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
    if (type865) {
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
        // Type 860 quotes its body.
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
    if (encoding == '2') {
        HexToText(body, text, sizeof text);
    } else if (encoding == '4') {
        uint8_t ucs2[256];
        const size_t bytes = HexToBytes(body, std::strlen(body), ucs2, sizeof ucs2);
        Ucs2ToHost(ucs2, bytes, text, sizeof text);
    } else {
        return true;
    }
    QueueReceived(text, sender, timestamp);
    return true;
}

}  // namespace tidewire

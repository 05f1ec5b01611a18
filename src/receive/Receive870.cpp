// Receiving on type-870 modules: list the store for its indexes, read each message with
// AT+CMGR, cut sender, time and body out of the read reply, queue it, delete it. The replies
// are byte data: a body may be raw UCS-2 with zero bytes in it.
#include <cstdio>
#include <cstring>

#include "api/SmsService.h"
#include "codec/BoundedCopy.h"
#include "codec/TextHex.h"
#include "modem/ResultLines.h"

namespace tidewire {

namespace {

struct Cut870 {
    char sender[32];
    char time[32];
    char text[sizeof(ReceivedMessage::text)];
    size_t bodyBytes;
};

// Cuts a read reply: the sender is the quoted field after the first comma, the time the next
// quoted field, then the encoding digit, and the body is the next line. False when the reply
// does not have that shape; such a message is neither queued nor deleted.
bool CutReadReply(const ReplyBuffer& reply, Cut870& cut) {
    std::memset(&cut, 0, sizeof cut);
    const char* data = reply.Data();
    const size_t end = reply.Length();
    // The fields are counted from the "+CMGR:" line: a new-message indication read before it
    // has commas of its own.
    const size_t header = FindLineStartingWith(reply, 0, "+CMGR:");
    const size_t comma = reply.Find(",", header == ReplyBuffer::npos ? 0 : header);
    if (comma == ReplyBuffer::npos || comma + 2 > end) {
        return false;
    }
    size_t p = comma + 2;
    const size_t senderEnd = reply.Find("\"", p);
    if (senderEnd == ReplyBuffer::npos) {
        return false;
    }
    BoundedCopy(cut.sender, sizeof cut.sender, data + p, senderEnd - p);
    p = senderEnd + 3;
    if (p > end) {
        return false;
    }
    const size_t timeEnd = reply.Find("\"", p);
    if (timeEnd == ReplyBuffer::npos) {
        return false;
    }
    BoundedCopy(cut.time, sizeof cut.time, data + p, timeEnd - p);
    p = timeEnd + 4;
    if (p >= end) {
        return false;
    }
    const char encoding = data[p];
    const size_t lineEnd = reply.Find("\r\n", p);
    if (lineEnd == ReplyBuffer::npos) {
        return false;
    }
    const size_t bodyStart = lineEnd + 2;
    size_t bodyEnd = reply.Find("\r\n", bodyStart);
    if (bodyEnd == ReplyBuffer::npos) {
        bodyEnd = end;
    }
    // The raw body field holds 255 bytes; a longer body is cut there (an even count, so a UCS-2
    // body is never cut inside a character).
    size_t bodyBytes = bodyEnd - bodyStart;
    if (bodyBytes > 255) {
        bodyBytes = encoding == '4' ? 254 : 255;
    }
    cut.bodyBytes = bodyBytes;
    if (encoding == '4') {
        Ucs2ToHost(reinterpret_cast<const uint8_t*>(data + bodyStart), bodyBytes, cut.text,
                   sizeof cut.text);
    } else {
        // Copied as bytes; a zero byte in a single-byte body ends the text there.
        std::memcpy(cut.text, data + bodyStart, bodyBytes);
        cut.text[bodyBytes < sizeof cut.text ? bodyBytes : sizeof cut.text - 1] = '\0';
    }
    return true;
}

}  // namespace

bool SmsService::Receive870Messages() {
    if (!channel.IsOpen()) {
        return true;
    }
    channel.CancelAbandonedEntry();
    channel.PurgeAndWrite("AT+CMGL=\"ALL\"\r");

    // One poll counter serves the listing and every read that follows it. The end of a
    // listing or read reply is the module's own final result line; a stored message that says
    // "OK" or "ERROR" in its body does not end the collection.
    int polls = 0;
    const auto endOfAnswer = [](const ReplyBuffer& r) { return FinalResult(r); };
    ReplyBuffer listing;
    const Verdict listed = channel.ReplyPoll(listing, plans::kType870Listing, polls, endOfAnswer);
    if (listed == Verdict::Stopped) {
        return false;
    }
    channel.SettleEntry(listed);
    if (listed != Verdict::Accepted) {
        return true;
    }

    ReplyBuffer reply;
    size_t cursor = 0;
    for (;;) {
        const size_t header = FindLineStartingWith(listing, cursor, "+CMGL:");
        if (header == ReplyBuffer::npos) {
            return true;
        }
        cursor = header + 6;
        long index = 0;
        if (!ReadStoreIndex(listing, cursor, index)) {
            continue;
        }

        char command[64];
        std::snprintf(command, sizeof command, "AT+CMGR=%ld\r", index);
        channel.Write(command);
        reply.Clear();
        const Verdict read = channel.ReplyPoll(reply, plans::kType870Read, polls, endOfAnswer);
        if (read == Verdict::Stopped) {
            return false;
        }
        if (read != Verdict::Accepted) {
            return true;  // the remaining entries wait for the next cycle
        }
        Cut870 cut;
        if (!CutReadReply(reply, cut)) {
            continue;
        }
        if (cut.bodyBytes >= 1) {
            QueueReceived(cut.text, cut.sender, cut.time);
            std::snprintf(command, sizeof command, "AT+CMGD=%ld\r", index);
            channel.SendAtCommand(command, "OK", "ERROR");
        }
    }
}

}  // namespace tidewire

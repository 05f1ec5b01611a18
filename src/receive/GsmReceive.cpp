// Receiving on a GSM module: list the whole store in PDU mode, hand every decodable message to
// the host, and delete each one only after its record is queued.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "api/SmsService.h"
#include "codec/BoundedCopy.h"
#include "codec/Pdu.h"
#include "modem/ResultLines.h"

namespace tidewire {

void SmsService::QueueReceived(const char* text, const char* sender, const char* timestamp) {
    std::lock_guard<std::mutex> hold(receivedLock);
    ReceivedMessage record;
    std::memset(&record, 0, sizeof record);
    BoundedCopy(record.text, text);
    BoundedCopy(record.sender, sender);
    BoundedCopy(record.timestamp, timestamp);
    receivedQueue.push_back(record);
}

namespace {

// Indexes deleted in one walk that are remembered: more than a full answer buffer can list
// (an entry takes well over 32 bytes). A walk that deletes more ends there and leaves the rest
// of the store to the next cycle.
constexpr size_t kMostDeletesPerWalk = 2048;

}  // namespace

bool SmsService::ReceiveGsmMessages() {
    // The result is ignored: a module left in text mode by a send lists nothing decodable, and
    // the next cycle tries again.
    channel.SendAtCommand("AT+CMGF=0\r", "OK", "ERROR");
    if (!channel.IsOpen()) {
        return true;
    }
    channel.PurgeAndWrite("AT+CMGL=4\r");
    ReplyBuffer reply;
    const Verdict outcome = channel.ReplyPoll(reply, plans::kGsmListing, [](const ReplyBuffer& r) {
        if (HasOkLine(r, 0)) {
            return Verdict::Accepted;
        }
        if (HasErrorLine(r, 0)) {
            return Verdict::Refused;
        }
        return r.Full() ? Verdict::BufferFull : Verdict::Pending;
    });
    if (outcome == Verdict::Stopped) {
        return false;
    }
    if (outcome == Verdict::Refused) {
        return true;
    }
    // A listing that never ended (a store too full for the buffer or the poll limit) still
    // yields its complete entries, so the store drains over a few cycles instead of blocking.

    const char* data = reply.Data();
    const size_t end = reply.Length();
    PduMessage message;
    std::memset(&message, 0, sizeof message);
    long deleted[kMostDeletesPerWalk];
    size_t deletedCount = 0;
    size_t cursor = 0;
    for (;;) {
        const size_t header = reply.Find("+CMGL:", cursor);
        if (header == ReplyBuffer::npos) {
            return true;
        }
        cursor = header + 6;
        long index = 0;
        const bool indexed = ReadStoreIndex(reply, cursor, index);
        const char* headerEnd =
            static_cast<const char*>(std::memchr(data + cursor, '\n', end - cursor));
        if (headerEnd == nullptr) {
            return true;
        }
        cursor = static_cast<size_t>(headerEnd - data) + 1;
        // The PDU line must be complete: a line cut off by the end of the collected answer is
        // left for the next cycle.
        size_t lineEnd = cursor;
        while (lineEnd < end && data[lineEnd] != '\r' && data[lineEnd] != '\n') {
            ++lineEnd;
        }
        if (lineEnd >= end) {
            return true;
        }
        if (!indexed) {
            continue;
        }
        // A listing that names an index twice (a module that repeated its answer) must not
        // deliver that entry twice, nor delete the index again: by then a new message may sit
        // under it, unread.
        if (std::find(deleted, deleted + deletedCount, index) != deleted + deletedCount) {
            cursor = lineEnd;
            continue;
        }
        if (deletedCount == kMostDeletesPerWalk) {
            return true;
        }
        const int count = DecodeDeliverPdu(data + cursor, lineEnd - cursor, message);
        cursor = lineEnd;
        if (count <= 0) {
            continue;  // not a message for the host; it stays in the store untouched
        }
        QueueReceived(message.text, message.number, message.timestamp);
        char command[64];
        std::snprintf(command, sizeof command, "AT+CMGD=%ld\r", index);
        // A failed delete leaves the message in the store; it is listed and queued again.
        channel.SendAtCommand(command, "OK", "ERROR");
        deleted[deletedCount++] = index;
    }
}

}  // namespace tidewire

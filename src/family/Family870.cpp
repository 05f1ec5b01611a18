// Family 870: a CDMA module with a text-mode command set. Its model answer carries "199" (but
// not "MODEL 199", which names type 865), the legacy edition does not know it, and its SIM is
// checked at start-up. Set-up: new-message indications and the module's own store. It picks
// the body's encoding with AT+ZMSGL, takes the body after the prompt of "AT+CMGS" (a
// single-byte text ended by Ctrl-Z, or raw UCS-2 ended by 00 1A), and lists its store for the
// indexes, reads each message with AT+CMGR and deletes it once its record is queued (while the
// host asks for holding: once the host has acknowledged the record, at the start of a later
// receive step; a held index is not read again). Its replies are byte data: a body may be raw
// UCS-2 with zero bytes in it.
#include <cstdio>
#include <cstring>

#include "base/BoundedCopy.h"
#include "family/ModuleFamily.h"
#include "modem/ResultLines.h"

namespace tidewire {

namespace {

// A failed storage selection is recorded and the set-up goes on. The first text names the
// command a module of the earlier interface got; hosts compare against it as it stands.
constexpr SetUpStep kSetUp[] = {
    {"AT+CNMI=2,1,0,0,0\r", OnFailure::EndsService, ErrorText::InitCnmi870},
    {"AT+CPMS=MT\r", OnFailure::IsRecorded, ErrorText::InitCpms870},
};

// The position just past the module's echo of `command` (its CR left out, so an echo is found
// however the module ends the line), or ReplyBuffer::npos when the reply holds none. The reply
// is upper-cased, and so is the command looked for.
size_t FindEcho(const ReplyBuffer& reply, const char* command) {
    char echo[64];
    size_t length = 0;
    for (; command[length] != '\0' && command[length] != '\r' && length + 1 < sizeof echo;
         ++length) {
        const char c = command[length];
        echo[length] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    echo[length] = '\0';
    const size_t at = reply.Find(echo);
    return at == ReplyBuffer::npos ? at : at + length;
}

// Where the module's answer to `command` begins: behind its echo, where the module echoes. Once
// it has echoed a command, an answer without that echo is not yet this command's: on a slow line
// the end of an earlier answer may arrive after the purge that went before the command.
// ReplyBuffer::npos while the answer has not begun.
size_t AnswerTo(const ReplyBuffer& reply, const char* command, ModuleMemory& memory) {
    const size_t echoEnd = FindEcho(reply, command);
    if (echoEnd != ReplyBuffer::npos) {
        memory.echoes = true;
        return echoEnd;
    }
    return memory.echoes ? ReplyBuffer::npos : AnswerStart(reply, command, std::strlen(command));
}

// The module's answer to `command`, behind its echo where it echoes: `token` ("OK", the prompt)
// accepts it, "ERROR" refuses it.
Verdict AnswerVerdict(const ReplyBuffer& reply, const char* command, const char* token,
                      ModuleMemory& memory) {
    const size_t from = AnswerTo(reply, command, memory);
    if (from == ReplyBuffer::npos) {
        return Verdict::Pending;
    }
    if (reply.Find(token, from) != ReplyBuffer::npos) {
        return Verdict::Accepted;
    }
    return reply.Find("ERROR", from) != ReplyBuffer::npos ? Verdict::Refused : Verdict::Pending;
}

// A wait that ended without the command's echo: the module may have stopped echoing, so the
// next command is judged without waiting for one.
void ForgetEchoUnlessSeen(const ReplyBuffer& reply, const char* command, ModuleMemory& memory) {
    if (FindEcho(reply, command) == ReplyBuffer::npos) {
        memory.echoes = false;
    }
}

// One of this family's own commands ("AT+ZMSGL"), answered "OK" or "ERROR" behind its echo.
bool SendCommand(ModuleSession& session, const char* command) {
    ModemChannel& channel = session.channel;
    if (!channel.IsOpen()) {
        return false;
    }
    channel.CancelAbandonedEntry();
    channel.PurgeAndWrite(command);
    ReplyBuffer reply;
    const Verdict verdict = channel.ReplyPoll(
        reply, plans::kCommandAnswer,
        [&](const ReplyBuffer& r) { return AnswerVerdict(r, command, "OK", session.memory); });
    if (verdict == Verdict::TimedOut) {
        ForgetEchoUnlessSeen(reply, command, session.memory);
    }
    channel.SettleEntry(verdict);
    return verdict == Verdict::Accepted;
}

// Writes "AT+CMGS" for number and waits for the module's prompt behind the command's echo. No
// prompt, or a refusal: the module is not taking a message, and no body may follow, or its
// lines would run as commands.
bool OpenMessageEntry(ModuleSession& session, const char* number) {
    ModemChannel& channel = session.channel;
    // The number is at most 31 bytes, so the command fits.
    char command[64];
    std::snprintf(command, sizeof command, "AT+CMGS=\"%.31s\"\r", number);
    channel.PurgeAndWrite(command);
    channel.BeginEntry();
    ReplyBuffer reply;
    const Verdict prompt = channel.ReplyPoll(
        reply, plans::kType870Prompt,
        [&](const ReplyBuffer& r) { return AnswerVerdict(r, command, ">", session.memory); });
    if (prompt == Verdict::Accepted) {
        return true;
    }
    if (FindEcho(reply, command) == ReplyBuffer::npos) {
        // Without the echo an error line may be an earlier command's, with the module now
        // waiting for a message text: the entry stays open, to be cancelled before the next
        // command (a module that does not echo gets that ESC even when it had refused).
        ForgetEchoUnlessSeen(reply, command, session.memory);
        return false;
    }
    channel.SettleEntry(prompt);
    return false;
}

// Opens the entry, writes the body once the module asks for it and waits for the verdict after
// the module's echo of it. The echo itself (which may spell "ok" or "error") never decides, and
// an "OK" without "+CMGS:" leaves the verdict open until the poll limit.
bool SendBody(ModuleSession& session, const char* number, const uint8_t* body, size_t bodyLength,
              const PollPlan& plan) {
    if (!OpenMessageEntry(session, number)) {
        return false;
    }
    ModemChannel& channel = session.channel;
    channel.PurgeAndWrite(body, bodyLength);
    ReplyBuffer reply;
    const Verdict verdict = channel.ReplyPoll(reply, plan, [&](const ReplyBuffer& r) {
        const size_t from = AnswerStart(r, reinterpret_cast<const char*>(body), bodyLength);
        if (from == ReplyBuffer::npos) {
            return Verdict::Pending;
        }
        return MessageVerdict(r, from, BareOk::Waits);
    });
    channel.SettleEntry(verdict);
    return verdict == Verdict::Accepted;
}

struct ReadMessage {
    char sender[32];
    char time[32];
    char text[sizeof(ReceivedMessage::text)];
    size_t bodyBytes;
};

// Cuts a read reply: the sender is the quoted field after the first comma, the time the next
// quoted field, then the encoding digit, and the body is the next line. False when the reply
// does not have that shape; such a message is neither queued nor deleted.
bool CutReadReply(const ReplyBuffer& reply, ReadMessage& cut) {
    std::memset(&cut, 0, sizeof cut);
    const char* data = reply.Data();
    const size_t end = reply.Length();
    // The fields are counted from the "+CMGR:" line: a new-message indication or a late answer
    // read before it has commas of its own.
    const size_t header = FindLineStartingWith(reply, 0, "+CMGR:");
    const size_t comma = header == ReplyBuffer::npos ? header : reply.Find(",", header);
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

// What tells one listed message from another under the same index: its listing header without
// the status, which reading changes from unread to read.
uint32_t ListingFingerprint(const ReplyBuffer& listing, size_t afterIndex) {
    const char* data = listing.Data();
    const size_t end = listing.Length();
    size_t from = afterIndex;
    if (from < end && data[from] == ',') {
        ++from;
    }
    if (from < end && data[from] == '"') {
        const size_t closing = listing.Find("\"", from + 1);
        from = closing == ReplyBuffer::npos ? end : closing + 1;
    }
    size_t lineEnd = from;
    while (lineEnd < end && data[lineEnd] != '\r' && data[lineEnd] != '\n') {
        ++lineEnd;
    }
    return Fingerprint(data + from, lineEnd - from);
}

// Before any read: which held messages the whole listing still shows. A held index it does not
// show, or shows with another message, has left the module.
void MatchHeldToListing(ModuleSession& session, const ReplyBuffer& listing) {
    session.held.BeginListing();
    size_t cursor = 0;
    for (;;) {
        const size_t header = FindLineStartingWith(listing, cursor, "+CMGL:");
        if (header == ReplyBuffer::npos) {
            break;
        }
        cursor = header + 6;
        int index = 0;
        if (ReadStoreIndex(listing, cursor, index)) {
            session.held.Listed(index, ListingFingerprint(listing, cursor));
        }
    }
    session.held.ForgetUnlisted();
}

class Type870Module final : public ModuleFamily {
  public:
    constexpr Type870Module() : ModuleFamily(kModule870, "199", SimCheck::Asked) {}

    SetUpResult SetUp(ModuleSession& session) const override {
        session.memory = ModuleMemory{};
        session.held.Clear();
        return RunSetUpSteps(session, kSetUp, FirstStep::Checked);
    }

    bool Receive(ModuleSession& session) const override {
        ModemChannel& channel = session.channel;
        if (!channel.IsOpen()) {
            return true;
        }
        channel.CancelAbandonedEntry();
        if (!DeleteAcknowledged(session)) {
            return false;
        }
        channel.PurgeAndWrite("AT+CMGL=\"ALL\"\r");

        // One poll counter serves the listing and every read that follows it. The end of a
        // listing or read reply is the module's own final result line; a stored message that
        // says "OK" or "ERROR" in its body does not end the collection.
        int polls = 0;
        const auto endOfAnswer = [](const ReplyBuffer& r) { return FinalResult(r); };
        ReplyBuffer listing;
        const Verdict listed =
            channel.ReplyPoll(listing, plans::kType870Listing, polls, endOfAnswer);
        if (listed == Verdict::Stopped) {
            return false;
        }
        channel.SettleEntry(listed);
        if (FindEcho(listing, "AT+CMGL=\"ALL\"\r") != ReplyBuffer::npos) {
            session.memory.echoes = true;
        }
        if (listed != Verdict::Accepted) {
            return true;
        }
        MatchHeldToListing(session, listing);
        const bool holding = session.options.holdReceived.load();

        // A read's answer is its "+CMGR:" line and the final result behind it. The previous
        // answer was read to its end, so whatever stands before that line arrived late from an
        // earlier command (a delete answered after its wait, an indication): a bare "OK" there
        // is no answer to the read, which waits on for its own. An error line before it ends the
        // walk, whoever it came from: the rest waits for the next cycle.
        const auto readAnswer = [](const ReplyBuffer& r) {
            const Verdict final = FinalResult(r);
            if (FindLineStartingWith(r, 0, "+CMGR:") == ReplyBuffer::npos) {
                return final == Verdict::Refused ? final : Verdict::Pending;
            }
            return final;
        };
        ReplyBuffer reply;
        size_t cursor = 0;
        for (;;) {
            const size_t header = FindLineStartingWith(listing, cursor, "+CMGL:");
            if (header == ReplyBuffer::npos) {
                return true;
            }
            cursor = header + 6;
            int index = 0;
            if (!ReadStoreIndex(listing, cursor, index)) {
                continue;
            }
            const uint32_t fingerprint = ListingFingerprint(listing, cursor);
            if (session.held.Listed(index, fingerprint)) {
                continue;  // its record is with the host, which has not acknowledged it yet
            }
            if (holding && (session.held.Room() == 0 || session.inbox.RoomToHold() == 0)) {
                return true;  // the rest waits in the module until the host acknowledges some
            }
            char command[64];
            std::snprintf(command, sizeof command, "AT+CMGR=%d\r", index);
            channel.Write(command);
            reply.Clear();
            const Verdict read = channel.ReplyPoll(reply, plans::kType870Read, polls, readAnswer);
            if (read == Verdict::Stopped) {
                return false;
            }
            if (read != Verdict::Accepted) {
                return true;  // the remaining entries wait for the next cycle
            }
            ReadMessage cut;
            if (!CutReadReply(reply, cut)) {
                continue;
            }
            if (cut.bodyBytes >= 1 && holding) {
                const int32_t receipt = session.inbox.DeliverHeld(cut.text, cut.sender, cut.time);
                session.held.Add(index, fingerprint, receipt, receipt);
            } else if (cut.bodyBytes >= 1) {
                session.inbox.Deliver(cut.text, cut.sender, cut.time);
                std::snprintf(command, sizeof command, "AT+CMGD=%d\r", index);
                channel.SendAtCommand(command, "OK", "ERROR");
            }
        }
    }

  protected:
    // The encoding is chosen with the module's own AT+ZMSGL first; the body follows the prompt
    // of "AT+CMGS".
    bool SendSingleByte(ModuleSession& session, const char* text,
                        char (&number)[32]) const override;
    bool SendMultiByte(ModuleSession& session, const char* text, char (&number)[32]) const override;
};

bool Type870Module::SendSingleByte(ModuleSession& session, const char* text,
                                   char (&number)[32]) const {
    if (std::strlen(text) > 140) {
        session.errors.Record(ErrorText::SingleByteTooLong);
        return false;
    }
    if (!SendCommand(session, "AT+ZMSGL=1,2\r")) {
        session.errors.Record(ErrorText::SingleByte870ModeFailed);
        return false;
    }
    char body[sizeof(OutgoingMessage::text) + 1];
    const int bodyLength = std::snprintf(body, sizeof body, "%s\x1A", text);
    return SendBody(session, number, reinterpret_cast<const uint8_t*>(body),
                    static_cast<size_t>(bodyLength), plans::kType870TextVerdict);
}

bool Type870Module::SendMultiByte(ModuleSession& session, const char* text,
                                  char (&number)[32]) const {
    const size_t characters = CountHostCharacters(text);
    char work[1024];
    const int workLength = std::snprintf(work, sizeof work, "%s\x1A", text);
    if (characters > 70) {
        session.errors.Record(ErrorText::MultiByteTooLong);
        return false;
    }
    if (!SendCommand(session, "AT+ZMSGL=6,4\r")) {
        session.errors.Record(ErrorText::MultiByte870ModeFailed);
        return false;
    }
    // Raw UCS-2, high byte first: the Ctrl-Z that ends the body becomes 0x00 0x1A.
    uint8_t body[1024];
    const size_t bodyLength = HostToUcs2(work, static_cast<size_t>(workLength), body, sizeof body);
    if (bodyLength == 0) {
        session.errors.Record(ErrorText::MultiByteTooLong);
        return false;
    }
    // The reply holds the raw echo of the body, zero bytes included, so it is kept by length
    // and not upper-cased: only upper-case tokens count here.
    return SendBody(session, number, body, bodyLength, plans::kType870Ucs2Verdict);
}

}  // namespace

const ModuleFamily& Family870() {
    static const Type870Module family;
    return family;
}

}  // namespace tidewire

// Family 666: a GSM module with the standard message commands. It is the family of every
// module whose model answer no other family claims, and its SIM is checked at start-up.
// Set-up: new-message indications off (AT+CNMI), PDU mode, the module's own store, and the
// service centre, read from the SIM first when the host asked for "card". A single-byte text
// goes out in text mode after the module's prompt; a multi-byte text goes out as a UCS-2
// SMS-SUBMIT in PDU mode. The store is listed in PDU mode, and each entry is deleted once its
// record is queued.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/BoundedCopy.h"
#include "codec/Pdu.h"
#include "family/ModuleFamily.h"
#include "modem/ResultLines.h"

namespace tidewire {

namespace {

constexpr SetUpStep kSetUp[] = {
    {"AT+CNMI=1,0,0,0,1\r", OnFailure::EndsService, ErrorText::InitCnmi666},
    {"AT+CMGF=0\r", OnFailure::EndsService, ErrorText::InitCmgf666},
    {"AT+CPMS=ME\r", OnFailure::IsRecorded, ErrorText::InitCpms666},
};

// Indexes deleted in one walk that are remembered: more than a full answer buffer can list
// (an entry takes well over 32 bytes). A walk that deletes more ends there and leaves the rest
// of the store to the next cycle.
constexpr size_t kMostDeletesPerWalk = 2048;

// A service-centre number as the module reports it: an optional "+" and 1 to 18 digits more,
// within the 19 characters the field holds.
bool LooksLikeServiceCentre(const char* text, size_t length) {
    if (length == 0 || length > 19) {
        return false;
    }
    size_t i = text[0] == '+' ? 1 : 0;
    if (i == length) {
        return false;
    }
    for (; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

// Asks the SIM for its service-centre number ("AT+CSCA?") and keeps it in the session. The
// answer is read once, a second after the question.
void QueryServiceCentre(ModuleSession& session) {
    ModemChannel& channel = session.channel;
    if (!channel.IsOpen()) {
        return;
    }
    channel.PurgeAndWrite("AT+CSCA?\r");
    channel.Sleep(pauses::kServiceCentreAnswerMs);
    uint8_t readBuffer[kReadBufferSize] = {};
    const uint32_t got = channel.Port().Read(readBuffer, kReadBufferSize - 1);
    if (got == 0) {
        return;
    }
    const char* reply = reinterpret_cast<const char*>(readBuffer);
    // The number is the second piece when the answer is split at its double quotes (a run of
    // quotes counts as one separator, a leading one is skipped): +CSCA: "<number>",<type>.
    const char* cursor = reply;
    const char* end = reply + got;
    while (cursor < end && *cursor == '"') {
        ++cursor;
    }
    const char* firstQuote = static_cast<const char*>(std::memchr(cursor, '"', end - cursor));
    if (firstQuote == nullptr) {
        return;  // an ERROR answer or no number at all: the stored value stays
    }
    const char* second = firstQuote;
    while (second < end && *second == '"') {
        ++second;
    }
    const char* secondEnd = static_cast<const char*>(std::memchr(second, '"', end - second));
    if (secondEnd == nullptr) {
        secondEnd = end;
    }
    // Only a real number replaces the stored value: an empty "" would otherwise make the rest
    // of the answer (",145\r\n\r\nOK") the service centre, and CR LF would then go into the
    // AT+CSCA command line.
    const size_t length = static_cast<size_t>(secondEnd - second);
    if (!LooksLikeServiceCentre(second, length)) {
        return;
    }
    std::memset(session.serviceCentre, 0, sizeof session.serviceCentre);
    BoundedCopy(session.serviceCentre, sizeof session.serviceCentre, second, length);
}

// The module's ">" prompt, looked for after its echo of the command line (a number may hold a
// ">" of its own).
Verdict PromptTest(const ReplyBuffer& reply, const char* command) {
    const size_t from = AnswerStart(reply, command, std::strlen(command));
    if (from == ReplyBuffer::npos) {
        return Verdict::Pending;
    }
    if (reply.Find(">", from) != ReplyBuffer::npos) {
        return Verdict::Accepted;
    }
    return reply.Find("ERROR", from) != ReplyBuffer::npos ? Verdict::Refused : Verdict::Pending;
}

// Writes "AT+CMGS" and waits for the prompt. From the write on, the module may take whatever
// follows as a message; a refusal settles that.
bool OpenMessageEntry(ModemChannel& channel, const char* command, const PollPlan& plan) {
    ReplyBuffer reply;
    channel.PurgeAndWrite(command);
    channel.BeginEntry();
    const Verdict prompt = channel.ReplyPoll(
        reply, plan, [&](const ReplyBuffer& r) { return PromptTest(r, command); });
    if (prompt != Verdict::Accepted) {
        channel.SettleEntry(prompt);
        return false;
    }
    return true;
}

bool AllDigits(const char* text) {
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
    }
    return true;
}

class GsmModule final : public ModuleFamily {
  public:
    constexpr GsmModule() : ModuleFamily(kModuleGsm, "", SimCheck::Asked) {}

    SetUpResult SetUp(ModuleSession& session) const override {
        // The sequence begins with its first command; a stop is looked for after each.
        const SetUpResult steps = RunSetUpSteps(session, kSetUp, FirstStep::Unchecked);
        if (steps.outcome != SetUpResult::Outcome::Ready) {
            return steps;
        }
        if (session.StopEndsSetUp()) {
            return SetUpResult::Stopped();
        }
        if (std::strcmp(session.serviceCentre, "card") == 0) {
            QueryServiceCentre(session);
        }
        if (session.StopEndsSetUp()) {
            return SetUpResult::Stopped();
        }
        char command[128];
        std::snprintf(command, sizeof command, "AT+CSCA=\"%s\"\r", session.serviceCentre);
        if (!session.channel.SendAtCommand(command, "OK", "ERROR")) {
            return SetUpResult::Failed(ErrorText::InitServiceCentre);
        }
        return SetUpResult::Ready();
    }

    // Lists the whole store in PDU mode, hands every decodable message to the host, and deletes
    // each one only after its record is queued.
    bool Receive(ModuleSession& session) const override {
        ModemChannel& channel = session.channel;
        // The result is ignored: a module left in text mode by a send lists nothing decodable,
        // and the next cycle tries again.
        channel.SendAtCommand("AT+CMGF=0\r", "OK", "ERROR");
        if (!channel.IsOpen()) {
            return true;
        }
        channel.PurgeAndWrite("AT+CMGL=4\r");
        ReplyBuffer reply;
        const Verdict outcome =
            channel.ReplyPoll(reply, plans::kGsmListing, [](const ReplyBuffer& r) {
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
        // yields its complete entries, so the store drains over a few cycles instead of
        // blocking.
        return TakeListedMessages(session, reply);
    }

  protected:
    // A single-byte text goes out in text mode, after the module's prompt.
    bool SendSingleByte(ModuleSession& session, const char* text,
                        char (&number)[32]) const override;
    // A multi-byte text goes out as a UCS-2 SMS-SUBMIT in PDU mode.
    bool SendMultiByte(ModuleSession& session, const char* text, char (&number)[32]) const override;

  private:
    // Queues and deletes the listed messages one by one. A stop is looked for before each
    // entry, so it waits for at most the delete in progress, however full the store; what was
    // not yet taken stays in the store for the next run. False when a stop ended the walk.
    static bool TakeListedMessages(ModuleSession& session, const ReplyBuffer& reply) {
        const char* data = reply.Data();
        const size_t end = reply.Length();
        PduMessage message;
        std::memset(&message, 0, sizeof message);
        int deleted[kMostDeletesPerWalk];
        size_t deletedCount = 0;
        size_t cursor = 0;
        for (;;) {
            const size_t header = reply.Find("+CMGL:", cursor);
            if (header == ReplyBuffer::npos) {
                return true;
            }
            cursor = header + 6;
            int index = 0;
            const bool indexed = ReadStoreIndex(reply, cursor, index);
            const char* headerEnd =
                static_cast<const char*>(std::memchr(data + cursor, '\n', end - cursor));
            if (headerEnd == nullptr) {
                return true;
            }
            cursor = static_cast<size_t>(headerEnd - data) + 1;
            // The PDU line must be complete: a line cut off by the end of the collected answer
            // is left for the next cycle.
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
            // deliver that entry twice, nor delete the index again: by then a new message may
            // sit under it, unread.
            if (std::find(deleted, deleted + deletedCount, index) != deleted + deletedCount) {
                cursor = lineEnd;
                continue;
            }
            if (deletedCount == kMostDeletesPerWalk) {
                return true;
            }
            if (session.channel.StopRequested()) {
                return false;
            }
            const int count = DecodeDeliverPdu(data + cursor, lineEnd - cursor, message);
            cursor = lineEnd;
            if (count <= 0) {
                continue;  // not a message for the host; it stays in the store untouched
            }
            session.inbox.Deliver(message.text, message.number, message.timestamp);
            char command[64];
            std::snprintf(command, sizeof command, "AT+CMGD=%d\r", index);
            // A failed delete leaves the message in the store; it is listed and queued again.
            session.channel.SendAtCommand(command, "OK", "ERROR");
            deleted[deletedCount++] = index;
        }
    }
};

bool GsmModule::SendSingleByte(ModuleSession& session, const char* text, char (&number)[32]) const {
    ModemChannel& channel = session.channel;
    if (std::strlen(text) > 140) {
        session.errors.Record(ErrorText::SingleByteTooLong);
        return false;
    }
    if (!channel.SendAtCommand("AT+CMGF=1\r", "OK", "ERROR")) {
        session.errors.Record(ErrorText::SingleByteModeFailed);
        return false;
    }
    char command[1024];
    std::snprintf(command, sizeof command, "AT+CMGS=\"%s\"\r", number);
    if (!OpenMessageEntry(channel, command, plans::kTextModePrompt)) {
        return false;
    }

    char body[sizeof(OutgoingMessage::text) + 1];
    const int bodyLength = std::snprintf(body, sizeof body, "%s\x1A", text);
    channel.PurgeAndWrite(body);
    // The module echoes the body in text mode. Only its result lines after that echo count, so
    // a message that says "look" or "error" is judged like any other.
    ReplyBuffer reply;
    const Verdict verdict =
        channel.ReplyPoll(reply, plans::kTextModeVerdict, [&](const ReplyBuffer& r) {
            const size_t from = AnswerStart(r, body, static_cast<size_t>(bodyLength));
            if (from == ReplyBuffer::npos) {
                return Verdict::Pending;
            }
            return MessageVerdict(r, from, BareOk::Refuses);
        });
    channel.SettleEntry(verdict);
    return verdict == Verdict::Accepted;
}

bool GsmModule::SendMultiByte(ModuleSession& session, const char* text, char (&number)[32]) const {
    ModemChannel& channel = session.channel;
    if (CountHostCharacters(text) > 70) {
        session.errors.Record(ErrorText::MultiByteTooLong);
        return false;
    }
    if (!channel.SendAtCommand("AT+CMGF=0\r", "OK", "ERROR")) {
        session.errors.Record(ErrorText::MultiByteModeFailed);
        return false;
    }

    // The destination goes out in international form. A number written with "+" already
    // carries its country code and goes as given; any other number that does not begin with
    // 86 gets 86 in front, and the host sees the rewritten number in its report.
    const bool international = number[0] == '+';
    char* digits = international ? number + 1 : number;
    const size_t room = sizeof number - static_cast<size_t>(digits - number);
    if (!international && !(digits[0] == '8' && digits[1] == '6')) {
        char prefixed[sizeof number];
        const int written = std::snprintf(prefixed, sizeof prefixed, "86%s", digits);
        if (written < 0 || static_cast<size_t>(written) >= room) {
            session.errors.Record(ErrorText::NumberTooLong);
            return false;
        }
        BoundedCopy(digits, room, prefixed);
    }
    if (std::strlen(digits) > kMaxAddressDigits) {
        session.errors.Record(ErrorText::NumberTooLong);
        return false;
    }
    if (!AllDigits(digits)) {
        session.errors.Record(ErrorText::NumberIllegal);
        return false;
    }

    // The service centre is written with international type, so its "+" is dropped.
    const char* centre =
        session.serviceCentre[0] == '+' ? session.serviceCentre + 1 : session.serviceCentre;
    if (!AllDigits(centre) || std::strlen(centre) > kMaxAddressDigits) {
        session.errors.Record(ErrorText::ServiceCentreMalformed);
        return false;
    }

    PduMessage message;
    std::memset(&message, 0, sizeof message);
    BoundedCopy(message.smsc, centre);
    BoundedCopy(message.number, digits);
    BoundedCopy(message.text, text);
    message.pid = 0;
    message.dcs = 8;

    char pdu[512 + 2];
    const size_t pduLength = EncodeSubmitPdu(message, pdu, sizeof pdu - 2);
    if (pduLength == 0) {
        // The text does not convert from the host code page: nothing sensible can be sent.
        session.errors.Record(ErrorText::MultiByteTooLong);
        return false;
    }
    const int tpduLength = SubmitTpduLength(pdu, pduLength);
    pdu[pduLength] = 0x1A;
    pdu[pduLength + 1] = '\r';

    char command[1024];
    std::snprintf(command, sizeof command, "AT+CMGS=%d\r", tpduLength);
    if (!OpenMessageEntry(channel, command, plans::kPduModePrompt)) {
        return false;
    }

    channel.PurgeAndWrite(reinterpret_cast<const uint8_t*>(pdu), pduLength + 2);
    // PDU mode ends as soon as the module confirms: the echo is hex and holds no token.
    ReplyBuffer reply;
    const Verdict verdict =
        channel.ReplyPoll(reply, plans::kPduModeVerdict, [](const ReplyBuffer& r) {
            if (r.Contains("+CMGS:")) {
                return Verdict::Accepted;
            }
            if (r.Contains("ERROR")) {
                return Verdict::Refused;
            }
            return r.Contains("OK") ? Verdict::Refused : Verdict::Pending;
        });
    channel.SettleEntry(verdict);
    return verdict == Verdict::Accepted;
}

}  // namespace

const ModuleFamily& GsmFamily() {
    static const GsmModule family;
    return family;
}

}  // namespace tidewire

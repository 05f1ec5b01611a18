// Family 666: a GSM module with the standard message commands. It is the family of every
// module whose model answer no other family claims, and its SIM is checked at start-up.
// Set-up: new-message indications off (AT+CNMI), PDU mode, the module's own store, and the
// service centre, read from the SIM first when the host asked for "card". A single-byte text
// goes out in text mode after the module's prompt; a multi-byte text goes out as a UCS-2
// SMS-SUBMIT in PDU mode. The store is listed in PDU mode, and each entry is deleted once its
// record is queued.
//
// The host's options change that only where they are on. Long messages: a text beyond one SMS
// goes as concatenated SUBMITs (GSM 7-bit where the alphabet has every character), and the
// parts of a concatenated message wait in the store until all are there, to be queued as one
// text. Delivery reports: messages ask for status reports, their references are kept, and the
// reports the module stores are matched to them and deleted. Holding received messages: a
// message stays in the store until the host acknowledges its record(s), and is deleted at the
// start of a later receive step; a held index gets no second record.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "base/BoundedCopy.h"
#include "codec/Pdu.h"
#include "family/ModuleFamily.h"
#include "modem/ResultLines.h"
#include "platform/Platform.h"

namespace tidewire {

namespace {

constexpr SetUpStep kSetUp[] = {
    {"AT+CNMI=1,0,0,0,1\r", OnFailure::EndsService, ErrorText::InitCnmi666},
    {"AT+CMGF=0\r", OnFailure::EndsService, ErrorText::InitCmgf666},
    {"AT+CPMS=ME\r", OnFailure::IsRecorded, ErrorText::InitCpms666},
};

// While status reports are wanted the indications differ in <ds> alone: the module stores each
// report and names its index (+CDSI), so a report that arrives between two dialogues waits in
// the store for the next listing instead of being lost in the purge before a command.
constexpr const char* kCnmiStoringReports = "AT+CNMI=1,0,0,2,1\r";
constexpr const char* kCnmiWithoutReports = kSetUp[0].command;

// Text mode asks for a status report through the module's text-mode parameters (TP-SRR in the
// first octet, 49 = 17 + 32), set for the one send and put back to the usual 17,167,0,0 after it,
// so that later sends without the option ask for nothing.
constexpr const char* kCsmpAskingReport = "AT+CSMP=49,167,0,0\r";
constexpr const char* kCsmpUsual = "AT+CSMP=17,167,0,0\r";

// The answer that confirms a message and carries its reference.
constexpr const char* kConfirmation = "+CMGS:";

// The longest text that goes out in text mode, in bytes.
constexpr size_t kMostTextModeBytes = 140;

// A record holds this many bytes of text; a longer joined text goes as several records.
constexpr size_t kRecordTextBytes = sizeof(ReceivedMessage::text) - 1;

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

bool AllAscii(const char* text) {
    for (const char* p = text; *p != '\0'; ++p) {
        if (static_cast<unsigned char>(*p) > 0x7F) {
            return false;
        }
    }
    return true;
}

// The reference of the confirmation ("+CMGS: <mr>") in the answer from `from` on: 0 to 255, or
// -1 when the answer has no such line or no number on it.
int16_t MessageReference(const ReplyBuffer& reply, size_t from) {
    const size_t at = FindLineStartingWith(reply, from, kConfirmation);
    if (at == ReplyBuffer::npos) {
        return -1;
    }
    size_t cursor = at + std::strlen(kConfirmation);
    long value = 0;
    return ReadNumber(reply, cursor, 3, value) && value <= 255 ? static_cast<int16_t>(value) : -1;
}

// True once the confirmation line is there to its end, so its reference can be read whole.
bool ConfirmationLineEnded(const ReplyBuffer& reply) {
    const size_t at = reply.Find(kConfirmation);
    if (at == ReplyBuffer::npos) {
        return false;
    }
    for (size_t i = at; i < reply.Length(); ++i) {
        if (reply.Data()[i] == '\r' || reply.Data()[i] == '\n') {
            return true;
        }
    }
    return false;
}

// Notes the reference of one more accepted part for the worker.
void RecordAcceptedPart(ModuleSession& session, const ReplyBuffer& reply) {
    SendRecord& record = session.sending;
    if (record.partCount < kMostSubmitParts) {
        record.references[record.partCount++] =
            ConfirmationLineEnded(reply) ? MessageReference(reply, 0) : -1;
    }
}

// Switches the module's routing of status reports to what the option asks, when the two
// differ; a module that refuses to store them is not asked again in this run.
void RouteStatusReports(ModuleSession& session) {
    const bool wanted = session.options.deliveryReports.load();
    if (wanted && session.reportRouting == ReportRouting::Off) {
        session.reportRouting = session.channel.SendAtCommand(kCnmiStoringReports, "OK", "ERROR")
                                    ? ReportRouting::Stored
                                    : ReportRouting::Refused;
    } else if (!wanted && session.reportRouting != ReportRouting::Off) {
        if (session.reportRouting == ReportRouting::Stored) {
            session.channel.SendAtCommand(kCnmiWithoutReports, "OK", "ERROR");
        }
        session.reportRouting = ReportRouting::Off;
    }
}

// Whether the store the messages are listed from, or the one new messages go into, is full
// ("AT+CPMS?": +CPMS: <mem1>,<used1>,<total1>,<mem2>,...,<mem3>,<used3>,<total3>). Parts that
// wait for a missing one must then make room: it could never arrive.
bool StoreIsFull(ModemChannel& channel) {
    ReplyBuffer reply;
    if (channel.Ask("AT+CPMS?\r", reply) != Verdict::Accepted) {
        return false;
    }
    const size_t at = FindLineStartingWith(reply, 0, "+CPMS:");
    if (at == ReplyBuffer::npos) {
        return false;
    }
    long fields[9] = {};
    bool numeric[9] = {};
    size_t field = 0;
    for (size_t i = at + 6; i < reply.Length() && field < 9; ++i) {
        const char c = reply.Data()[i];
        if (c == '\r' || c == '\n') {
            break;
        }
        if (c == ',') {
            ++field;
        } else if (c >= '0' && c <= '9' && fields[field] < 100000) {
            fields[field] = fields[field] * 10 + (c - '0');
            numeric[field] = true;
        }
    }
    const auto full = [&](size_t used, size_t total) {
        return numeric[used] && numeric[total] && fields[total] > 0 &&
               fields[used] >= fields[total];
    };
    return full(1, 2) || full(7, 8);
}

// Hands a text, given piece by piece as UTF-16 units, to the inbox as consecutive records, each
// cut at a character boundary to the record's 255 bytes.
class RecordWriter {
  public:
    // How the records go: queued as they are, under receipts, or only counted (to learn
    // whether the receipts they need are free before any of them is queued).
    enum class Mode { Deliver, Hold, Count };

    RecordWriter(Inbox& inbox, const char* sender, const char* timestamp, Mode mode = Mode::Deliver)
        : inbox_(inbox), sender_(sender), timestamp_(timestamp), mode_(mode) {}

    void Add(const char16_t* units, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            // A U+0000 would end the host text there and hide what follows it.
            if (units[i] == 0) {
                continue;
            }
            if (pendingCount_ == std::size(pending_)) {
                FlushWhatFits();
            }
            pending_[pendingCount_++] = units[i];
        }
        while (FlushWhatFits()) {
        }
    }
    void Finish() {
        if (pendingCount_ > 0) {
            Flush(pendingCount_);
        }
    }
    size_t Records() const { return records_; }
    // The receipts of the records held, in order; 0 when none was.
    int32_t FirstReceipt() const { return firstReceipt_; }
    int32_t LastReceipt() const { return lastReceipt_; }

  private:
    // Queues the longest beginning that fits a record, when the rest would not fit with it.
    bool FlushWhatFits() {
        const size_t fitting = Utf16UnitsFittingHost(pending_, pendingCount_, kRecordTextBytes);
        if (fitting == pendingCount_) {
            return false;
        }
        Flush(fitting);
        return true;
    }
    void Flush(size_t count) {
        if (count == 0) {
            count = 1;  // never stall on what no record could hold
        }
        if (mode_ != Mode::Count) {
            char text[kRecordTextBytes + 1];
            Utf16ToHost(pending_, count, text, sizeof text);
            if (mode_ == Mode::Hold) {
                lastReceipt_ = inbox_.DeliverHeld(text, sender_, timestamp_);
                firstReceipt_ = firstReceipt_ != 0 ? firstReceipt_ : lastReceipt_;
            } else {
                inbox_.Deliver(text, sender_, timestamp_);
            }
        }
        ++records_;
        std::memmove(pending_, pending_ + count, (pendingCount_ - count) * sizeof(char16_t));
        pendingCount_ -= count;
    }

    Inbox& inbox_;
    const char* sender_;
    const char* timestamp_;
    const Mode mode_;
    int32_t firstReceipt_ = 0;
    int32_t lastReceipt_ = 0;
    // What has not gone into a record yet: less than a record, and one part's text.
    char16_t pending_[kRecordTextBytes + sizeof(DeliverText::units) / sizeof(char16_t)];
    size_t pendingCount_ = 0;
    size_t records_ = 0;
};

// One walk over a listing of the whole store: each message is queued, then deleted under its
// own index. With the options on, status reports are matched and deleted, and the parts of
// concatenated messages are held back until the rest of the walk has shown which of them are
// complete. Nothing is deleted before what it held is queued. Messages held for the host are
// skipped, and while the host asks for holding new ones are queued under receipts and kept.
class StoreWalk {
  public:
    StoreWalk(ModuleSession& session, const ReplyBuffer& reply)
        : session_(session), reply_(reply) {}

    // False when a stop ended the walk. wholeStore: the listing ended with its OK, so a part
    // it does not show is no longer in the store.
    bool Run(bool wholeStore);

  private:
    // A part of a concatenated message found in the listing, and the message it belongs to.
    struct HeldPart {
        int index;
        uint32_t pduStart;
        uint32_t pduLength;
        uint8_t sequence;
        uint8_t group;
    };
    struct HeldGroup {
        Concatenation concatenation;
        char sender[32];
    };
    static constexpr size_t kMostHeldParts = 512;
    static constexpr size_t kMostHeldGroups = 128;

    bool Seen(int index) const {
        return std::find(deleted_, deleted_ + deletedCount_, index) != deleted_ + deletedCount_ ||
               std::any_of(held_, held_ + heldCount_,
                           [&](const HeldPart& part) { return part.index == index; });
    }
    void Delete(int index) {
        char command[64];
        std::snprintf(command, sizeof command, "AT+CMGD=%d\r", index);
        // A failed delete leaves the message in the store; it is listed and queued again.
        session_.channel.SendAtCommand(command, "OK", "ERROR");
        deleted_[deletedCount_++] = index;
    }
    bool RoomToDelete(size_t count) const { return kMostDeletesPerWalk - deletedCount_ >= count; }

    void DeliverAndDelete(int index, const char* pdu, size_t length);
    // Queues the message under a receipt and keeps it, when there is room for it.
    void DeliverAndHold(int index, const char* pdu, size_t length);
    // Queues the parts as one text and keeps them while holding, else deletes them; false when
    // nothing was queued (no room, or nothing decodable).
    bool DeliverPartsAndSettle(const HeldPart* const* parts, size_t count);
    void TakeStatusReport(int index, const char* pdu, size_t length);
    void TakeIndicatedReports();
    bool Hold(int index, size_t pduStart, size_t pduLength);
    bool TakeHeldParts(bool wholeStore);
    // The slot that times the group's wait in this run, taken when the group is first seen;
    // null when every slot is taken.
    WaitingGroup* WaitingSlot(const HeldGroup& group, uint64_t now);
    // The held part of `group` with each sequence number, in order; false when one is missing.
    bool PartsInOrder(size_t group, const HeldPart* (&parts)[256]) const;
    size_t DeliverParts(const HeldPart* const* parts, size_t count, RecordWriter::Mode mode,
                        int32_t* firstReceipt = nullptr, int32_t* lastReceipt = nullptr);

    ModuleSession& session_;
    const ReplyBuffer& reply_;
    int deleted_[kMostDeletesPerWalk];
    size_t deletedCount_ = 0;
    HeldPart held_[kMostHeldParts];
    size_t heldCount_ = 0;
    HeldGroup groups_[kMostHeldGroups];
    size_t groupCount_ = 0;
    // New messages are kept for the host's acknowledgement.
    bool holding_ = false;
};

bool StoreWalk::Run(bool wholeStore) {
    holding_ = session_.options.holdReceived.load();
    session_.held.BeginListing();
    const bool joinParts = session_.options.longMessages.load();
    const bool takeReports =
        session_.options.deliveryReports.load() && session_.deliveries != nullptr;
    const char* data = reply_.Data();
    const size_t end = reply_.Length();
    size_t cursor = 0;
    for (;;) {
        const size_t header = reply_.Find("+CMGL:", cursor);
        if (header == ReplyBuffer::npos) {
            break;
        }
        cursor = header + 6;
        int index = 0;
        const bool indexed = ReadStoreIndex(reply_, cursor, index);
        const char* headerEnd =
            static_cast<const char*>(std::memchr(data + cursor, '\n', end - cursor));
        if (headerEnd == nullptr) {
            break;
        }
        cursor = static_cast<size_t>(headerEnd - data) + 1;
        // The PDU line must be complete: a line cut off by the end of the collected answer
        // is left for the next cycle.
        size_t lineEnd = cursor;
        while (lineEnd < end && data[lineEnd] != '\r' && data[lineEnd] != '\n') {
            ++lineEnd;
        }
        if (lineEnd >= end) {
            break;
        }
        if (!indexed) {
            continue;
        }
        // A listing that names an index twice (a module that repeated its answer) must not
        // deliver that entry twice, nor delete the index again: by then a new message may
        // sit under it, unread.
        if (Seen(index)) {
            cursor = lineEnd;
            continue;
        }
        if (!RoomToDelete(1)) {
            break;
        }
        if (session_.channel.StopRequested()) {
            return false;
        }
        const size_t pduStart = cursor;
        const size_t pduLength = lineEnd - cursor;
        cursor = lineEnd;
        if (session_.held.Listed(index, Fingerprint(data + pduStart, pduLength))) {
            continue;  // its record is with the host, which has not acknowledged it yet
        }
        if (takeReports &&
            MessageTypeOfPdu(data + pduStart, pduLength) == kMessageTypeStatusReport) {
            TakeStatusReport(index, data + pduStart, pduLength);
        } else if (!(joinParts && Hold(index, pduStart, pduLength))) {
            DeliverAndDelete(index, data + pduStart, pduLength);
        }
    }
    if (takeReports) {
        TakeIndicatedReports();
    }
    if (wholeStore) {
        session_.held.ForgetUnlisted();
    }
    return heldCount_ == 0 || TakeHeldParts(wholeStore);
}

void StoreWalk::DeliverAndDelete(int index, const char* pdu, size_t length) {
    if (holding_) {
        DeliverAndHold(index, pdu, length);
        return;
    }
    PduMessage message;
    if (DecodeDeliverPdu(pdu, length, message) <= 0) {
        return;  // not a message for the host; it stays in the store untouched
    }
    session_.inbox.Deliver(message.text, message.number, message.timestamp);
    Delete(index);
}

void StoreWalk::DeliverAndHold(int index, const char* pdu, size_t length) {
    if (session_.held.Room() == 0 || session_.inbox.RoomToHold() == 0) {
        return;  // waits in the module until the host acknowledges what it has
    }
    PduMessage message;
    if (DecodeDeliverPdu(pdu, length, message) <= 0) {
        return;
    }
    const int32_t receipt =
        session_.inbox.DeliverHeld(message.text, message.number, message.timestamp);
    session_.held.Add(index, Fingerprint(pdu, length), receipt, receipt);
}

bool StoreWalk::DeliverPartsAndSettle(const HeldPart* const* parts, size_t count) {
    if (!holding_) {
        if (!RoomToDelete(count) || DeliverParts(parts, count, RecordWriter::Mode::Deliver) == 0) {
            return false;
        }
        for (size_t i = 0; i < count; ++i) {
            Delete(parts[i]->index);
        }
        return true;
    }
    // Every record of the text and every part need their room before the first is queued.
    const size_t records = DeliverParts(parts, count, RecordWriter::Mode::Count);
    if (records == 0 || records > session_.inbox.RoomToHold() || count > session_.held.Room()) {
        return false;
    }
    int32_t first = 0;
    int32_t last = 0;
    DeliverParts(parts, count, RecordWriter::Mode::Hold, &first, &last);
    for (size_t i = 0; i < count; ++i) {
        session_.held.Add(parts[i]->index,
                          Fingerprint(reply_.Data() + parts[i]->pduStart, parts[i]->pduLength),
                          first, last);
    }
    return true;
}

void StoreWalk::TakeStatusReport(int index, const char* pdu, size_t length) {
    StatusReport report;
    if (!DecodeStatusReportPdu(pdu, length, report)) {
        return;  // unreadable: left in the store, as any entry that is no message
    }
    // Read once it is listed, whether or not a message of this run asked for it: a report
    // nobody waits for would otherwise fill the store.
    session_.deliveries->Match(report);
    Delete(index);
}

void StoreWalk::TakeIndicatedReports() {
    // A module that hands a report over at once ("+CDS: <length>" and the PDU on the next line)
    // may do so in the middle of the listing; such a report is in no store.
    size_t from = 0;
    for (;;) {
        const size_t at = FindLineStartingWith(reply_, from, "+CDS:");
        if (at == ReplyBuffer::npos) {
            return;
        }
        const char* data = reply_.Data();
        size_t cursor = at;
        while (cursor < reply_.Length() && data[cursor] != '\n') {
            ++cursor;
        }
        size_t lineEnd = ++cursor;
        while (lineEnd < reply_.Length() && data[lineEnd] != '\r' && data[lineEnd] != '\n') {
            ++lineEnd;
        }
        StatusReport report;
        if (cursor < reply_.Length() &&
            DecodeStatusReportPdu(data + cursor, lineEnd - cursor, report)) {
            session_.deliveries->Match(report);
        }
        from = lineEnd;
    }
}

bool StoreWalk::Hold(int index, size_t pduStart, size_t pduLength) {
    PduMessage message;
    DeliverText text;
    if (!DecodeDeliverText(reply_.Data() + pduStart, pduLength, message, text) ||
        !text.concatenation.present || text.alphabet == SmsAlphabet::EightBit) {
        return false;  // a message on its own; 8-bit data is no text to join
    }
    const Concatenation& part = text.concatenation;
    size_t group = 0;
    while (group < groupCount_ &&
           !(groups_[group].concatenation.reference == part.reference &&
             groups_[group].concatenation.total == part.total &&
             groups_[group].concatenation.wideReference == part.wideReference &&
             std::strcmp(groups_[group].sender, message.number) == 0)) {
        ++group;
    }
    // A part beyond the room of this walk stays in the store, untouched, for the next one.
    if (heldCount_ == kMostHeldParts || (group == groupCount_ && groupCount_ == kMostHeldGroups)) {
        return true;
    }
    if (group == groupCount_) {
        groups_[group].concatenation = part;
        BoundedCopy(groups_[group].sender, message.number);
        ++groupCount_;
    }
    held_[heldCount_++] = {index, static_cast<uint32_t>(pduStart), static_cast<uint32_t>(pduLength),
                           part.sequence, static_cast<uint8_t>(group)};
    return true;
}

bool StoreWalk::PartsInOrder(size_t group, const HeldPart* (&parts)[256]) const {
    const uint8_t total = groups_[group].concatenation.total;
    for (size_t sequence = 1; sequence <= total; ++sequence) {
        parts[sequence - 1] = nullptr;
    }
    for (size_t i = 0; i < heldCount_; ++i) {
        const HeldPart& part = held_[i];
        // A part listed twice keeps its first listing; the other stays in the store.
        if (part.group == group && parts[part.sequence - 1] == nullptr) {
            parts[part.sequence - 1] = &part;
        }
    }
    return std::all_of(parts, parts + total, [](const HeldPart* part) { return part != nullptr; });
}

size_t StoreWalk::DeliverParts(const HeldPart* const* parts, size_t count, RecordWriter::Mode mode,
                               int32_t* firstReceipt, int32_t* lastReceipt) {
    PduMessage first;
    DeliverText text;
    if (!DecodeDeliverText(reply_.Data() + parts[0]->pduStart, parts[0]->pduLength, first, text)) {
        return 0;
    }
    RecordWriter writer(session_.inbox, first.number, first.timestamp, mode);
    writer.Add(text.units, text.unitCount);
    for (size_t i = 1; i < count; ++i) {
        PduMessage message;
        if (DecodeDeliverText(reply_.Data() + parts[i]->pduStart, parts[i]->pduLength, message,
                              text)) {
            writer.Add(text.units, text.unitCount);
        }
    }
    writer.Finish();
    if (firstReceipt != nullptr && lastReceipt != nullptr) {
        *firstReceipt = writer.FirstReceipt();
        *lastReceipt = writer.LastReceipt();
    }
    return writer.Records();
}

WaitingGroup* StoreWalk::WaitingSlot(const HeldGroup& group, uint64_t now) {
    WaitingGroup* free = nullptr;
    for (WaitingGroup& waiting : session_.waitingGroups) {
        if (!waiting.inUse) {
            free = free != nullptr ? free : &waiting;
        } else if (waiting.reference == group.concatenation.reference &&
                   waiting.total == group.concatenation.total &&
                   waiting.wideReference == group.concatenation.wideReference &&
                   std::strcmp(waiting.sender, group.sender) == 0) {
            return &waiting;
        }
    }
    if (free != nullptr) {
        *free = WaitingGroup{true,
                             group.concatenation.wideReference,
                             group.concatenation.reference,
                             group.concatenation.total,
                             {},
                             now};
        BoundedCopy(free->sender, group.sender);
    }
    return free;
}

bool StoreWalk::TakeHeldParts(bool wholeStore) {
    const uint64_t now = session_.channel.NowMs();
    const uint64_t limitMs =
        static_cast<uint64_t>(session_.options.reassemblySeconds.load()) * 1000u;
    bool listed[kMostWaitingGroups] = {};
    int storeFull = -1;  // asked only when parts would otherwise go on waiting
    for (size_t group = 0; group < groupCount_; ++group) {
        if (session_.channel.StopRequested()) {
            return false;
        }
        WaitingGroup* waiting = WaitingSlot(groups_[group], now);
        if (waiting != nullptr) {
            listed[waiting - session_.waitingGroups] = true;
        }
        const HeldPart* parts[256];
        const uint8_t total = groups_[group].concatenation.total;
        if (PartsInOrder(group, parts)) {
            // The whole message, queued as one text, then every part of it deleted. A stop
            // does not cut the deletes of one message: a part left behind would come again,
            // on its own, in the next run.
            if (DeliverPartsAndSettle(parts, total) && waiting != nullptr) {
                waiting->inUse = false;
            }
            continue;
        }
        // Without a slot the group counts as new in every walk: only a full store lets it go.
        const uint64_t since = waiting != nullptr ? waiting->sinceMs : now;
        if (now - since < limitMs) {
            if (storeFull < 0) {
                storeFull = StoreIsFull(session_.channel) ? 1 : 0;
            }
            if (storeFull == 0) {
                continue;
            }
        }
        // Overdue, or in a full store where the missing part could never arrive: each part that
        // is there goes on its own, in order.
        for (size_t i = 0; i < total; ++i) {
            if (parts[i] == nullptr) {
                continue;
            }
            if (session_.channel.StopRequested()) {
                return false;
            }
            DeliverPartsAndSettle(&parts[i], 1);
        }
    }
    // A message the whole listing no longer shows has left the store: its wait is forgotten.
    if (wholeStore) {
        for (size_t i = 0; i < kMostWaitingGroups; ++i) {
            if (!listed[i]) {
                session_.waitingGroups[i].inUse = false;
            }
        }
    }
    return true;
}

class GsmModule final : public ModuleFamily {
  public:
    constexpr GsmModule() : ModuleFamily(kModuleGsm, "", SimCheck::Asked, true) {}

    SetUpResult SetUp(ModuleSession& session) const override {
        session.reportRouting = ReportRouting::Off;
        for (WaitingGroup& waiting : session.waitingGroups) {
            waiting.inUse = false;
        }
        session.held.Clear();
        // The sequence begins with its first command; a stop is looked for after each. A
        // module that will not store status reports gets the usual indications instead.
        SetUpResult steps = SetUpResult::Ready();
        if (session.options.deliveryReports.load() &&
            session.channel.SendAtCommand(kCnmiStoringReports, "OK", "ERROR")) {
            session.reportRouting = ReportRouting::Stored;
            steps = RunSetUpSteps(session, kSetUp + 1, std::size(kSetUp) - 1, FirstStep::Checked);
        } else {
            if (session.options.deliveryReports.load()) {
                session.reportRouting = ReportRouting::Refused;
            }
            steps = RunSetUpSteps(session, kSetUp, FirstStep::Unchecked);
        }
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
        if (channel.IsOpen()) {
            RouteStatusReports(session);
        }
        // The result is ignored: a module left in text mode by a send lists nothing decodable,
        // and the next cycle tries again.
        channel.SendAtCommand("AT+CMGF=0\r", "OK", "ERROR");
        if (!channel.IsOpen()) {
            return true;
        }
        if (!DeleteAcknowledged(session)) {
            return false;
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
        StoreWalk walk(session, reply);
        return walk.Run(outcome == Verdict::Accepted);
    }

  protected:
    // A single-byte text goes out in text mode, after the module's prompt.
    bool SendSingleByte(ModuleSession& session, const char* text,
                        char (&number)[32]) const override;
    // A multi-byte text goes out as a UCS-2 SMS-SUBMIT in PDU mode.
    bool SendMultiByte(ModuleSession& session, const char* text, char (&number)[32]) const override;

  private:
    // Sends the text in PDU mode, in as many parts as the coding allows.
    static bool SendPdu(ModuleSession& session, const char* text, char (&number)[32],
                        SubmitCoding coding, size_t mostParts);
    // Writes one SUBMIT after the module's prompt and waits for its verdict.
    static bool SendSubmit(ModuleSession& session, const char* pdu, size_t pduLength);
};

bool GsmModule::SendSingleByte(ModuleSession& session, const char* text, char (&number)[32]) const {
    ModemChannel& channel = session.channel;
    // With long messages on, only an ASCII text that fits text mode stays there: any other goes
    // as GSM 7-bit (160 characters a message, é and € among them) or in parts.
    if (session.options.longMessages.load() &&
        (std::strlen(text) > kMostTextModeBytes || !AllAscii(text))) {
        return SendPdu(session, text, number, SubmitCoding::Gsm7WhereItFits, kMostSubmitParts);
    }
    if (std::strlen(text) > kMostTextModeBytes) {
        session.errors.Record(ErrorText::SingleByteTooLong);
        return false;
    }
    if (!channel.SendAtCommand("AT+CMGF=1\r", "OK", "ERROR")) {
        session.errors.Record(ErrorText::SingleByteModeFailed);
        return false;
    }
    // A module that does not take the request still sends the message; its delivery then stays
    // unknown.
    const bool askReport =
        session.sending.reportWanted && channel.SendAtCommand(kCsmpAskingReport, "OK", "ERROR");
    char command[1024];
    std::snprintf(command, sizeof command, "AT+CMGS=\"%s\"\r", number);
    bool sent = false;
    if (OpenMessageEntry(channel, command, plans::kTextModePrompt)) {
        char body[sizeof(OutgoingMessage::text) + 1];
        const int bodyLength = std::snprintf(body, sizeof body, "%s\x1A", text);
        channel.PurgeAndWrite(body);
        // The module echoes the body in text mode. Only its result lines after that echo
        // count, so a message that says "look" or "error" is judged like any other.
        ReplyBuffer reply;
        size_t answer = ReplyBuffer::npos;
        const Verdict verdict =
            channel.ReplyPoll(reply, plans::kTextModeVerdict, [&](const ReplyBuffer& r) {
                answer = AnswerStart(r, body, static_cast<size_t>(bodyLength));
                if (answer == ReplyBuffer::npos) {
                    return Verdict::Pending;
                }
                return MessageVerdict(r, answer, BareOk::Refuses);
            });
        channel.SettleEntry(verdict);
        sent = verdict == Verdict::Accepted;
        if (sent && session.sending.partCount < kMostSubmitParts) {
            session.sending.references[session.sending.partCount++] =
                MessageReference(reply, answer);
        }
    }
    if (askReport) {
        channel.SendAtCommand(kCsmpUsual, "OK", "ERROR");
    }
    return sent;
}

bool GsmModule::SendMultiByte(ModuleSession& session, const char* text, char (&number)[32]) const {
    if (session.options.longMessages.load()) {
        return SendPdu(session, text, number, SubmitCoding::Gsm7WhereItFits, kMostSubmitParts);
    }
    if (CountHostCharacters(text) > 70) {
        session.errors.Record(ErrorText::MultiByteTooLong);
        return false;
    }
    return SendPdu(session, text, number, SubmitCoding::Ucs2, 1);
}

bool GsmModule::SendPdu(ModuleSession& session, const char* text, char (&number)[32],
                        SubmitCoding coding, size_t mostParts) {
    ModemChannel& channel = session.channel;
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

    // A text that does not convert from the host code page cannot be sent sensibly.
    char16_t units[sizeof(OutgoingMessage::text)];
    const size_t textLength = BoundedLength(text, sizeof(OutgoingMessage::text));
    const size_t unitCount = HostToUtf16(text, textLength, units, sizeof units / sizeof units[0]);
    SubmitText plan;
    if (!PlanSubmitText(units, unitCount, coding, mostParts, plan)) {
        session.errors.Record(ErrorText::MultiByteTooLong);
        return false;
    }

    SubmitPart part;
    part.smsc = centre;
    part.number = digits;
    part.gsm7 = plan.gsm7;
    part.statusReport = session.sending.reportWanted;
    if (plan.partCount > 1) {
        // Each concatenated message has a reference of its own, so the handset never mixes
        // the parts of two.
        part.concatenation = {true, false, session.nextConcatenationReference++,
                              static_cast<uint8_t>(plan.partCount), 0};
    }
    size_t start = 0;
    for (size_t i = 0; i < plan.partCount; ++i) {
        part.concatenation.sequence = static_cast<uint8_t>(i + 1);
        part.data = plan.data + start;
        part.length = plan.partEnd[i] - start;
        start = plan.partEnd[i];
        char pdu[512 + 2];
        const size_t pduLength = EncodeSubmitPart(part, pdu, sizeof pdu - 2);
        if (pduLength == 0) {
            session.errors.Record(ErrorText::MultiByteTooLong);
            return false;
        }
        // A part refused ends the message: the parts before it have gone, the rest never will.
        if (!SendSubmit(session, pdu, pduLength)) {
            return false;
        }
    }
    return true;
}

bool GsmModule::SendSubmit(ModuleSession& session, const char* pduText, size_t pduLength) {
    ModemChannel& channel = session.channel;
    char pdu[512 + 2];
    std::memcpy(pdu, pduText, pduLength);
    const int tpduLength = SubmitTpduLength(pdu, pduLength);
    pdu[pduLength] = 0x1A;
    pdu[pduLength + 1] = '\r';

    char command[1024];
    std::snprintf(command, sizeof command, "AT+CMGS=%d\r", tpduLength);
    if (!OpenMessageEntry(channel, command, plans::kPduModePrompt)) {
        return false;
    }

    channel.PurgeAndWrite(reinterpret_cast<const uint8_t*>(pdu), pduLength + 2);
    // PDU mode ends as soon as the module confirms: the echo is hex and holds no token. Where
    // the reference is wanted, the confirmation's line is read to its end.
    const bool wantReference = session.sending.reportWanted;
    ReplyBuffer reply;
    const Verdict verdict =
        channel.ReplyPoll(reply, plans::kPduModeVerdict, [&](const ReplyBuffer& r) {
            if (r.Contains(kConfirmation)) {
                return !wantReference || ConfirmationLineEnded(r) ? Verdict::Accepted
                                                                  : Verdict::Pending;
            }
            if (r.Contains("ERROR")) {
                return Verdict::Refused;
            }
            return r.Contains("OK") ? Verdict::Refused : Verdict::Pending;
        });
    // A confirmation whose line never ended still confirms the message; only its reference,
    // which may be cut short, is then unknown.
    const bool confirmed = verdict == Verdict::Accepted ||
                           (verdict == Verdict::TimedOut && reply.Contains(kConfirmation));
    channel.SettleEntry(confirmed ? Verdict::Accepted : verdict);
    if (!confirmed) {
        return false;
    }
    RecordAcceptedPart(session, reply);
    return true;
}

}  // namespace

const ModuleFamily& GsmFamily() {
    static const GsmModule family;
    return family;
}

}  // namespace tidewire

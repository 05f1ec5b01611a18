// What every module family provides, and what it works with. A family is everything that
// differs between modules: the text that identifies it in the model answer, whether its SIM is
// checked, its set-up, its send procedure for each text kind and its receive procedure. Each
// family is one file of this folder; FamilyTable.cpp lists them.
//
// A family reaches the rest of the library only through the session it is handed: the channel
// to the module, the inbox for received messages, the log of failure texts, and the service
// centre. It keeps no state of its own between calls.
#ifndef TIDEWIRE_FAMILY_MODULEFAMILY_H
#define TIDEWIRE_FAMILY_MODULEFAMILY_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/Edition.h"
#include "base/ErrorTexts.h"
#include "codec/Pdu.h"
#include "codec/TextHex.h"
#include "modem/ModemChannel.h"
#include "tidewire_records.h"

namespace tidewire {

// The family codes, as modules are known by.
enum ModuleType : int32_t {
    kModuleUnknown = 0,
    kModuleGsm = 666,  // GSM command set (27.005)
    kModule870 = 870,  // CDMA, text-mode command set with AT+ZMSGL
    kModule865 = 865,  // CDMA, at$smsmo / at$smsmt=1?
    kModule860 = 860,  // CDMA, at$smsmo0 / at$smsmt0? / at$delmt
};

// Where a procedure leaves the text of a failure for the host.
class ErrorLog {
  public:
    virtual void Record(ErrorText error) = 0;

  protected:
    ~ErrorLog() = default;
};

// Where received messages go, one record each.
class Inbox {
  public:
    // Queues one message for the host, each field cut to its width in the record.
    void Deliver(const char* text, const char* sender, const char* timestamp);
    // The same for a message the module keeps until the host has acknowledged its record: the
    // record goes with a receipt (greater than 0), which is returned; 0 when every receipt is
    // out, and then nothing is queued. A family asks RoomToHold first.
    int32_t DeliverHeld(const char* text, const char* sender, const char* timestamp);
    // How many more records can go out under a receipt before the host acknowledges some.
    virtual size_t RoomToHold() = 0;
    // True once the host has acknowledged every receipt from first to last (or the records
    // were given back at a start-up): their messages may leave the module.
    virtual bool Acknowledged(int32_t first, int32_t last) = 0;

  protected:
    ~Inbox() = default;
    virtual void Take(const ReceivedMessage& record) = 0;
    virtual int32_t TakeHeld(const ReceivedMessage& record) = 0;
};

// What a family learns of its module while the service runs and keeps from one call to the
// next. A family's set-up starts it afresh: after a start-up the module may be another one.
struct ModuleMemory {
    // Type 870: the module has echoed a command. From then on an answer counts as a command's
    // own only behind that command's echo, so that the late end of an earlier answer, arriving
    // after the purge that went before the command, is not taken for it.
    bool echoes = false;
    // Type 860 hands out its oldest message again and again until it is told to drop it, and
    // its answers carry nothing that tells a late answer from a fresh one. Messages are known by
    // a hash (of their record, or of their answer line where it cannot be cut): the one last
    // handed to the host (or dropped), and one handed out again without a record being queued
    // (unreadable, or already delivered) with the count of consecutive cycles that brought it.
    uint32_t delivered = 0;
    uint32_t held = 0;
    int heldCycles = 0;
    // Type 860: the last read was not answered within its window, so its answer may still be
    // on its way and stand in front of the next one.
    bool answerOwed = false;
    // Types 860 and 865 while records are held: the receipt of the message handed to the host
    // last, until the host acknowledges it; no other message is read meanwhile.
    int32_t heldReceipt = 0;
};

// A message the module keeps for the host until its records are acknowledged: where it lies in
// the store, a hash of what was listed there, and the receipts of the records it went into (the
// parts of a joined text share theirs, and leave the store together).
struct HeldMessage {
    bool inUse = false;
    // The latest listing showed the same message under the index.
    bool listed = false;
    int index = 0;
    uint32_t fingerprint = 0;
    int32_t firstReceipt = 0;
    int32_t lastReceipt = 0;
};
// More than any module's store holds: a listing finds no room only when the host leaves records
// unacknowledged, and then new messages wait in the module.
constexpr size_t kMostHeldMessages = 256;

// The messages of the store families (GSM, 870) that wait in the module for the host's
// acknowledgement, in a fixed table: the worker allocates nothing for them.
class HeldMessages {
  public:
    void Clear();
    size_t Room() const;
    // Keeps the message at index under the receipts first..last; false when the table is full.
    bool Add(int index, uint32_t fingerprint, int32_t firstReceipt, int32_t lastReceipt);
    // Before a listing: no index has been listed yet.
    void BeginListing();
    // Whether the message a listing shows at index is held. A held index listed with another
    // message (deleted by someone else, the slot used again) is forgotten: that one is new.
    bool Listed(int index, uint32_t fingerprint);
    // After a listing of the whole store: a held index it did not show has left the module.
    void ForgetUnlisted();

    HeldMessage* begin() { return entries_; }
    HeldMessage* end() { return entries_ + kMostHeldMessages; }

  private:
    HeldMessage entries_[kMostHeldMessages];
};

// A message known by a hash of its bytes (FNV-1a); never 0.
uint32_t Fingerprint(const char* bytes, size_t count);

// Where status reports go, to be matched with the message they are about.
class DeliveryLog {
  public:
    // True when the report belonged to a part of a message that asked for one.
    virtual bool Match(const StatusReport& report) = 0;

  protected:
    ~DeliveryLog() = default;
};

// The extensions a host switches on. They hold for the life of the loaded library: the host's
// threads set them at any time, and the procedures read them as they go. All off, a module sees
// exactly what it saw before they existed.
struct ModuleOptions {
    static constexpr int32_t kDefaultReassemblySeconds = 600;
    static constexpr int32_t kMostReassemblySeconds = 7 * 24 * 3600;

    // A received message stays in the module until the host acknowledges its record.
    std::atomic<bool> holdReceived{false};
    // Texts beyond one message go as concatenated messages, and parts of one are joined.
    std::atomic<bool> longMessages{false};
    // Messages ask for status reports, which are matched to them.
    std::atomic<bool> deliveryReports{false};
    // How long parts of a concatenated message wait for the rest before each goes on its own.
    std::atomic<int32_t> reassemblySeconds{kDefaultReassemblySeconds};
};

// What the worker and a send procedure tell each other about one message besides its outcome.
struct SendRecord {
    // Set by the worker: the message asks for status reports.
    bool reportWanted = false;
    // Set by the procedure: the parts the module accepted, in order, each with the reference
    // the module answered with ("+CMGS: <mr>"), -1 where the answer held none.
    uint8_t partCount = 0;
    int16_t references[kMostSubmitParts] = {};
};

// Where the GSM module routes status reports (AT+CNMI's <ds>) in this run.
enum class ReportRouting : uint8_t { Off, Stored, Refused };

// The parts of a concatenated message that wait in the module's store for the rest, and since
// when, so that a lost part cannot hold them there for ever.
struct WaitingGroup {
    bool inUse = false;
    bool wideReference = false;
    uint16_t reference = 0;
    uint8_t total = 0;
    char sender[32] = {};
    uint64_t sinceMs = 0;
};
constexpr size_t kMostWaitingGroups = 64;

// What a family's procedures work with while the service runs.
struct ModuleSession {
    ModuleSession(ModemChannel& channelToModule, Inbox& received, ErrorLog& failures,
                  Edition editionOfLibrary, DeliveryLog* reports = nullptr)
        : channel(channelToModule),
          inbox(received),
          errors(failures),
          edition(editionOfLibrary),
          deliveries(reports) {}
    ModuleSession(const ModuleSession&) = delete;
    ModuleSession& operator=(const ModuleSession&) = delete;

    ModemChannel& channel;
    Inbox& inbox;
    ErrorLog& errors;
    Edition edition;
    // The GSM service centre: the start-up argument (at most 19 bytes), or "card" until the
    // SIM's own number replaces it.
    char serviceCentre[20] = {};
    // Where status reports are matched; none where nobody asks for them.
    DeliveryLog* deliveries;

    // Switched on by the host; they outlive every run.
    ModuleOptions options;
    // The reference of the next concatenated message sent: it changes with every one, also
    // across runs, so a handset never joins the parts of two messages.
    uint8_t nextConcatenationReference = 0;

    // --- State of one run, which a family's set-up starts afresh ------------------------------
    SendRecord sending;
    ReportRouting reportRouting = ReportRouting::Off;
    WaitingGroup waitingGroups[kMostWaitingGroups];
    ModuleMemory memory;
    HeldMessages held;

    // True when a stop is to end the set-up before its next step: only the current edition
    // looks; the legacy edition runs its sequence to the end and notices a stop in the loop.
    bool StopEndsSetUp() const;
};

// How a family's set-up ended.
struct SetUpResult {
    enum class Outcome { Ready, Stopped, Failed };
    Outcome outcome;
    ErrorText failure;  // the text of a failed set-up; no meaning otherwise

    static SetUpResult Ready() { return {Outcome::Ready, ErrorText::InitPortFailed}; }
    static SetUpResult Stopped() { return {Outcome::Stopped, ErrorText::InitPortFailed}; }
    static SetUpResult Failed(ErrorText text) { return {Outcome::Failed, text}; }
};

enum class SimCheck { Asked, NotAsked };

class ModuleFamily {
  public:
    int32_t Code() const { return code_; }
    // The text of the model answer ("AT+GMM") that names the family; empty for the family
    // that serves every module no other family claims.
    const char* ModelToken() const { return modelToken_; }
    // Whether start-up asks the SIM ("AT+CPIN?") before the worker starts.
    SimCheck Sim() const { return sim_; }
    // Whether the family honours the options of ModuleOptions; one that does not sends and
    // receives as if they were off.
    bool TakesOptions() const { return takesOptions_; }

    // Brings the module into the state the send and receive procedures expect. Failed ends the
    // service with its text; a port failure is the caller's to handle.
    virtual SetUpResult SetUp(ModuleSession& session) const = 0;
    // Sends one message to number (which the procedure may rewrite into the form it sent), by
    // the family's procedure for the kind of text. True only when the module confirmed the
    // message; a failure leaves its text in the session's log, or none where the module simply
    // did not confirm. A text that does not convert from the host's code page fails before
    // anything is written.
    bool Send(ModuleSession& session, TextKind kind, const char* text, char (&number)[32]) const;
    // One poll of the module's store, handing what it holds to the inbox. False when a stop
    // was noticed and the worker is to end.
    virtual bool Receive(ModuleSession& session) const = 0;

  protected:
    virtual bool SendSingleByte(ModuleSession& session, const char* text,
                                char (&number)[32]) const = 0;
    virtual bool SendMultiByte(ModuleSession& session, const char* text,
                               char (&number)[32]) const = 0;

    constexpr ModuleFamily(int32_t code, const char* modelToken, SimCheck sim,
                           bool takesOptions = false)
        : code_(code), modelToken_(modelToken), sim_(sim), takesOptions_(takesOptions) {}
    ~ModuleFamily() = default;

  private:
    int32_t code_;
    const char* modelToken_;
    SimCheck sim_;
    bool takesOptions_;
};

// One step of a set-up: a command the module answers OK, and what its failure means.
enum class OnFailure { EndsService, IsRecorded };
struct SetUpStep {
    const char* command;
    OnFailure onFailure;
    ErrorText failure;
};

// Store families: deletes ("AT+CMGD") every held message whose records the host has
// acknowledged, where the latest listing showed it. A delete the module refuses or leaves
// unanswered keeps the message held until a listing shows it again (then it is deleted in the
// next step) or no longer shows it (then it is forgotten). False when a stop came first.
bool DeleteAcknowledged(ModuleSession& session);

// Runs the steps in order. A stop (StopEndsSetUp) ends the set-up before each step but the
// first, and before the first too when it is FirstStep::Checked. A step whose failure is
// recorded leaves its text in the session's log; the set-up goes on.
enum class FirstStep { Checked, Unchecked };
SetUpResult RunSetUpSteps(ModuleSession& session, const SetUpStep* steps, size_t count,
                          FirstStep first);
template <size_t N>
SetUpResult RunSetUpSteps(ModuleSession& session, const SetUpStep (&steps)[N], FirstStep first) {
    return RunSetUpSteps(session, steps, N, first);
}

}  // namespace tidewire

#endif

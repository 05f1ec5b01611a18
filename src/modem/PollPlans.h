// How the dialogues wait for a module's answer: the one vocabulary of verdicts, and every wait
// of every dialogue as one table of named plans, so that the cadence of the library reads in
// one place and a change to one wait cannot slip into another.
#ifndef TIDEWIRE_MODEM_POLLPLANS_H
#define TIDEWIRE_MODEM_POLLPLANS_H

#include <cstdint>

namespace tidewire {

// What a wait for an answer came to. A token test answers Pending to keep polling, or the
// verdict that ends the wait; TimedOut and Stopped are the reply poll's own endings.
enum class Verdict {
    Pending,     // nothing decided yet
    Accepted,    // what was asked for: OK, the prompt, the confirmation, a complete answer
    Refused,     // an error answer, or the family's word of refusal
    BufferFull,  // the answer outgrew the reply buffer before it ended
    TimedOut,    // the poll limit passed without a verdict
    Stopped,     // the running flag was found clear, by a plan that watches it
};

// Whether the answer's ASCII letters are upper-cased as they arrive, so that tokens match
// modules that answer in lower case. Raw UCS-2 bodies must be kept as they came.
enum class Letters { Kept, Upper };

// Whether a cleared running flag ends the wait. The store polls watch it, so a stop is noticed
// within one poll; a command exchange runs to its end, so that no command is left half-settled.
enum class OnStop { RunOn, End };

// One wait: the pause before every read, the limit L (at most L + 2 reads are made), and the
// two rules above.
struct PollPlan {
    uint32_t intervalMs;
    int limit;
    Letters letters;
    OnStop onStop;
};

// Every wait of every dialogue that reads an answer.
namespace plans {
// clang-format off
//                                       ms    limit letters         a stop
// A single command and its OK or ERROR; the model query at start-up.
constexpr PollPlan kCommandAnswer      = {200,   10,  Letters::Upper, OnStop::RunOn};
constexpr PollPlan kModelAnswer        = {200,   15,  Letters::Upper, OnStop::RunOn};
// GSM modules: the prompt and the verdict in text mode and in PDU mode, and the store listing.
constexpr PollPlan kTextModePrompt     = {200,   15,  Letters::Upper, OnStop::RunOn};
constexpr PollPlan kTextModeVerdict    = {300,   40,  Letters::Upper, OnStop::RunOn};
constexpr PollPlan kPduModePrompt      = {300,   10,  Letters::Upper, OnStop::RunOn};
constexpr PollPlan kPduModeVerdict     = {300,   50,  Letters::Upper, OnStop::RunOn};
constexpr PollPlan kGsmListing         = {300,   20,  Letters::Upper, OnStop::End};
// Type 870: the prompt, the verdict on a single-byte and on a raw UCS-2 body; the listing and
// each read, which share one poll counter.
constexpr PollPlan kType870Prompt      = {200,   15,  Letters::Upper, OnStop::RunOn};
constexpr PollPlan kType870TextVerdict = {300,   40,  Letters::Upper, OnStop::RunOn};
constexpr PollPlan kType870Ucs2Verdict = {300,   40,  Letters::Kept,  OnStop::RunOn};
constexpr PollPlan kType870Listing     = {500,   20,  Letters::Kept,  OnStop::End};
constexpr PollPlan kType870Read        = {300,   20,  Letters::Kept,  OnStop::End};
// Types 860 and 865: the acknowledgement of a send, and the answer holding the oldest message.
constexpr PollPlan kCdmaSendVerdict    = {300,   50,  Letters::Upper, OnStop::RunOn};
constexpr PollPlan kCdmaMessageAnswer  = {300,   10,  Letters::Kept,  OnStop::End};
// clang-format on
}  // namespace plans

// The pauses that wait without reading.
namespace pauses {
// The worker's rest between two cycles.
constexpr uint32_t kWorkerRestMs = 500;
// Before the one read of the SIM's service-centre answer.
constexpr uint32_t kServiceCentreAnswerMs = 1000;
// After the ESC that cancels an abandoned message entry, so the line carries it before the
// purge of the next command.
constexpr uint32_t kEscapeSettleMs = 200;
// While a module is away (its port failed, a USB modem pulled out): the wait between two
// attempts to reopen its port, in steps that each look at the running flag first, so that a
// stop ends the wait within one step. Three steps: an attempt every three seconds or so.
constexpr uint32_t kReconnectStepMs = 1000;
constexpr int kReconnectSteps = 3;
}  // namespace pauses

}  // namespace tidewire

#endif

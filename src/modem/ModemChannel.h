// The channel to a module: the port, the one sleep every wait goes through, and the exchange
// every dialogue is built from (purge and write, the single command, the reply poll), with the
// guard against a message entry a send may have left open. It knows nothing of families,
// queues or hosts: the family procedures talk through it, the service opens and closes it.
#ifndef TIDEWIRE_MODEM_MODEMCHANNEL_H
#define TIDEWIRE_MODEM_MODEMCHANNEL_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "modem/PollPlans.h"
#include "modem/ReplyBuffer.h"
#include "modem/ReplyPoll.h"
#include "serial/CSerialPort.h"

namespace tidewire {

// Every wait of a dialogue goes through this, so tests can make time pass faster (or not at
// all, with a scripted port) without changing a single poll count.
using SleepFunction = std::function<void(uint32_t milliseconds)>;

// Milliseconds on a steady clock, for what must age across cycles (parts of a long message
// waiting for the rest); tests move it themselves.
using ClockFunction = std::function<uint64_t()>;

class ModemChannel {
  public:
    // running is the service's flag: cleared, it ends the polls whose plan watches it.
    explicit ModemChannel(const std::atomic<bool>& running);
    ModemChannel(const ModemChannel&) = delete;
    ModemChannel& operator=(const ModemChannel&) = delete;

    CSerialPort& Port() { return port_; }
    bool IsOpen() const { return port_.IsOpen(); }

    // Null restores the real sleep.
    void SetSleepFunction(SleepFunction sleep);
    void Sleep(uint32_t milliseconds);
    // Null restores the real clock.
    void SetClockFunction(ClockFunction clock);
    uint64_t NowMs() const { return clock_(); }
    bool StopRequested() const { return !running_.load(); }

    // Every command of a dialogue goes out this way: whatever the module said before (late
    // answers, unsolicited lines) is purged first, so it cannot be read as part of this answer.
    void PurgeAndWrite(const char* text);
    void PurgeAndWrite(const uint8_t* bytes, size_t count);
    // Writes without purging first: for a command that follows an answer read to its end, or
    // one whose own answer the next command's purge may take.
    void Write(const char* text);

    // One command, then polls every 200 ms (at most 12) for expected (true) or error (false).
    // False at once on a closed port.
    bool SendAtCommand(const char* command, const char* expectedToken, const char* errorToken);
    // A command whose answer is read, not only judged: the same exchange, ending at an "OK" or
    // error line of its own; the answer is left in reply. Accepted, Refused or TimedOut.
    Verdict Ask(const char* command, ReplyBuffer& reply);

    // The reply poll every dialogue is built from: sleep, read what has arrived, append,
    // upper-case (when the plan asks), test. The test's first verdict other than Pending ends
    // the poll; TimedOut when the limit passed, Stopped when the plan watches the running flag
    // and found it clear.
    Verdict ReplyPoll(ReplyBuffer& reply, const PollPlan& plan, PollTest test);
    // The same with a poll counter that several polls of one procedure share.
    Verdict ReplyPoll(ReplyBuffer& reply, const PollPlan& plan, int& sharedCounter, PollTest test);

    // The guard against an abandoned message entry. Once a send has asked the module to take a
    // message ("AT+CMGS") the entry may be open: its prompt came too late, the text was lost, or
    // the port failed in between, and the module would take the next commands as that text.
    // A verdict that is an answer of the module (not TimedOut, not Stopped) settles it.
    void BeginEntry() { entryMayBeOpen_ = true; }
    void SettleEntry(Verdict verdict);
    // Writes ESC while the entry may be open, and pauses for the line to carry it.
    void CancelAbandonedEntry();

  private:
    const std::atomic<bool>& running_;
    CSerialPort port_;
    SleepFunction sleep_;
    ClockFunction clock_;
    // Used only by the thread that talks to the port.
    bool entryMayBeOpen_ = false;
};

}  // namespace tidewire

#endif

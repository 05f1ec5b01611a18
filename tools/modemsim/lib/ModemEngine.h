// The simulated module itself, without any I/O: bytes from the host go in, the module's answer
// (echo included) comes out. A controller can, from any thread, put messages into its store,
// see what the host sent, read the command log and switch faults on and off.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ModemFamily.h"
#include "ModemState.h"
#include "ModemTypes.h"

namespace tidewire::sim {

class ModemEngine {
  public:
    // Throws std::invalid_argument for an unknown family or an unusable store size.
    explicit ModemEngine(const ModemConfig& config = {});
    ~ModemEngine();
    ModemEngine(const ModemEngine&) = delete;
    ModemEngine& operator=(const ModemEngine&) = delete;

    // --- The line ---
    // Takes the host's bytes and returns what the module answers to them.
    std::string Feed(std::string_view bytesFromHost);
    // Indications (such as +CMTI) waiting for the line to be idle; "" while the host is in the
    // middle of a command line or a message body.
    std::string TakeUnsolicited();
    // How long until the next status report falls due: zero when one is due now, nothing when
    // none waits on a timer. Due reports reach the module at its next Feed or TakeUnsolicited,
    // so a transport looks at TakeUnsolicited again after this long (PtyModem does).
    std::optional<std::chrono::milliseconds> TimeToNextStatusReport() const;
    // Called, without the engine's lock held, when an indication starts waiting.
    void SetUnsolicitedNotifier(std::function<void()> notifier);

    int Family() const;
    std::string ModelText() const;
    // Switched on again, as a module that was unplugged and plugged back in: its settings are
    // back at their power-on values (as after ATZ, vendor settings included), and a command line,
    // message body or indication it had not finished is gone. The store, the SIM, what it sent
    // and the faults stay.
    void PowerOn();

    // --- Messages ---
    InjectResult Inject(const IncomingMessage& message);
    // Chosen parts of a long text, each delivered on its own in the order given (indexes in
    // that order). Refuses a text that fits one message, a part the text does not have and a
    // reference wider than its element; stores every chosen part or none.
    InjectResult InjectParts(const IncomingMessage& message, const PartSelection& selection);
    // A PDU as a module lists it (service-centre part first): an SMS-DELIVER is stored; an
    // SMS-STATUS-REPORT is stored or indicated as the network's status reports are (AT+CNMI's
    // <ds>). With requireDeliver off any hex is stored as it is, to see how a host copes with a
    // damaged or foreign PDU.
    InjectResult InjectPdu(std::string_view hex, bool requireDeliver = true);
    std::vector<SentMessage> SentMessages() const;
    // True once at least `count` messages have been sent, false at the timeout.
    bool WaitForSent(std::size_t count, std::chrono::milliseconds timeout) const;
    void ClearSentMessages();
    std::vector<StoredMessage> StoreContents() const;
    int StoreCount() const;
    void ClearStore();

    // --- Commands ---
    // Every command line received, as the host wrote it without the final CR.
    std::vector<std::string> CommandLog() const;
    // True once a command line starting with `prefix` (any letter case) has been received.
    bool WaitForCommand(std::string_view prefix, std::chrono::milliseconds timeout) const;
    void ClearCommandLog();

    // --- Faults and settings ---
    FaultSettings Faults() const;
    void SetFaults(const FaultSettings& faults);
    void ClearFaults();
    void SetSilent(bool silent);
    // Command lines starting with the prefix (any letter case) are answered ERROR.
    void AddErrorFor(std::string_view commandPrefix);
    void RemoveErrorFor(std::string_view commandPrefix);
    void SetNoEcho(bool noEcho);
    void SetLowerCaseReplies(bool lowerCase);
    void SetGarbage(std::string garbageBytes);
    void SetSendFailure(bool failSends);
    void SetChunking(std::size_t chunkBytes, std::chrono::milliseconds delay);
    void SetLineSpeed(int bytesPerSecond);
    // See FaultSettings: a line put in the middle of every reply, and a delay of every reply.
    void SetInterjection(std::string indicationLine);
    void SetReplyDelay(std::chrono::milliseconds delay);
    void SetSimPresent(bool present);
    void SetServiceCentre(std::string number);
    // What the network does with the next sends that ask for a status report: answer this
    // long after the send, with this TP-Status (0x00 delivered, 0x41 failed, 0x46 expired, ...).
    void SetStatusReportDelay(std::chrono::milliseconds delay);
    void SetStatusReportOutcome(std::uint8_t tpStatus);

    void SetTrafficObserver(TrafficObserver observer);

  private:
    std::string FeedByte(char byte);
    std::string FeedRawUcs2Byte(char byte);
    std::string ExecuteLine(const std::string& line);
    void LogLine(const std::string& line);
    std::string FinishEntry(bool cancelled);
    std::string Reply(const std::string& text) const;
    std::string FormatResult(const CommandResult& result) const;
    InjectResult StoreLocked(const std::vector<std::string>& pdus);
    void ReleaseDueReportsLocked();
    bool EchoOn() const;
    void Observe(TrafficDirection direction, std::string_view bytes) const;
    void Notify();

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::unique_ptr<ModemFamily> family_;
    ModemState state_;
    std::string line_;
    bool lineOverflow_ = false;
    bool inEntry_ = false;
    TextEntry entry_;
    std::string body_;
    bool bodyOverflow_ = false;
    std::size_t entryBytes_ = 0;  // bytes of a raw UCS-2 body so far, terminator included
    char previousEntryByte_ = 0;

    mutable std::mutex callbackMutex_;
    TrafficObserver observer_;
    std::function<void()> notifier_;
};

}  // namespace tidewire::sim

// An in-memory modem line for tests, modelled poll by poll: what arrives in each read, what the
// "modem" answers to each written command, which call fails, and a log of everything the code
// under test did to the port. Faults are injected the way a fault-injecting VFS does it: the
// n-th call of a kind fails, once or from then on.
#ifndef TIDEWIRE_TESTS_SUPPORT_SCRIPTEDSERIALDEVICE_H
#define TIDEWIRE_TESTS_SUPPORT_SCRIPTEDSERIALDEVICE_H

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/SerialDevice.h"

// Everything is guarded by one lock, so a worker thread can poll the device while the test
// thread scripts and inspects it. Responders run under that lock and may call back into the
// device (Arrive, OnWrite, the accessors).
class ScriptedSerialDevice final : public tidewire::SerialDevice {
  public:
    // Called with the written block; typically calls device.Arrive(...).
    using Responder = std::function<void(const std::string& written, ScriptedSerialDevice& device)>;

    // The device, ready to hand to CSerialPort or SmsService, and a pointer for the test to keep.
    static std::pair<std::unique_ptr<tidewire::SerialDevice>, ScriptedSerialDevice*> Make();

    ScriptedSerialDevice() = default;
    ScriptedSerialDevice(const ScriptedSerialDevice&) = delete;
    ScriptedSerialDevice& operator=(const ScriptedSerialDevice&) = delete;

    // --- The line, as the code under test sees it ---------------------------------------------
    // Open and Close behave like a port's: opening an open device closes it first ("close",
    // then "open:<path>"); closing a closed one does nothing and logs nothing.
    void Open(const char* path, const tidewire::LineSettings& settings) override;
    void Close() noexcept override;
    bool IsOpen() const noexcept override;
    void SetImmediateReadTimeouts() override;
    void CheckConfiguration() override;
    // One read is one poll: it takes the front arrival (at most count bytes of it; the rest stays
    // at the front for the next read). An empty arrival, or none queued, reads nothing.
    uint32_t Read(uint8_t* buffer, uint32_t count) override;
    // Records the block, then lets the first matching responder answer it.
    uint32_t Write(const uint8_t* buffer, uint32_t count) override;
    // Discards every arrival still queued, as a real purge discards a modem's leftovers.
    void PurgeInput() override;
    // Only logged: nothing written here is ever pending.
    void PurgeOutput() override;
    // On a closed device Read and Write return 0, are not logged and count as no call;
    // the purges and the two configuration calls throw EBADF, as a closed descriptor would.

    // --- The script ---------------------------------------------------------------------------
    // Appends arrivals, one per read: {"AT\r", "", "OK\r\n"} is an echo in the first poll,
    // nothing in the second and the verdict in the third.
    void Arrive(std::vector<std::string> chunksPerPoll);
    // Answers written blocks. For each written block the rules are tried in the order they were
    // added and only the first one whose trigger occurs in the block fires (an empty trigger
    // matches every block); a rule added with ...Once is spent after firing. So a once-rule
    // placed before a lasting rule with the same trigger answers the first time only, and a
    // catch-all added last answers whatever no earlier rule did.
    void OnWrite(std::string trigger, std::vector<std::string> chunksPerPoll);
    void OnWriteOnce(std::string trigger, std::vector<std::string> chunksPerPoll);
    void OnWrite(std::string trigger, Responder responder);
    void OnWriteOnce(std::string trigger, Responder responder);
    // The general form: sees every written block that no earlier rule answered.
    void OnWrite(Responder responder);

    // --- Faults ---------------------------------------------------------------------------------
    // Calls are counted from 1 per kind (reads, writes, purges of either direction together,
    // only calls on an open device). At call n (and, when persistent, at every call after it)
    // the device throws CSerialException(errorCode) and does nothing else: a failed read takes
    // no arrival, a failed write is not recorded and answers nothing, a failed purge keeps the
    // arrivals. Failures are logged as "<kind>-error:<code>" (kind: open, read, write,
    // purge-in, purge-out, timeouts, config). Setting a fault again replaces the previous one.
    void FailReadAt(uint32_t n, bool persistent = false, uint32_t errorCode = EIO);
    void FailWriteAt(uint32_t n, bool persistent = false, uint32_t errorCode = EIO);
    void FailPurgeAt(uint32_t n, bool persistent = false, uint32_t errorCode = EIO);
    // From now on every Open fails with errorCode and leaves the device closed, like a port
    // that is missing or held by another program; 0 lets opens succeed again.
    void FailOpen(uint32_t errorCode = ENOENT);
    // From now on CheckConfiguration fails with errorCode; 0 lets it succeed again.
    void FailConfiguration(uint32_t errorCode = EIO);
    // From now on SetImmediateReadTimeouts fails with errorCode; 0 lets it succeed again.
    void FailReadTimeouts(uint32_t errorCode = EIO);

    // --- What happened -------------------------------------------------------------------------
    // "open:<path>", "close", "purge-in", "purge-out", "write:<bytes>", "read:<bytes>" (an empty
    // read is "read:"), "timeouts", "config", and the failures above, in call order.
    std::vector<std::string> Events() const;
    std::vector<std::string> Writes() const;
    std::string WrittenText() const;
    // Reads that returned, with or without bytes: the polls the code under test made.
    size_t ReadCount() const;
    // Events of one kind: "purge-in" counts "purge-in", "write" counts every "write:...".
    size_t Count(const std::string& kind) const;
    size_t PendingArrivals() const;
    std::string OpenedPath() const;
    tidewire::LineSettings OpenedSettings() const;
    void ClearEvents();

    // Waits until condition() holds, re-testing it whenever the device is used or scripted.
    // condition runs under the device's lock and may call its accessors. False on timeout.
    // Not for use inside a responder, which already holds the lock.
    bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

  private:
    struct Rule {
        std::string trigger;
        std::vector<std::string> chunks;
        Responder responder;
        bool once = false;
        bool spent = false;
    };
    struct Fault {
        uint32_t at = 0;  // 0: none
        bool persistent = false;
        uint32_t errorCode = EIO;
        uint32_t calls = 0;

        // Counts one call and tells whether it is to fail.
        bool Strikes();
    };

    void Log(std::string event);
    void ThrowLogged(const char* kind, uint32_t errorCode);
    void AddRule(std::string trigger, std::vector<std::string> chunks, Responder responder,
                 bool once);
    void RespondTo(const std::string& written);
    void ThrowIfClosed() const;

    mutable std::recursive_mutex lock_;
    std::condition_variable_any changed_;
    bool open_ = false;
    std::string path_;
    tidewire::LineSettings settings_;
    std::deque<std::string> arrivals_;
    std::vector<Rule> rules_;
    std::vector<std::string> events_;
    std::vector<std::string> writes_;
    Fault readFault_;
    Fault writeFault_;
    Fault purgeFault_;
    uint32_t openError_ = 0;
    uint32_t configurationError_ = 0;
    uint32_t readTimeoutsError_ = 0;
};

// Tests written inside the library's namespace may name it either way.
namespace tidewire {
using ::ScriptedSerialDevice;
}  // namespace tidewire

#endif

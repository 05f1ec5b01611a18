// The one service object of a loaded library: start and stop, the worker's life, the host's
// calls on the queues, the last error and what is known of the module. It holds no modem dialogue:
// start-up identifies the module's family through the family table, and the worker hands every step
// to that family, which talks through the channel and reports through the session. Each export
// table owns one global instance, built for its edition.
#ifndef TIDEWIRE_API_SMSSERVICE_H
#define TIDEWIRE_API_SMSSERVICE_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "api/LastError.h"
#include "api/MessageQueues.h"
#include "api/ModuleInfo.h"
#include "base/Edition.h"
#include "base/ErrorTexts.h"
#include "family/ModuleFamily.h"
#include "modem/ModemChannel.h"
#include "platform/SerialDevice.h"

namespace tidewire {

class SmsService {
  public:
    explicit SmsService(Edition edition);
    ~SmsService();
    SmsService(const SmsService&) = delete;
    SmsService& operator=(const SmsService&) = delete;

    Edition GetEdition() const { return edition_; }

    // --- Bodies of the exports -------------------------------------------------------------
    int32_t StartService(int32_t portNumber, const LineSettings& settings,
                         const char* serviceCentreArgument);
    int32_t StartServiceOnDevice(const char* devicePath, const LineSettings& settings,
                                 const char* serviceCentreArgument);
    int32_t StopService();
    uint8_t ServiceStarted() const { return running_.load() ? 1 : 0; }
    int32_t SendMessage(const char* text, const char* number);
    int32_t Report(char* buffer) { return queues_.TakeReport(buffer) ? 1 : 0; }
    int32_t Query(int32_t id) { return queues_.Query(id); }
    int32_t GetNextMessage(char* buffer) { return queues_.TakeReceived(buffer) ? 1 : 0; }
    // The oldest record and its receipt (0 for one that is not held; receipt may be null, and
    // the record is then acknowledged at once).
    int32_t GetNextMessageEx(char* buffer, int32_t* receipt) {
        return queues_.TakeReceived(buffer, receipt) ? 1 : 0;
    }
    // The host has the record with this receipt safe: its message leaves the module in the
    // worker's next receive step. Never waits for the module.
    int32_t AcknowledgeMessage(int32_t receipt) { return queues_.Acknowledge(receipt); }
    int32_t GetLastError(char* buffer, int32_t length) { return lastError_.Get(buffer, length); }
    // Legacy form: the whole text and its NUL; the buffer must hold 1024 bytes.
    int32_t GetLastErrorLegacy(char* buffer) { return lastError_.GetWhole(buffer); }
    // Appends the modem dialogue to the file at path; null or empty turns it off. 1 on success,
    // 0 when the file cannot be opened (the trace then stays as it was). The last error is not
    // touched: it belongs to the messaging calls, and a trace may be moved at any time.
    int32_t SetTraceFile(const char* path) { return channel_.Port().Trace().SetFile(path) ? 1 : 0; }
    // The number of the last-error text (tidewire_errors.h); 0 while there is none.
    int32_t GetLastErrorCode() { return lastError_.GetCode(); }
    // The family once the worker of the latest start-up has set the module up, else 0; copies
    // the model text the module gave at that start-up.
    int32_t GetModuleInfo(char* model, int32_t length) { return moduleInfo_.Get(model, length); }
    // How many times the worker has read the module's store since the latest start-up.
    int32_t GetReceivePolls() const { return moduleInfo_.ReceivePolls(); }
    // Switches an option of ModuleOptions by its name ("long-messages", "delivery-reports",
    // "reassembly-seconds", "hold-received"). 1 when taken; 0 for an unknown name, a value out
    // of range, or an option the running module's family cannot honour. The last error is not
    // touched.
    int32_t SetOption(const char* name, int32_t value);
    // 1 delivered, 0 failed or expired, -1 not known (yet), for a message that asked for status
    // reports; -1 for any other.
    int32_t QueryDelivery(int32_t id) { return queues_.QueryDelivery(id); }

    // --- Tests and tools -------------------------------------------------------------------------
    // Every wait of the dialogues and of the worker's rest goes through sleep; null restores the
    // real one. Set while the service is idle.
    void SetSleepFunction(SleepFunction sleep) { channel_.SetSleepFunction(std::move(sleep)); }
    // The clock that ages parts of long messages waiting in the store; null restores the real
    // one. Set while the service is idle.
    void SetClockFunction(ClockFunction clock) { channel_.SetClockFunction(std::move(clock)); }
    // The serial device the port opens (a scripted line, a counting one) in place of the
    // platform's; null restores the platform's. Set while the service is idle.
    void UseDevice(std::unique_ptr<SerialDevice> device) {
        channel_.Port().SetDevice(std::move(device));
    }
    bool PortIsOpen() const { return channel_.IsOpen(); }
    // True from the moment a start-up claims the service until that start-up fails or its
    // worker has ended; another start-up is refused meanwhile.
    bool Started() const { return started_.load(); }
    MessageQueues& Queues() { return queues_; }

  private:
    // Where and how start-up opened the port: the worker reopens the same device with the same
    // settings when the module comes back after its port failed.
    struct Line {
        bool byNumber = true;
        int32_t portNumber = 0;
        std::string path;
        LineSettings settings;
    };

    int32_t StartOn(const char* devicePath, int32_t portNumber, const LineSettings& settings,
                    const char* serviceCentreArgument);
    // Opens the port on line_ as start-up configures it. False, with "串口打开错误" and the
    // system's reason left and the port closed, when the system refuses.
    bool OpenLine();
    // Runs one dialogue with the module; false, with its text left, when it failed or the port
    // failed in the middle of it. Also false, with no text and nothing written, when a stop
    // came before it.
    bool ModuleDialogue(FunctionRef<bool()> step, ErrorText failure);
    // The dialogues that tell a module is there and which it is: the probe, the family, the SIM
    // where the family has one. The family, or null when a dialogue failed or a stop came.
    const ModuleFamily* GreetModule();
    void ReleaseFinishedWorker();
    bool StopRequested() const { return !running_.load(); }

    // --- The worker (Worker.cpp) ---------------------------------------------------------------
    // How the family's set-up ended for the worker; each but Ready and Stopped left its text.
    enum class SetUpEnd { Ready, Stopped, Refused, PortFailed };

    void WorkerMain();
    SetUpEnd SetUpModule();
    // Rest, send, poll the store, until a stop (or a receive that noticed one).
    void RunCycles();
    // Sends the oldest queued message, if any, and records its outcome.
    void SendStep();
    // After a port failure: closes the port and, until the module is back (the same device,
    // the same family, its SIM, its set-up done), reopens it every few seconds. False when a
    // stop ended the wait.
    bool Reconnect();
    // One attempt of Reconnect; true once the module is back and set up.
    bool ReopenModule();
    // The worker's way out: messages refused, flags cleared, port closed.
    void EndPath();

    const Edition edition_;
    // Read without a lock by the host's calls and by the worker. `running` is what the host
    // sees as started; `started` is set while a start-up or its worker holds the service.
    std::atomic<bool> running_{false};
    std::atomic<bool> started_{false};
    // The port and the dialogue primitives; its polls watch `running`.
    ModemChannel channel_{running_};
    MessageQueues queues_;
    LastError lastError_;
    ModuleInfo moduleInfo_;
    // The family start-up identified, and what its procedures work with; both written by a
    // start-up before it starts the worker that reads them.
    const ModuleFamily* family_ = nullptr;
    // The same family for the host's threads, from its identification until the service ends:
    // options it cannot honour are refused meanwhile.
    std::atomic<const ModuleFamily*> runningFamily_{nullptr};
    ModuleSession session_{channel_, queues_, lastError_, edition_, &queues_};
    // Written by a start-up before its worker exists, read by that worker.
    Line line_;
    // Held by a start-up from the moment it claims the service until it returns; a stop of
    // the current edition waits for it, so both calls agree on whether the service runs.
    std::mutex startupLock_;
    // Guards the worker's thread object between a start-up and a stop on different host threads.
    std::mutex threadLock_;
    std::thread workerThread_;
};

}  // namespace tidewire

#endif

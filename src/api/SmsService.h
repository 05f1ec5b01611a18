// The one service object of a loaded library: the port, the flags, the queues and the worker
// that owns the modem. Each export table owns one global instance, built for its edition.
#ifndef TIDEWIRE_API_SMSSERVICE_H
#define TIDEWIRE_API_SMSSERVICE_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "api/RecordQueue.h"
#include "base/Edition.h"
#include "base/ErrorTexts.h"
#include "family/ModuleFamily.h"
#include "modem/ModemChannel.h"
#include "tidewire_records.h"

namespace tidewire {

class SmsService : private Inbox, private ErrorLog {
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
    uint8_t ServiceStarted() const { return running.load() ? 1 : 0; }
    int32_t SendMessage(const char* text, const char* number);
    int32_t Report(char* buffer);
    int32_t Query(int32_t id);
    int32_t GetNextMessage(char* buffer);
    int32_t GetLastError(char* buffer, int32_t length);
    // Legacy form: the whole text and its NUL; the buffer must hold 1024 bytes.
    int32_t GetLastErrorLegacy(char* buffer);
    // Appends the modem dialogue to the file at path; null or empty turns it off. 1 on success,
    // 0 when the file cannot be opened (the trace then stays as it was). The last error is not
    // touched: it belongs to the messaging calls, and a trace may be moved at any time.
    int32_t SetTraceFile(const char* path) { return channel.Port().Trace().SetFile(path) ? 1 : 0; }

    // --- Last error --------------------------------------------------------------------------
    void SetLastError(ErrorText error);
    // The error's text followed by detail, which is already host text (a system message).
    void SetLastError(ErrorText error, const char* hostDetail);
    void ClearLastError();

    // --- Worker --------------------------------------------------------------------------------
    static void WorkerMain(SmsService* service);

    // --- Test and tool hooks -------------------------------------------------------------------
    void SetSleepFunction(SleepFunction sleep) { channel.SetSleepFunction(std::move(sleep)); }

    // --- Fields ----------------------------------------------------------------------------------
    // Flags read without a lock by the host's calls and by the worker.
    std::atomic<bool> running{false};
    // The port and the dialogue primitives; its polls watch `running`.
    ModemChannel channel{running};
    std::thread workerThread;
    // Room for reportQueue.size() + outgoingQueue.size() records is kept in reportQueue, so
    // the worker's move of a finished message never allocates.
    RecordQueue<OutgoingMessage> reportQueue;
    RecordQueue<OutgoingMessage> outgoingQueue;
    ResultTable resultMap;
    RecordQueue<ReceivedMessage> receivedQueue;
    // Guards outgoingQueue, reportQueue, resultMap, nextId and acceptingMessages. Taken before
    // receivedLock when both are needed.
    std::mutex queueLock;
    std::mutex receivedLock;
    int32_t nextId = 0;
    std::atomic<bool> started{false};

  private:
    int32_t StartOn(const char* devicePath, int32_t portNumber, const LineSettings& settings,
                    const char* serviceCentreArgument);
    // Runs one dialogue of the start-up; a failure (or a port failure in the middle of it)
    // leaves its text and the service idle with its port closed.
    bool StartupDialogue(FunctionRef<bool()> step, ErrorText failure);
    void ReleaseFinishedWorker();
    bool StopRequested() const { return !running.load(); }
    // The worker's way out: flags cleared, port closed.
    void EndPath();
    void SendStep();
    bool SendOne(OutgoingMessage& message);
    bool ReceiveOne();
    void FinishMessage(const OutgoingMessage& message, bool sent);
    // The family's set-up; false when the worker must end, the end path then already run.
    bool SetUpModule();
    // Inbox and ErrorLog, for the family's procedures.
    void Take(const ReceivedMessage& record) override;
    void Record(ErrorText error) override { SetLastError(error); }

    const Edition edition_;
    // The family start-up identified; read by the worker it then starts.
    const ModuleFamily* family_ = nullptr;
    ModuleSession session_{channel, *this, *this, edition_, {}};
    // Set once a start-up has succeeded; a message is accepted only then, so none is accepted
    // by a start-up in progress and then discarded by it. Guarded by queueLock.
    bool acceptingMessages_ = false;
    // Guards the worker's thread object between a start-up and a stop on different host threads.
    std::mutex threadLock_;
    // lastError and errorBuffer, guarded by lastErrorLock_ so a copy is never half old, half new.
    std::mutex lastErrorLock_;
    char lastError_[1024] = {};
    char errorBuffer_[1024] = {};
};

}  // namespace tidewire

#endif

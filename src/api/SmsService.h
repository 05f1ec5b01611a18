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

#include "api/ErrorTexts.h"
#include "api/RecordQueue.h"
#include "modem/ModemChannel.h"
#include "tidewire_records.h"

namespace tidewire {

// The two shipped builds. The legacy edition serves older hosts: seven exports, no type 870,
// a stop that does not wait, and fewer tests of the running flag in the worker.
enum class Edition { Current, Legacy };

// Module families, told apart by the answer to "AT+GMM".
enum ModuleType : int32_t {
    kModuleUnknown = 0,
    kModuleGsm = 666,  // GSM command set (27.005)
    kModule870 = 870,  // CDMA, text-mode command set with AT+ZMSGL
    kModule865 = 865,  // CDMA, at$smsmo / at$smsmt=1?
    kModule860 = 860,  // CDMA, at$smsmo0 / at$smsmt0? / at$delmt
};

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

    // --- Start-up and set-up dialogues ------------------------------------------------------
    // Asks the SIM for its service-centre number and keeps it in serviceCentre.
    void QueryServiceCentre();
    bool DetectModuleType();
    // Returns false when the worker must end; the end path has then already run.
    bool InitialiseModule();

    // --- Worker --------------------------------------------------------------------------------
    static void WorkerMain(SmsService* service);

    // --- Sending and receiving, one procedure per family and text kind -------------------------
    bool SendGsmText(const char* text, char (&number)[32]);
    bool SendGsmPdu(const char* text, char (&number)[32]);
    bool Send870SingleByte(const char* text, char (&number)[32]);
    bool Send870MultiByte(const char* text, char (&number)[32]);
    // messageEncoding: 2 for single-byte text, 4 for UCS-2.
    bool SendCdmaMessage(const char* text, char (&number)[32], int messageEncoding);
    bool SendCdmaSingleByte(const char* text, char (&number)[32]) {
        return SendCdmaMessage(text, number, 2);
    }
    bool SendCdmaMultiByte(const char* text, char (&number)[32]) {
        return SendCdmaMessage(text, number, 4);
    }
    bool ReceiveGsmMessages();
    bool Receive870Messages();
    bool ReceiveCdmaMessages();
    // Queues one received record under receivedLock.
    void QueueReceived(const char* text, const char* sender, const char* timestamp);

    // --- Test and tool hooks -------------------------------------------------------------------
    void SetSleepFunction(SleepFunction sleep) { channel.SetSleepFunction(std::move(sleep)); }

    // --- Fields ----------------------------------------------------------------------------------
    // Flags read without a lock by the host's calls and by the worker.
    std::atomic<bool> running{false};
    // The port and the dialogue primitives; its polls watch `running`.
    ModemChannel channel{running};
    // The service-centre argument (at most 19 bytes), or "card" until the SIM's number is read.
    char serviceCentre[20] = {};
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
    std::atomic<int32_t> moduleType{kModuleUnknown};

  private:
    int32_t StartOn(const char* devicePath, int32_t portNumber, const LineSettings& settings,
                    const char* serviceCentreArgument);
    bool StartupDialogue(bool (SmsService::*step)(), ErrorText failure);
    bool ProbeModule();
    bool CheckSim();
    void ReleaseFinishedWorker();
    bool StopRequested() const { return !running.load(); }
    // The worker's way out: flags cleared, port closed.
    void EndPath();
    void SendStep();
    bool SendOne(OutgoingMessage& message);
    bool ReceiveOne();
    void FinishMessage(const OutgoingMessage& message, bool sent);
    void EndAfterFatalInit(ErrorText error);
    // Type 870: "AT+CMGS" for number, then the echo and prompt thrown away unread; remnant gets
    // that echo and prompt, whose tail may still arrive after the purge.
    void Open870TextEntry(const char* number, char (&remnant)[128]);

    const Edition edition_;
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

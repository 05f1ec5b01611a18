// Bringing the service from idle to running on the host's thread, and stopping it again.
#include <cstring>
#include <system_error>

#include "api/SmsService.h"
#include "codec/BoundedCopy.h"
#include "family/FamilyTable.h"
#include "modem/CommandText.h"

namespace tidewire {

namespace {

// Queued records a host usually leaves between two of its polls.
constexpr size_t kUsualQueueDepth = 64;

}  // namespace

int32_t SmsService::StartService(int32_t portNumber, const LineSettings& settings,
                                 const char* serviceCentreArgument) {
    return StartOn(nullptr, portNumber, settings, serviceCentreArgument);
}

int32_t SmsService::StartServiceOnDevice(const char* devicePath, const LineSettings& settings,
                                         const char* serviceCentreArgument) {
    // A null or empty path names no device: the open fails with the system's own text.
    return StartOn(devicePath != nullptr ? devicePath : "", 0, settings, serviceCentreArgument);
}

void SmsService::ReleaseFinishedWorker() {
    // A worker that ended by itself (a failed initialisation) still has its thread object; it
    // has cleared `started`, so it is at most closing the port on its way out. Waiting for it
    // here keeps it from closing the port this start-up is about to open.
    std::thread finished;
    {
        std::lock_guard<std::mutex> hold(threadLock_);
        finished = std::move(workerThread);
    }
    if (finished.joinable()) {
        finished.join();
    }
}

bool SmsService::StartupDialogue(FunctionRef<bool()> step, ErrorText failure) {
    bool passed = false;
    try {
        passed = step();
    } catch (const CSerialException&) {
        // The port failed in the middle of the dialogue: the step fails with its own text.
        passed = false;
    }
    if (!passed) {
        SetLastError(failure);
        running.store(false);
        channel.Port().Close();
        started.store(false);
    }
    return passed;
}

int32_t SmsService::StartOn(const char* devicePath, int32_t portNumber,
                            const LineSettings& settings, const char* serviceCentreArgument) {
    if (started.load()) {
        SetLastError(ErrorText::AlreadyStarted);
        return 0;
    }
    // The service centre is checked before anything is claimed or opened, so a bad argument
    // leaves the service exactly as it was.
    const size_t centreLength = BoundedLength(serviceCentreArgument, sizeof session_.serviceCentre);
    if (centreLength > sizeof session_.serviceCentre - 1) {
        SetLastError(ErrorText::ServiceCentreTooLong);
        return 0;
    }
    if (!FitsQuotedArgument(serviceCentreArgument, centreLength)) {
        SetLastError(ErrorText::ServiceCentreMalformed);
        return 0;
    }
    bool expected = false;
    if (!started.compare_exchange_strong(expected, true)) {
        SetLastError(ErrorText::AlreadyStarted);
        return 0;
    }
    // Messages are refused until this start-up has emptied the queues and started its worker;
    // the flag is cleared before `running` is set, so no message slips in between.
    {
        std::lock_guard<std::mutex> hold(queueLock);
        acceptingMessages_ = false;
    }
    // A worker that ended by itself, or after a stop that did not wait, clears `running` as its
    // very last step, after `started`: it is waited for before `running` is set, or it would
    // clear the flag of this start-up and leave a service that answered 1 but refuses to work.
    ReleaseFinishedWorker();
    running.store(true);
    ClearLastError();

    try {
        if (devicePath != nullptr) {
            channel.Port().OpenPath(devicePath, settings);
        } else {
            channel.Port().Open(portNumber, settings);
        }
        channel.Port().SetImmediateReadTimeouts();
        channel.Port().GetConfig();
    } catch (const CSerialException& failure) {
        char systemText[512];
        failure.GetErrorText(systemText, sizeof systemText);
        SetLastError(ErrorText::PortOpenFailed, systemText);
        // A port that opened but could not be configured is closed again, so it is not left
        // held exclusively until the next start-up.
        channel.Port().Close();
        started.store(false);
        running.store(false);
        return 0;
    }

    std::memset(session_.serviceCentre, 0, sizeof session_.serviceCentre);
    BoundedCopy(session_.serviceCentre, serviceCentreArgument);

    {
        std::lock_guard<std::mutex> holdQueues(queueLock);
        std::lock_guard<std::mutex> holdReceived(receivedLock);
        // Fresh queues with room for a usual depth, so the worker's first cycles do not
        // allocate; whatever an earlier run left unread is given back.
        outgoingQueue.Reset(kUsualQueueDepth);
        reportQueue.Reset(kUsualQueueDepth);
        resultMap.Reset();
        receivedQueue.Reset(kUsualQueueDepth);
        nextId = 0;
    }

    if (!StartupDialogue([&] { return ProbeModule(channel); }, ErrorText::NoDeviceOrBaud)) {
        return 0;
    }
    const ModuleFamily* identified = nullptr;
    const auto identify = [&] {
        identified = IdentifyFamily(channel, edition_);
        return identified != nullptr;
    };
    if (!StartupDialogue(identify, ErrorText::UnknownModule)) {
        return 0;
    }
    family_ = identified;
    if (family_->Sim() == SimCheck::Asked &&
        !StartupDialogue([&] { return CheckSim(channel); }, ErrorText::NoDeviceOrSim)) {
        return 0;
    }

    try {
        std::lock_guard<std::mutex> hold(threadLock_);
        workerThread = std::thread(&SmsService::WorkerMain, this);
    } catch (const std::system_error&) {
        SetLastError(ErrorText::WorkerNotStarted);
        running.store(false);
        started.store(false);
        channel.Port().Close();
        return 0;
    }
    {
        std::lock_guard<std::mutex> hold(queueLock);
        acceptingMessages_ = true;
    }
    return 1;
}

int32_t SmsService::StopService() {
    if (edition_ == Edition::Legacy) {
        // Older hosts expect the stop to return at once; the worker ends by itself at its next
        // look at the flag, and the next start-up waits for its thread.
        running.store(false);
        return 1;
    }
    running.store(false);
    // The thread lock is held until the worker has ended, so a stop from a second host thread
    // waits for the same worker instead of finding no thread and returning while it still runs.
    // The worker never takes this lock.
    std::lock_guard<std::mutex> hold(threadLock_);
    std::thread worker = std::move(workerThread);
    if (worker.joinable()) {
        if (worker.get_id() == std::this_thread::get_id()) {
            worker.detach();
        } else {
            worker.join();
        }
    }
    return 1;
}

}  // namespace tidewire

// Bringing the service from idle to running on the host's thread, and stopping it again.
#include <cstring>
#include <system_error>

#include "api/SmsService.h"
#include "base/BoundedCopy.h"
#include "family/FamilyTable.h"
#include "modem/CommandText.h"

namespace tidewire {

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
        finished = std::move(workerThread_);
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
        lastError_.Set(failure);
        running_.store(false);
        channel_.Port().Close();
        started_.store(false);
    }
    return passed;
}

int32_t SmsService::StartOn(const char* devicePath, int32_t portNumber,
                            const LineSettings& settings, const char* serviceCentreArgument) {
    if (started_.load()) {
        lastError_.Set(ErrorText::AlreadyStarted);
        return 0;
    }
    // The service centre is checked before anything is claimed or opened, so a bad argument
    // leaves the service exactly as it was.
    const size_t centreLength = BoundedLength(serviceCentreArgument, sizeof session_.serviceCentre);
    if (centreLength > sizeof session_.serviceCentre - 1) {
        lastError_.Set(ErrorText::ServiceCentreTooLong);
        return 0;
    }
    if (!FitsQuotedArgument(serviceCentreArgument, centreLength)) {
        lastError_.Set(ErrorText::ServiceCentreMalformed);
        return 0;
    }
    bool expected = false;
    if (!started_.compare_exchange_strong(expected, true)) {
        lastError_.Set(ErrorText::AlreadyStarted);
        return 0;
    }
    // Messages are refused until this start-up has emptied the queues and started its worker;
    // they are refused before `running` is set, so no message slips in between.
    queues_.SetAccepting(false);
    // A worker that ended by itself, or after a stop that did not wait, clears `running` as its
    // very last step, after `started`: it is waited for before `running` is set, or it would
    // clear the flag of this start-up and leave a service that answered 1 but refuses to work.
    ReleaseFinishedWorker();
    running_.store(true);
    lastError_.Clear();

    try {
        if (devicePath != nullptr) {
            channel_.Port().OpenPath(devicePath, settings);
        } else {
            channel_.Port().Open(portNumber, settings);
        }
        channel_.Port().SetImmediateReadTimeouts();
        channel_.Port().GetConfig();
    } catch (const CSerialException& failure) {
        char systemText[512];
        failure.GetErrorText(systemText, sizeof systemText);
        lastError_.Set(ErrorText::PortOpenFailed, systemText);
        // A port that opened but could not be configured is closed again, so it is not left
        // held exclusively until the next start-up.
        channel_.Port().Close();
        started_.store(false);
        running_.store(false);
        return 0;
    }

    std::memset(session_.serviceCentre, 0, sizeof session_.serviceCentre);
    BoundedCopy(session_.serviceCentre, serviceCentreArgument);

    queues_.Reset();

    if (!StartupDialogue([&] { return ProbeModule(channel_); }, ErrorText::NoDeviceOrBaud)) {
        return 0;
    }
    const ModuleFamily* identified = nullptr;
    const auto identify = [&] {
        identified = IdentifyFamily(channel_, edition_);
        return identified != nullptr;
    };
    if (!StartupDialogue(identify, ErrorText::UnknownModule)) {
        return 0;
    }
    family_ = identified;
    if (family_->Sim() == SimCheck::Asked &&
        !StartupDialogue([&] { return CheckSim(channel_); }, ErrorText::NoDeviceOrSim)) {
        return 0;
    }

    runningFamily_.store(family_);
    try {
        std::lock_guard<std::mutex> hold(threadLock_);
        workerThread_ = std::thread(&SmsService::WorkerMain, this);
    } catch (const std::system_error&) {
        lastError_.Set(ErrorText::WorkerNotStarted);
        runningFamily_.store(nullptr);
        running_.store(false);
        started_.store(false);
        channel_.Port().Close();
        return 0;
    }
    queues_.SetAccepting(true);
    return 1;
}

int32_t SmsService::StopService() {
    if (edition_ == Edition::Legacy) {
        // Older hosts expect the stop to return at once; the worker ends by itself at its next
        // look at the flag, and the next start-up waits for its thread.
        running_.store(false);
        return 1;
    }
    running_.store(false);
    // The thread lock is held until the worker has ended, so a stop from a second host thread
    // waits for the same worker instead of finding no thread and returning while it still runs.
    // The worker never takes this lock.
    std::lock_guard<std::mutex> hold(threadLock_);
    std::thread worker = std::move(workerThread_);
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

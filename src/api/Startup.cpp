// Bringing the service from idle to running on the host's thread, and stopping it again.
#include <cstring>
#include <string>
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

bool SmsService::OpenLine() {
    try {
        if (line_.byNumber) {
            channel_.Port().Open(line_.portNumber, line_.settings);
        } else {
            channel_.Port().OpenPath(line_.path.c_str(), line_.settings);
        }
        channel_.Port().SetImmediateReadTimeouts();
        channel_.Port().GetConfig();
        return true;
    } catch (const CSerialException& failure) {
        char systemText[512];
        failure.GetErrorText(systemText, sizeof systemText);
        lastError_.Set(ErrorText::PortOpenFailed, systemText);
        // A port that opened but could not be configured is closed again, so it is not left
        // held exclusively until the next attempt.
        channel_.Port().Close();
        return false;
    }
}

bool SmsService::ModuleDialogue(FunctionRef<bool()> step, ErrorText failure) {
    if (StopRequested()) {
        return false;
    }
    bool passed = false;
    try {
        passed = step();
    } catch (const CSerialException&) {
        // The port failed in the middle of the dialogue: the step fails with its own text.
        passed = false;
    }
    if (!passed) {
        lastError_.Set(failure);
    }
    return passed;
}

const ModuleFamily* SmsService::GreetModule() {
    if (!ModuleDialogue([&] { return ProbeModule(channel_); }, ErrorText::NoDeviceOrBaud)) {
        return nullptr;
    }
    const ModuleFamily* identified = nullptr;
    const auto identify = [&] {
        const Identification identification = IdentifyFamily(channel_, edition_);
        moduleInfo_.KeepModel(identification.model);
        identified = identification.family;
        return identified != nullptr;
    };
    if (!ModuleDialogue(identify, ErrorText::UnknownModule)) {
        return nullptr;
    }
    if (identified->Sim() == SimCheck::Asked &&
        !ModuleDialogue([&] { return CheckSim(channel_); }, ErrorText::NoDeviceOrSim)) {
        return nullptr;
    }
    return identified;
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
    // Copied before the service is claimed: a copy that cannot be made leaves it unclaimed.
    std::string path(devicePath != nullptr ? devicePath : "");
    bool expected = false;
    if (!started_.compare_exchange_strong(expected, true)) {
        lastError_.Set(ErrorText::AlreadyStarted);
        return 0;
    }
    std::lock_guard<std::mutex> starting(startupLock_);
    // Messages are refused until this start-up has emptied the queues and started its worker;
    // they are refused before `running` is set, so no message slips in between.
    queues_.SetAccepting(false);
    // A worker that ended by itself, or after a stop that did not wait, clears `running` as its
    // very last step, after `started`: it is waited for before `running` is set, or it would
    // clear the flag of this start-up and leave a service that answered 1 but refuses to work.
    ReleaseFinishedWorker();
    running_.store(true);
    lastError_.Clear();
    // What a host learns about the module belongs to this start-up from here on.
    moduleInfo_.Reset();

    line_.byNumber = devicePath == nullptr;
    line_.portNumber = portNumber;
    line_.path.swap(path);
    line_.settings = settings;
    if (!OpenLine()) {
        started_.store(false);
        running_.store(false);
        return 0;
    }

    std::memset(session_.serviceCentre, 0, sizeof session_.serviceCentre);
    BoundedCopy(session_.serviceCentre, serviceCentreArgument);

    queues_.Reset();

    // A stop during the start-up is seen before each dialogue and before the worker is made:
    // the start-up then fails, so that it never answers 1 for a service the host has stopped,
    // and no worker is made to talk to a module nobody wants served.
    family_ = GreetModule();
    if (family_ != nullptr && !StopRequested()) {
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
    if (StopRequested()) {
        lastError_.Set(ErrorText::NotStarted);
    }
    running_.store(false);
    channel_.Port().Close();
    started_.store(false);
    return 0;
}

int32_t SmsService::StopService() {
    if (edition_ == Edition::Legacy) {
        // Older hosts expect the stop to return at once; the worker ends by itself at its next
        // look at the flag, and the next start-up waits for its thread.
        running_.store(false);
        return 1;
    }
    running_.store(false);
    // A start-up in progress sees the cleared flag before its next dialogue and fails; the stop
    // waits for it to return. One that set the flag after the line above has made its worker by
    // now (or failed), and is stopped here like any running service.
    std::lock_guard<std::mutex> starting(startupLock_);
    running_.store(false);
    // The thread lock is held until the worker has ended, so a stop from a second host thread
    // waits for the same worker instead of finding no thread and returning while it still runs.
    // The worker never takes either lock.
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

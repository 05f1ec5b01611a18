// The host's calls that are not start or stop: the checks on a message before it is queued.
#include "api/SmsService.h"

#include <chrono>
#include <cstring>

#include "base/BoundedCopy.h"
#include "modem/CommandText.h"
#include "platform/Platform.h"

namespace tidewire {

SmsService::SmsService(Edition edition) : edition_(edition) {
    // Concatenated messages of one library differ by their reference; starting where the clock
    // happens to be keeps those of a library loaded again from repeating the last ones.
    session_.nextConcatenationReference =
        static_cast<uint8_t>(std::chrono::steady_clock::now().time_since_epoch().count() / 1000);
}

int32_t SmsService::SetOption(const char* name, int32_t value) {
    if (name == nullptr) {
        return 0;
    }
    ModuleOptions& options = session_.options;
    const bool onOff = value == 0 || value == 1;
    const ModuleFamily* family = runningFamily_.load();
    // A family that cannot honour an option refuses to have it switched on while it runs; set
    // before a start-up, the option stays set and such a family sends and receives without it.
    const bool honoured = value == 0 || family == nullptr || family->TakesOptions();
    if (std::strcmp(name, "long-messages") == 0 && onOff && honoured) {
        options.longMessages.store(value == 1);
        return 1;
    }
    if (std::strcmp(name, "delivery-reports") == 0 && onOff && honoured) {
        options.deliveryReports.store(value == 1);
        return 1;
    }
    // Every family keeps what it can of a message until the host acknowledges it.
    if (std::strcmp(name, "hold-received") == 0 && onOff) {
        options.holdReceived.store(value == 1);
        return 1;
    }
    if (std::strcmp(name, "reassembly-seconds") == 0 && value >= 1 &&
        value <= ModuleOptions::kMostReassemblySeconds) {
        options.reassemblySeconds.store(value);
        return 1;
    }
    return 0;
}

SmsService::~SmsService() {
    // A host unloads the library after stopping the service. One that does not would leave a
    // worker running code that is about to disappear, so it is asked to end; whether it can be
    // waited for at this point is the platform's to say.
    running_.store(false);
    std::lock_guard<std::mutex> hold(threadLock_);
    ReleaseWorkerAtUnload(workerThread_);
}

int32_t SmsService::SendMessage(const char* text, const char* number) {
    const size_t textLength = BoundedLength(text, sizeof(OutgoingMessage::text));
    const size_t numberLength = BoundedLength(number, sizeof(OutgoingMessage::number));
    if (edition_ == Edition::Current) {
        if (!running_.load()) {
            lastError_.Set(ErrorText::NotStarted);
            return -1;
        }
        if (textLength == 0 || textLength > 255) {
            lastError_.Set(ErrorText::TextLength);
            return -1;
        }
        if (numberLength == 0 || numberLength > 31) {
            lastError_.Set(ErrorText::NumberLength);
            return -1;
        }
    } else {
        if (!running_.load()) {
            return -1;
        }
        if (textLength == 0 || numberLength == 0) {
            lastError_.Set(ErrorText::LegacyEmpty);
            return -1;
        }
        // The record holds 259 text bytes and 31 number bytes; a longer one is refused rather
        // than cut without the host knowing.
        if (textLength > sizeof(OutgoingMessage::text) - 1 ||
            numberLength > sizeof(OutgoingMessage::number) - 1) {
            lastError_.Set(ErrorText::LegacyTooLong);
            return -1;
        }
    }
    // Both editions: a byte that would let the rest of the number run as a modem command is an
    // unsafe input whatever the host was written against.
    if (!FitsNumberArgument(number, numberLength)) {
        lastError_.Set(ErrorText::NumberIllegal);
        return -1;
    }
    if (!FitsMessageBody(text, textLength)) {
        lastError_.Set(ErrorText::TextIllegal);
        return -1;
    }

    OutgoingMessage message;
    std::memset(&message, 0, sizeof message);
    BoundedCopy(message.text, sizeof message.text, text, textLength);
    BoundedCopy(message.number, sizeof message.number, number, numberLength);
    // A message asks for status reports when the option is on as it is queued, on a module
    // whose family honours it.
    const ModuleFamily* family = runningFamily_.load();
    const bool wantsReport = edition_ == Edition::Current &&
                             session_.options.deliveryReports.load() && family != nullptr &&
                             family->TakesOptions();
    const int32_t id = queues_.Accept(message, wantsReport);
    // Refused while the service is still starting: a message taken now would be discarded by
    // the start-up that is emptying the queues, although its id had been handed out.
    if (id < 0 && edition_ == Edition::Current) {
        lastError_.Set(ErrorText::NotStarted);
    }
    return id;
}

}  // namespace tidewire

#include "api/SmsService.h"

#include <cstring>

#include "codec/BoundedCopy.h"
#include "codec/CodePage.h"
#include "modem/CommandText.h"
#include "platform/WorkerUnload.h"

namespace tidewire {

SmsService::SmsService(Edition edition) : edition_(edition) {}

SmsService::~SmsService() {
    // A host unloads the library after stopping the service. One that does not would leave a
    // worker running code that is about to disappear, so it is asked to end; whether it can be
    // waited for at this point is the platform's to say.
    running.store(false);
    std::lock_guard<std::mutex> hold(threadLock_);
    ReleaseWorkerAtUnload(workerThread);
}

// --- Last error ---------------------------------------------------------------------------------

void SmsService::SetLastError(ErrorText error) {
    SetLastError(error, nullptr);
}

void SmsService::SetLastError(ErrorText error, const char* hostDetail) {
    char text[sizeof lastError_];
    const size_t length = LibraryTextToHost(ErrorTextUtf8(error), text, sizeof text);
    if (hostDetail != nullptr) {
        BoundedCopy(text + length, sizeof text - length, hostDetail);
    }
    std::lock_guard<std::mutex> hold(lastErrorLock_);
    std::memcpy(lastError_, text, sizeof lastError_);
}

void SmsService::ClearLastError() {
    std::lock_guard<std::mutex> hold(lastErrorLock_);
    std::memset(lastError_, 0, sizeof lastError_);
}

int32_t SmsService::GetLastError(char* buffer, int32_t length) {
    std::lock_guard<std::mutex> hold(lastErrorLock_);
    std::memset(errorBuffer_, 0, sizeof errorBuffer_);
    BoundedCopy(errorBuffer_, sizeof errorBuffer_, lastError_);
    if (buffer == nullptr || length <= 0) {
        return 0;
    }
    // Fixed-length copy: the text, then NULs up to length; no NUL when the text fills it.
    const size_t textLength = std::strlen(errorBuffer_);
    const size_t wanted = static_cast<size_t>(length);
    const size_t copied = textLength < wanted ? textLength : wanted;
    std::memcpy(buffer, errorBuffer_, copied);
    if (copied < wanted) {
        std::memset(buffer + copied, 0, wanted - copied);
    }
    return static_cast<int32_t>(copied);
}

int32_t SmsService::GetLastErrorLegacy(char* buffer) {
    std::lock_guard<std::mutex> hold(lastErrorLock_);
    std::memset(errorBuffer_, 0, sizeof errorBuffer_);
    BoundedCopy(errorBuffer_, sizeof errorBuffer_, lastError_);
    const size_t textLength = std::strlen(errorBuffer_);
    if (buffer == nullptr) {
        return 0;
    }
    std::memcpy(buffer, errorBuffer_, textLength + 1);
    return static_cast<int32_t>(textLength);
}

// --- Queues --------------------------------------------------------------------------------------

int32_t SmsService::SendMessage(const char* text, const char* number) {
    const size_t textLength = BoundedLength(text, sizeof(OutgoingMessage::text));
    const size_t numberLength = BoundedLength(number, sizeof(OutgoingMessage::number));
    if (edition_ == Edition::Current) {
        if (!running.load()) {
            SetLastError(ErrorText::NotStarted);
            return -1;
        }
        if (textLength == 0 || textLength > 255) {
            SetLastError(ErrorText::TextLength);
            return -1;
        }
        if (numberLength == 0 || numberLength > 31) {
            SetLastError(ErrorText::NumberLength);
            return -1;
        }
    } else {
        if (!running.load()) {
            return -1;
        }
        if (textLength == 0 || numberLength == 0) {
            SetLastError(ErrorText::LegacyEmpty);
            return -1;
        }
        // The record holds 259 text bytes and 31 number bytes; a longer one is refused rather
        // than cut without the host knowing.
        if (textLength > sizeof(OutgoingMessage::text) - 1 ||
            numberLength > sizeof(OutgoingMessage::number) - 1) {
            SetLastError(ErrorText::LegacyTooLong);
            return -1;
        }
    }
    if (!FitsQuotedArgument(number, numberLength)) {
        SetLastError(ErrorText::NumberIllegal);
        return -1;
    }
    if (!FitsMessageBody(text, textLength)) {
        SetLastError(ErrorText::TextIllegal);
        return -1;
    }

    OutgoingMessage message;
    std::memset(&message, 0, sizeof message);
    BoundedCopy(message.text, sizeof message.text, text, textLength);
    BoundedCopy(message.number, sizeof message.number, number, numberLength);
    {
        std::lock_guard<std::mutex> hold(queueLock);
        if (acceptingMessages_) {
            message.id = nextId++;
            outgoingQueue.push_back(message);
            resultMap.Add(message.id);
            reportQueue.reserve(reportQueue.size() + outgoingQueue.size());
            return message.id;
        }
    }
    // The service is still starting: a message taken now would be discarded by the start-up
    // that is emptying the queues, although its id had been handed out.
    if (edition_ == Edition::Current) {
        SetLastError(ErrorText::NotStarted);
    }
    return -1;
}

int32_t SmsService::Report(char* buffer) {
    if (buffer == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> hold(queueLock);
    if (reportQueue.empty()) {
        return 0;
    }
    std::memcpy(buffer, &reportQueue.front(), sizeof(OutgoingMessage));
    reportQueue.pop_front();
    return 1;
}

int32_t SmsService::Query(int32_t id) {
    std::lock_guard<std::mutex> hold(queueLock);
    return resultMap.Get(id);
}

int32_t SmsService::GetNextMessage(char* buffer) {
    if (buffer == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> hold(receivedLock);
    if (receivedQueue.empty()) {
        return 0;
    }
    std::memcpy(buffer, &receivedQueue.front(), sizeof(ReceivedMessage));
    receivedQueue.pop_front();
    return 1;
}

void SmsService::Take(const ReceivedMessage& record) {
    std::lock_guard<std::mutex> hold(receivedLock);
    receivedQueue.push_back(record);
}

void SmsService::FinishMessage(const OutgoingMessage& message, bool sent) {
    std::lock_guard<std::mutex> hold(queueLock);
    resultMap.Record(message.id, sent);
    reportQueue.push_back(message);
    outgoingQueue.pop_front();
}

}  // namespace tidewire

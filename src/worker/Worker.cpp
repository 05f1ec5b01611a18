// The worker thread: initialise the module, then rest, send at most one message, and poll the
// module's store, over and over, until the host stops the service.
#include <cstring>

#include "api/SmsService.h"
#include "codec/CodePage.h"
#include "codec/TextHex.h"

namespace tidewire {

void SmsService::EndPath() {
    {
        std::lock_guard<std::mutex> hold(queueLock);
        acceptingMessages_ = false;
    }
    started.store(false);
    channel.Port().Close();
    running.store(false);
}

bool SmsService::SetUpModule() {
    SetUpResult result = SetUpResult::Ready();
    try {
        result = family_->SetUp(session_);
    } catch (const CSerialException&) {
        result = SetUpResult::Failed(ErrorText::InitPortFailed);
    }
    if (result.outcome == SetUpResult::Outcome::Ready) {
        return true;
    }
    if (result.outcome == SetUpResult::Outcome::Failed) {
        // The text goes in first, so a host that sees the service stopped can already read why.
        SetLastError(result.failure);
    }
    EndPath();
    return false;
}

bool SmsService::SendOne(OutgoingMessage& message) {
    return family_->Send(session_, KindOfText(message.text), message.text, message.number);
}

bool SmsService::ReceiveOne() {
    return family_->Receive(session_);
}

namespace {

// Hosts that pass numbers in international form without "+" get their report back in national
// form: the "86" the number began with is removed, whatever the family and outcome.
void RemoveLeading86(char (&number)[32]) {
    if (number[0] == '8' && number[1] == '6') {
        std::memmove(number, number + 2, sizeof number - 2);
        std::memset(number + sizeof number - 2, 0, 2);
    }
}

}  // namespace

void SmsService::SendStep() {
    OutgoingMessage message;
    {
        std::lock_guard<std::mutex> hold(queueLock);
        if (outgoingQueue.empty()) {
            return;
        }
        message = outgoingQueue.front();
    }
    const bool sent = SendOne(message);
    RemoveLeading86(message.number);
    // The outcome of a message the module has taken is always recorded, also when a stop
    // arrived during the send: dropping it would leave a sent message queued, to be discarded
    // by the next start-up although the recipient has it.
    FinishMessage(message, sent);
}

void SmsService::WorkerMain(SmsService* service) {
    SmsService& s = *service;
    PrepareCodePageForThisThread();
    if (!s.SetUpModule()) {
        return;
    }
    const bool current = s.edition_ == Edition::Current;
    for (;;) {
        if (s.StopRequested()) {
            break;
        }
        s.channel.Sleep(pauses::kWorkerRestMs);

        bool queued = false;
        {
            std::lock_guard<std::mutex> hold(s.queueLock);
            queued = !s.outgoingQueue.empty();
        }
        if (queued && current && s.StopRequested()) {
            break;  // the message stays queued, untouched
        }
        try {
            s.SendStep();
        } catch (...) {
            // The message stays at the head of the queue, without result or report, and is
            // sent again in the next cycle.
            s.SetLastError(ErrorText::SendException);
        }
        if (current && s.StopRequested()) {
            break;
        }

        try {
            if (!s.ReceiveOne()) {
                break;
            }
        } catch (...) {
            s.SetLastError(ErrorText::ReceiveException);
        }
    }
    s.EndPath();
}

}  // namespace tidewire

// The worker thread: set the module up, then rest, send at most one message, and poll the
// module's store, over and over, until the host stops the service. Every step is the
// family's; the worker only keeps the cadence, the queues and the texts of what failed.
#include <cstring>

#include "api/SmsService.h"
#include "codec/TextHex.h"
#include "platform/Platform.h"

namespace tidewire {

void SmsService::EndPath() {
    queues_.SetAccepting(false);
    runningFamily_.store(nullptr);
    started_.store(false);
    channel_.Port().Close();
    running_.store(false);
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
        lastError_.Set(result.failure);
    }
    EndPath();
    return false;
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
    if (!queues_.PeekOutgoing(message)) {
        return;
    }
    session_.sending = SendRecord{};
    session_.sending.reportWanted = queues_.ReportWanted(message.id);
    const bool sent =
        family_->Send(session_, KindOfText(message.text), message.text, message.number);
    if (session_.sending.reportWanted) {
        // The number as it went out, which is what the network's reports name.
        queues_.RecordParts(message.id, message.number, session_.sending, sent);
    }
    RemoveLeading86(message.number);
    // The outcome of a message the module has taken is always recorded, also when a stop
    // arrived during the send: dropping it would leave a sent message queued, to be discarded
    // by the next start-up although the recipient has it.
    queues_.Finish(message, sent);
}

void SmsService::WorkerMain() {
    PrepareCodePageForThisThread();
    if (!SetUpModule()) {
        return;
    }
    // The legacy edition looks at the flag only at the top of its cycle and in its store poll.
    const bool current = edition_ == Edition::Current;
    for (;;) {
        if (StopRequested()) {
            break;
        }
        channel_.Sleep(pauses::kWorkerRestMs);

        if (current && queues_.HasOutgoing() && StopRequested()) {
            break;  // the message stays queued, untouched
        }
        try {
            SendStep();
        } catch (...) {
            // The message stays at the head of the queue, without result or report, and is
            // sent again in the next cycle.
            lastError_.Set(ErrorText::SendException);
        }
        if (current && StopRequested()) {
            break;
        }

        try {
            if (!family_->Receive(session_)) {
                break;
            }
        } catch (...) {
            lastError_.Set(ErrorText::ReceiveException);
        }
    }
    EndPath();
}

}  // namespace tidewire

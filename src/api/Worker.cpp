// The worker thread: set the module up, then rest, send at most one message, and poll the
// module's store, over and over, until the host stops the service. Every step is the
// family's; the worker only keeps the cadence, the queues and the texts of what failed, and
// brings the module back when its port fails.
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

SmsService::SetUpEnd SmsService::SetUpModule() {
    SetUpResult result = SetUpResult::Ready();
    try {
        result = family_->SetUp(session_);
    } catch (const CSerialException&) {
        lastError_.Set(ErrorText::InitPortFailed);
        return SetUpEnd::PortFailed;
    }
    switch (result.outcome) {
        case SetUpResult::Outcome::Ready:
            return SetUpEnd::Ready;
        case SetUpResult::Outcome::Stopped:
            return SetUpEnd::Stopped;
        case SetUpResult::Outcome::Failed:
            break;
    }
    lastError_.Set(result.failure);
    return SetUpEnd::Refused;
}

bool SmsService::ReopenModule() {
    if (!OpenLine()) {
        return false;
    }
    const ModuleFamily* found = GreetModule();
    if (found != family_) {
        // Another module on the same device: its procedures are not the ones this service was
        // started for, so it is not served; the host sees why.
        if (found != nullptr) {
            lastError_.Set(ErrorText::UnknownModule);
        }
        return false;
    }
    // A refusal is not final here as it is at start-up: the same set-up passed then, and a
    // module that has just been plugged in refuses message commands until its SIM is ready.
    return SetUpModule() == SetUpEnd::Ready;
}

bool SmsService::Reconnect() {
    for (;;) {
        channel_.Port().Close();
        if (StopRequested()) {
            return false;
        }
        if (ReopenModule()) {
            return true;
        }
        // Each step of the wait looks at the flag, so a stop ends it within one step.
        for (int step = 0; step < pauses::kReconnectSteps; ++step) {
            if (StopRequested()) {
                return false;
            }
            channel_.Sleep(pauses::kReconnectStepMs);
        }
    }
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
    SetUpEnd setUp = SetUpModule();
    if (setUp == SetUpEnd::PortFailed) {
        setUp = Reconnect() ? SetUpEnd::Ready : SetUpEnd::Stopped;
    }
    if (setUp == SetUpEnd::Ready) {
        moduleInfo_.MarkSetUp(family_->Code());
        RunCycles();
    }
    // A refused set-up ends the service with its text, which went in first, so a host that sees
    // the service stopped can already read why.
    EndPath();
}

void SmsService::RunCycles() {
    // The legacy edition looks at the flag only at the top of its cycle and in its store poll
    // (and, as the current one, while it waits for a module that went away).
    const bool current = edition_ == Edition::Current;
    for (;;) {
        if (StopRequested()) {
            return;
        }
        channel_.Sleep(pauses::kWorkerRestMs);

        if (current && queues_.HasOutgoing() && StopRequested()) {
            return;  // the message stays queued, untouched
        }
        // Whatever leaves a step, the message stays at the head of the queue, without result
        // or report, and is sent again in a later cycle. A failing port (a module unplugged,
        // its device gone) ends the cycle: the port is closed, and the next cycle waits until
        // the module is back.
        bool portFailed = false;
        try {
            SendStep();
        } catch (const CSerialException&) {
            lastError_.Set(ErrorText::SendException);
            portFailed = true;
        } catch (...) {
            lastError_.Set(ErrorText::SendException);
        }
        if (current && StopRequested()) {
            return;
        }

        if (!portFailed) {
            try {
                if (!family_->Receive(session_)) {
                    return;
                }
                moduleInfo_.CountReceivePoll();
            } catch (const CSerialException&) {
                lastError_.Set(ErrorText::ReceiveException);
                portFailed = true;
            } catch (...) {
                lastError_.Set(ErrorText::ReceiveException);
            }
        }
        if (portFailed && !Reconnect()) {
            return;
        }
    }
}

}  // namespace tidewire

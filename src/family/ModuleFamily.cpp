#include "family/ModuleFamily.h"

#include <cstring>

#include "base/BoundedCopy.h"

namespace tidewire {

void Inbox::Deliver(const char* text, const char* sender, const char* timestamp) {
    ReceivedMessage record;
    std::memset(&record, 0, sizeof record);
    BoundedCopy(record.text, text);
    BoundedCopy(record.sender, sender);
    BoundedCopy(record.timestamp, timestamp);
    Take(record);
}

bool ModuleFamily::Send(ModuleSession& session, TextKind kind, const char* text,
                        char (&number)[32]) const {
    // Bytes that form no character of the host's code page say nothing a recipient could read:
    // sent as they are, or converted to nothing, they would make a message the host never wrote.
    if (!HostTextConverts(text)) {
        session.errors.Record(ErrorText::MultiByteTooLong);
        return false;
    }
    return kind == TextKind::SingleByte ? SendSingleByte(session, text, number)
                                        : SendMultiByte(session, text, number);
}

bool ModuleSession::StopEndsSetUp() const {
    return edition == Edition::Current && channel.StopRequested();
}

SetUpResult RunSetUpSteps(ModuleSession& session, const SetUpStep* steps, size_t count,
                          FirstStep first) {
    for (size_t i = 0; i < count; ++i) {
        if ((i > 0 || first == FirstStep::Checked) && session.StopEndsSetUp()) {
            return SetUpResult::Stopped();
        }
        if (!session.channel.SendAtCommand(steps[i].command, "OK", "ERROR")) {
            if (steps[i].onFailure == OnFailure::EndsService) {
                return SetUpResult::Failed(steps[i].failure);
            }
            session.errors.Record(steps[i].failure);
        }
    }
    return SetUpResult::Ready();
}

}  // namespace tidewire

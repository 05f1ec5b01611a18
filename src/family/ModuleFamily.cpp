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

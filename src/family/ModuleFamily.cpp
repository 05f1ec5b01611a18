#include "family/ModuleFamily.h"

#include <cstdio>
#include <cstring>

#include "base/BoundedCopy.h"

namespace tidewire {

namespace {

// One record, each field cut to its width and zero after its text.
ReceivedMessage MakeRecord(const char* text, const char* sender, const char* timestamp) {
    ReceivedMessage record;
    std::memset(&record, 0, sizeof record);
    BoundedCopy(record.text, text);
    BoundedCopy(record.sender, sender);
    BoundedCopy(record.timestamp, timestamp);
    return record;
}

}  // namespace

void Inbox::Deliver(const char* text, const char* sender, const char* timestamp) {
    Take(MakeRecord(text, sender, timestamp));
}

int32_t Inbox::DeliverHeld(const char* text, const char* sender, const char* timestamp) {
    return TakeHeld(MakeRecord(text, sender, timestamp));
}

uint32_t Fingerprint(const char* bytes, size_t count) {
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < count; ++i) {
        hash = (hash ^ static_cast<uint8_t>(bytes[i])) * 16777619u;
    }
    return hash == 0 ? 1 : hash;
}

void HeldMessages::Clear() {
    for (HeldMessage& entry : entries_) {
        entry = HeldMessage{};
    }
}

size_t HeldMessages::Room() const {
    size_t free = 0;
    for (const HeldMessage& entry : entries_) {
        free += entry.inUse ? 0 : 1;
    }
    return free;
}

bool HeldMessages::Add(int index, uint32_t fingerprint, int32_t firstReceipt, int32_t lastReceipt) {
    for (HeldMessage& entry : entries_) {
        if (!entry.inUse) {
            entry = HeldMessage{true, true, index, fingerprint, firstReceipt, lastReceipt};
            return true;
        }
    }
    return false;
}

void HeldMessages::BeginListing() {
    for (HeldMessage& entry : entries_) {
        entry.listed = false;
    }
}

bool HeldMessages::Listed(int index, uint32_t fingerprint) {
    for (HeldMessage& entry : entries_) {
        if (entry.inUse && entry.index == index) {
            if (entry.fingerprint == fingerprint) {
                entry.listed = true;
                return true;
            }
            entry.inUse = false;
        }
    }
    return false;
}

void HeldMessages::ForgetUnlisted() {
    for (HeldMessage& entry : entries_) {
        if (!entry.listed) {
            entry.inUse = false;
        }
    }
}

bool DeleteAcknowledged(ModuleSession& session) {
    for (HeldMessage& entry : session.held) {
        // Only while the latest listing showed this message under its index: after a delete
        // whose answer was lost the index may hold a new message, unread.
        if (!entry.inUse || !entry.listed ||
            !session.inbox.Acknowledged(entry.firstReceipt, entry.lastReceipt)) {
            continue;
        }
        if (session.channel.StopRequested()) {
            return false;
        }
        char command[64];
        std::snprintf(command, sizeof command, "AT+CMGD=%d\r", entry.index);
        if (session.channel.SendAtCommand(command, "OK", "ERROR")) {
            entry.inUse = false;
        } else {
            entry.listed = false;
        }
    }
    return true;
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

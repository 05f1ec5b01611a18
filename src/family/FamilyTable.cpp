#include "family/FamilyTable.h"

namespace tidewire {

// One file of this folder each.
const ModuleFamily& Family860();
const ModuleFamily& Family865();
const ModuleFamily& Family870();
const ModuleFamily& GsmFamily();

namespace {

struct FamilyList {
    const ModuleFamily* const* families;
    size_t count;
};

// The families of each edition, in the order their model tokens are tried: "MODEL 100" and
// "MODEL 199" before the bare "199" of type 870, and GSM, whose empty token claims every
// module, last. The legacy edition does not know type 870; its modules are served as GSM there.
FamilyList FamiliesOf(Edition edition) {
    static const ModuleFamily* const current[] = {&Family860(), &Family865(), &Family870(),
                                                  &GsmFamily()};
    static const ModuleFamily* const legacy[] = {&Family860(), &Family865(), &GsmFamily()};
    if (edition == Edition::Current) {
        return {current, sizeof current / sizeof current[0]};
    }
    return {legacy, sizeof legacy / sizeof legacy[0]};
}

}  // namespace

bool ProbeModule(ModemChannel& channel) {
    return channel.SendAtCommand("AT\r", "OK", "ERROR");
}

const ModuleFamily* IdentifyFamily(ModemChannel& channel, Edition edition) {
    if (!channel.IsOpen()) {
        return nullptr;
    }
    channel.PurgeAndWrite("AT+GMM\r");
    ReplyBuffer reply;
    const Verdict verdict = channel.ReplyPoll(reply, plans::kModelAnswer, [](const ReplyBuffer& r) {
        if (r.Contains("OK")) {
            return Verdict::Accepted;
        }
        return r.Contains("ERROR") ? Verdict::Refused : Verdict::Pending;
    });
    if (verdict != Verdict::Accepted) {
        return nullptr;
    }
    const FamilyList list = FamiliesOf(edition);
    for (size_t i = 0; i < list.count; ++i) {
        const char* token = list.families[i]->ModelToken();
        if (token[0] == '\0' || reply.Contains(token)) {
            return list.families[i];
        }
    }
    return nullptr;
}

bool CheckSim(ModemChannel& channel) {
    return channel.SendAtCommand("AT+CPIN?\r", "+CPIN:", "ERROR");
}

const ModuleFamily* FamilyWithCode(int32_t code, Edition edition) {
    const FamilyList list = FamiliesOf(edition);
    for (size_t i = 0; i < list.count; ++i) {
        if (list.families[i]->Code() == code) {
            return list.families[i];
        }
    }
    return nullptr;
}

}  // namespace tidewire

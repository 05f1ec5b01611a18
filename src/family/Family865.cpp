// Family 865: a CDMA module whose model answer carries "MODEL 199"; its SIM is not checked and
// it takes its messages without any set-up. It sends with at$smsmo ($006, or another $0nn code
// that refuses), hands out its oldest unread message with at$smsmt=1? (the body hex up to the
// end of the line) and marks it read by itself: it has no delete command.
#include "family/CdmaHexFamily.h"

namespace tidewire {

namespace {

constexpr CdmaHexDialect kDialect = {
    "at$smsmo=%s,%s,4098,%d,0,0,%s\r", "$006", "$0", "at$smsmt=1?\r", BodyField::ToLineEnd, nullptr,
};

}  // namespace

const ModuleFamily& Family865() {
    static const CdmaHexFamily family(kModule865, "MODEL 199", SimCheck::NotAsked, nullptr, 0,
                                      kDialect);
    return family;
}

}  // namespace tidewire

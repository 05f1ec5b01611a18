// Family 860: a CDMA module whose model answer carries "MODEL 100"; its SIM is not checked.
// Set-up: the message type and the report type, each of which must be taken. It sends with
// at$smsmo0 ($SMSMOACK / $SMSMONAK), hands out its oldest message with at$smsmt0? (the body
// hex in quotes) and is told at once to drop the message it handed out.
#include "family/CdmaHexFamily.h"

namespace tidewire {

namespace {

constexpr SetUpStep kSetUp[] = {
    {"at$smstype=1\r", OnFailure::EndsService, ErrorText::InitSmsType860},
    {"at$mtrpttype=0\r", OnFailure::EndsService, ErrorText::InitMtRptType860},
};

constexpr CdmaHexDialect kDialect = {
    "at$smsmo0=%s,%s,4098,%d,0,0,%s\r",
    "$SMSMOACK",
    "$SMSMONAK",
    "at$smsmt0?\r",
    BodyField::Quoted,
    "at$delmt=0\r",
};

}  // namespace

const ModuleFamily& Family860() {
    static const CdmaHexFamily family(kModule860, "MODEL 100", SimCheck::NotAsked, kSetUp,
                                      sizeof kSetUp / sizeof kSetUp[0], kDialect);
    return family;
}

}  // namespace tidewire

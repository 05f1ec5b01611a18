// Which family serves a module: the families each edition knows, and the start-up dialogues
// that find out (is a module there, which family is it, is its SIM in).
#ifndef TIDEWIRE_FAMILY_FAMILYTABLE_H
#define TIDEWIRE_FAMILY_FAMILYTABLE_H

#include <cstddef>
#include <cstdint>

#include "base/Edition.h"
#include "family/ModuleFamily.h"
#include "modem/ModemChannel.h"

namespace tidewire {

// "AT": true when a module answers OK.
bool ProbeModule(ModemChannel& channel);

// The room for a model text and its NUL: more than any module's answer needs.
constexpr size_t kModelTextSize = 64;

// What a module's answer to "AT+GMM" told.
struct Identification {
    // The family whose model token the answer holds, trying the edition's families in the order
    // of the table; the last of them serves every module no other claims. Null when the module
    // did not answer OK in time (or the port is closed).
    const ModuleFamily* family = nullptr;
    // The answer's own lines, upper-cased, joined by blanks and NUL-terminated: without the
    // echo, the result code, indications and a "+GMM:" prefix, printable ASCII only, cut to
    // fit. Empty when the module did not answer OK.
    char model[kModelTextSize] = {};
};

// "AT+GMM", and what its answer names.
Identification IdentifyFamily(ModemChannel& channel, Edition edition);

// "AT+CPIN?": any +CPIN answer passes, whatever state it names (a PIN prompt still shows that a
// SIM is there).
bool CheckSim(ModemChannel& channel);

// The family with the code among the edition's families, or null.
const ModuleFamily* FamilyWithCode(int32_t code, Edition edition);

}  // namespace tidewire

#endif

// Which procedures serve which module family: the worker's dispatch table.
#ifndef TIDEWIRE_WORKER_DISPATCH_H
#define TIDEWIRE_WORKER_DISPATCH_H

#include <cstdint>

#include "api/SmsService.h"

namespace tidewire {

struct DispatchRow {
    int32_t moduleType;  // the family, or kModuleUnknown for the row that serves all others
    bool (SmsService::*sendSingleByte)(const char* text, char (&number)[32]);
    bool (SmsService::*sendMultiByte)(const char* text, char (&number)[32]);
    bool (SmsService::*receive)();
};

// The row of a family in an edition; families without a row of their own (860, 865) get the
// CDMA row.
const DispatchRow& DispatchRowFor(int32_t moduleType, Edition edition);

}  // namespace tidewire

#endif

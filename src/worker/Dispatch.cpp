#include "worker/Dispatch.h"

namespace tidewire {

namespace {

// The last row of each table serves every family without a row of its own.
constexpr DispatchRow kCurrentRows[] = {
    {kModuleGsm, &SmsService::SendGsmText, &SmsService::SendGsmPdu,
     &SmsService::ReceiveGsmMessages},
    {kModule870, &SmsService::Send870SingleByte, &SmsService::Send870MultiByte,
     &SmsService::Receive870Messages},
    {kModuleUnknown, &SmsService::SendCdmaSingleByte, &SmsService::SendCdmaMultiByte,
     &SmsService::ReceiveCdmaMessages},
};

// The legacy edition has no type 870.
constexpr DispatchRow kLegacyRows[] = {
    {kModuleGsm, &SmsService::SendGsmText, &SmsService::SendGsmPdu,
     &SmsService::ReceiveGsmMessages},
    {kModuleUnknown, &SmsService::SendCdmaSingleByte, &SmsService::SendCdmaMultiByte,
     &SmsService::ReceiveCdmaMessages},
};

template <size_t N>
const DispatchRow& Find(const DispatchRow (&rows)[N], int32_t moduleType) {
    for (size_t i = 0; i + 1 < N; ++i) {
        if (rows[i].moduleType == moduleType) {
            return rows[i];
        }
    }
    return rows[N - 1];
}

}  // namespace

const DispatchRow& DispatchRowFor(int32_t moduleType, Edition edition) {
    return edition == Edition::Current ? Find(kCurrentRows, moduleType)
                                       : Find(kLegacyRows, moduleType);
}

}  // namespace tidewire

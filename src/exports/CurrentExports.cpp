// The current edition's export table: the eight functions hosts import by name (and by
// ordinal on Windows), and the extensions after them.
#include "api/SmsService.h"
#include "exports/ExportGuard.h"
#include "exports/LineCodes.h"
#include "tidewire.h"

namespace {

// The one service object of this library, built when the library is loaded and destroyed when
// it is unloaded.
tidewire::SmsService service(tidewire::Edition::Current);

}  // namespace

using tidewire::Guarded;

extern "C" {

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSStartService(int32_t port, uint32_t baud, int32_t parity,
                                                   uint8_t dataBits, int32_t stopBits,
                                                   int32_t flowControl, const char* serviceCentre) {
    return Guarded<int32_t>(0, [&] {
        return service.StartService(
            port, tidewire::LineSettingsFromCodes(baud, parity, dataBits, stopBits, flowControl),
            serviceCentre);
    });
}

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSStartServiceEx(const char* device, uint32_t baud,
                                                     int32_t parity, uint8_t dataBits,
                                                     int32_t stopBits, int32_t flowControl,
                                                     const char* serviceCentre) {
    return Guarded<int32_t>(0, [&] {
        return service.StartServiceOnDevice(
            device, tidewire::LineSettingsFromCodes(baud, parity, dataBits, stopBits, flowControl),
            serviceCentre);
    });
}

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSStopSerice(void) {
    return Guarded<int32_t>(1, [] { return service.StopService(); });
}

TIDEWIRE_API uint8_t TIDEWIRE_CALL SMSSeviceStarted(void) {
    return Guarded<uint8_t>(0, [] { return service.ServiceStarted(); });
}

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSSendMessage(const char* text, const char* number) {
    return Guarded<int32_t>(-1, [&] { return service.SendMessage(text, number); });
}

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSReport(char* buffer) {
    return Guarded<int32_t>(0, [&] { return service.Report(buffer); });
}

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSQuery(int32_t id) {
    return Guarded<int32_t>(-1, [&] { return service.Query(id); });
}

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSGetNextMessage(char* buffer) {
    return Guarded<int32_t>(0, [&] { return service.GetNextMessage(buffer); });
}

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSGetLastError(char* buffer, int32_t length) {
    return Guarded<int32_t>(0, [&] { return service.GetLastError(buffer, length); });
}

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSSetTraceFile(const char* path) {
    return Guarded<int32_t>(0, [&] { return service.SetTraceFile(path); });
}

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSGetModuleInfo(char* model, int32_t length) {
    return Guarded<int32_t>(0, [&] { return service.GetModuleInfo(model, length); });
}

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSGetLastErrorCode(void) {
    return Guarded<int32_t>(0, [] { return service.GetLastErrorCode(); });
}

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSGetReceivePolls(void) {
    return Guarded<int32_t>(0, [] { return service.GetReceivePolls(); });
}

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSSetOption(const char* name, int32_t value) {
    return Guarded<int32_t>(0, [&] { return service.SetOption(name, value); });
}

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSQueryDelivery(int32_t id) {
    return Guarded<int32_t>(-1, [&] { return service.QueryDelivery(id); });
}

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSGetNextMessageEx(char* buffer, int32_t* receipt) {
    return Guarded<int32_t>(0, [&] { return service.GetNextMessageEx(buffer, receipt); });
}

TIDEWIRE_API int32_t TIDEWIRE_CALL SMSAcknowledgeMessage(int32_t receipt) {
    return Guarded<int32_t>(0, [&] { return service.AcknowledgeMessage(receipt); });
}

}  // extern "C"

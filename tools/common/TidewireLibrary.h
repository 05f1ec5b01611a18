// The library as a host sees it: loaded by file name, every export resolved by name. The
// command line, the gateway and the demo load it this way.
#ifndef TIDEWIRE_TOOLS_COMMON_TIDEWIRELIBRARY_H
#define TIDEWIRE_TOOLS_COMMON_TIDEWIRELIBRARY_H

#include <dlfcn.h>

#include <string>

#include "ModemSettings.h"
#include "tidewire.h"

namespace tidewire::tools {

class TidewireLibrary {
  public:
    TidewireLibrary() = default;
    ~TidewireLibrary() {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
    }
    TidewireLibrary(const TidewireLibrary&) = delete;
    TidewireLibrary& operator=(const TidewireLibrary&) = delete;

    // False with the reason in error when the file cannot be loaded or lacks an export.
    bool Load(const std::string& path, std::string& error) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            const char* const reason = dlerror();
            error = "cannot load " + path + ": " + (reason != nullptr ? reason : "unknown error");
            return false;
        }
        setOption = reinterpret_cast<decltype(setOption)>(dlsym(handle_, "SMSSetOption"));
        queryDelivery =
            reinterpret_cast<decltype(queryDelivery)>(dlsym(handle_, "SMSQueryDelivery"));
        return Resolve(startService, "SMSStartService", error) &&
               Resolve(startServiceEx, "SMSStartServiceEx", error) &&
               Resolve(stopService, "SMSStopSerice", error) &&
               Resolve(serviceStarted, "SMSSeviceStarted", error) &&
               Resolve(sendMessage, "SMSSendMessage", error) &&
               Resolve(report, "SMSReport", error) && Resolve(query, "SMSQuery", error) &&
               Resolve(getNextMessage, "SMSGetNextMessage", error) &&
               Resolve(getLastError, "SMSGetLastError", error) &&
               Resolve(setTraceFile, "SMSSetTraceFile", error) &&
               Resolve(getLastErrorCode, "SMSGetLastErrorCode", error) &&
               Resolve(getModuleInfo, "SMSGetModuleInfo", error) &&
               Resolve(getReceivePolls, "SMSGetReceivePolls", error);
    }

    // Starts the service on the port number the settings give, else on their device; 1 when
    // it started, as SMSStartService gives it.
    int32_t Start(const ModemSettings& settings) const {
        const LineSettings& line = settings.line;
        const char* const centre =
            settings.serviceCentre.empty() ? nullptr : settings.serviceCentre.c_str();
        return settings.port != 0
                   ? startService(settings.port, line.baud, line.parity, line.dataBits,
                                  line.stopBits, line.flowControl, centre)
                   : startServiceEx(settings.device.c_str(), line.baud, line.parity, line.dataBits,
                                    line.stopBits, line.flowControl, centre);
    }

    // The library's last-error text, already in the terminal's character set.
    std::string LastError() const {
        char text[1024] = {};
        const int32_t length = getLastError(text, static_cast<int32_t>(sizeof text - 1));
        return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
    }

    decltype(&SMSStartService) startService = nullptr;
    decltype(&SMSStartServiceEx) startServiceEx = nullptr;
    decltype(&SMSStopSerice) stopService = nullptr;
    decltype(&SMSSeviceStarted) serviceStarted = nullptr;
    decltype(&SMSSendMessage) sendMessage = nullptr;
    decltype(&SMSReport) report = nullptr;
    decltype(&SMSQuery) query = nullptr;
    decltype(&SMSGetNextMessage) getNextMessage = nullptr;
    decltype(&SMSGetLastError) getLastError = nullptr;
    decltype(&SMSSetTraceFile) setTraceFile = nullptr;
    decltype(&SMSGetLastErrorCode) getLastErrorCode = nullptr;
    decltype(&SMSGetModuleInfo) getModuleInfo = nullptr;
    decltype(&SMSGetReceivePolls) getReceivePolls = nullptr;
    // Later extensions, null in a library built before them: only a program that uses them
    // needs them, and it says so when they are missing.
    decltype(&SMSSetOption) setOption = nullptr;
    decltype(&SMSQueryDelivery) queryDelivery = nullptr;

  private:
    template <class F>
    bool Resolve(F& function, const char* name, std::string& error) {
        function = reinterpret_cast<F>(dlsym(handle_, name));
        if (function == nullptr) {
            error = std::string("the library has no export ") + name;
        }
        return function != nullptr;
    }

    void* handle_ = nullptr;
};

// How the family numbers of SMSGetModuleInfo are called.
inline const char* FamilyName(int32_t family) {
    switch (family) {
        case 666:
            return "GSM";
        case 870:
            return "CDMA type 870";
        case 860:
            return "CDMA type 860";
        case 865:
            return "CDMA type 865";
        default:
            return "unknown";
    }
}

}  // namespace tidewire::tools

#endif

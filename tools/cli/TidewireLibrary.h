// The library as a host sees it: loaded by file name, every export resolved by name.
#ifndef TIDEWIRE_TOOLS_CLI_TIDEWIRELIBRARY_H
#define TIDEWIRE_TOOLS_CLI_TIDEWIRELIBRARY_H

#include <dlfcn.h>

#include <string>

#include "tidewire.h"

namespace tidewire::cli {

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

}  // namespace tidewire::cli

#endif

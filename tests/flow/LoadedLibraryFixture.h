// The current edition's shared library as a host uses it: loaded with dlopen, every export
// resolved by name, and the simulated modem on a pseudo-terminal to start it on.
#ifndef TIDEWIRE_TESTS_FLOW_LOADEDLIBRARYFIXTURE_H
#define TIDEWIRE_TESTS_FLOW_LOADEDLIBRARYFIXTURE_H

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "ModemEngine.h"
#include "PtyModem.h"
#include "tidewire.h"

namespace tidewire {

class LoadedLibraryTest : public testing::Test {
  protected:
    void SetUp() override {
        handle_ = Load();
        ASSERT_NE(handle_, nullptr) << dlerror();
        Resolve(start_, "SMSStartServiceEx");
        Resolve(startOnPort_, "SMSStartService");
        Resolve(stop_, "SMSStopSerice");
        Resolve(started_, "SMSSeviceStarted");
        Resolve(send_, "SMSSendMessage");
        Resolve(report_, "SMSReport");
        Resolve(query_, "SMSQuery");
        Resolve(next_, "SMSGetNextMessage");
        Resolve(lastError_, "SMSGetLastError");
        modem_.Start();
    }

    void TearDown() override {
        if (stop_ != nullptr) {
            stop_();
        }
        modem_.Stop();
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
    }

    // The library the test talks to: by default the one every test of the program shares.
    virtual void* Load() { return dlopen(TIDEWIRE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL); }

    template <class F>
    void Resolve(F& function, const char* name) {
        function = reinterpret_cast<F>(dlsym(handle_, name));
        ASSERT_NE(function, nullptr) << name;
    }

    std::string LastError() {
        char text[1024] = {};
        const int32_t length = lastError_(text, sizeof text - 1);
        return std::string(text, static_cast<size_t>(length));
    }

    void* handle_ = nullptr;
    decltype(&SMSStartServiceEx) start_ = nullptr;
    decltype(&SMSStartService) startOnPort_ = nullptr;
    decltype(&SMSStopSerice) stop_ = nullptr;
    decltype(&SMSSeviceStarted) started_ = nullptr;
    decltype(&SMSSendMessage) send_ = nullptr;
    decltype(&SMSReport) report_ = nullptr;
    decltype(&SMSQuery) query_ = nullptr;
    decltype(&SMSGetNextMessage) next_ = nullptr;
    decltype(&SMSGetLastError) lastError_ = nullptr;
    sim::ModemEngine engine_;
    sim::PtyModem modem_{engine_};
};

}  // namespace tidewire

#endif

// The demo host: what a host application does with the library, against a simulated GSM
// module on a pseudo-terminal. It loads the library by file name, starts the service, sends an
// ASCII and a Chinese message, lets the simulated network deliver a message, and prints every
// step together with the module's traffic.
#include <dlfcn.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "ModemEngine.h"
#include "PtyModem.h"
#include "tidewire.h"

namespace {

using Clock = std::chrono::steady_clock;

std::mutex printLock;
const Clock::time_point startTime = Clock::now();

// Milliseconds since the demo began, so the module's pace can be seen.
long Elapsed() {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - startTime).count());
}

void Say(const std::string& line) {
    std::lock_guard<std::mutex> hold(printLock);
    std::printf("%6ld ms  %s\n", Elapsed(), line.c_str());
    std::fflush(stdout);
}

// The module's traffic with its control bytes made readable.
std::string Readable(std::string_view bytes) {
    std::string out;
    for (const unsigned char c : bytes) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == 0x1A) {
            out += "<ctrl-z>";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The library's exports, resolved by name as a host resolves them.
struct Library {
    void* handle = nullptr;
    decltype(&SMSStartServiceEx) startServiceEx = nullptr;
    decltype(&SMSStopSerice) stopService = nullptr;
    decltype(&SMSSeviceStarted) serviceStarted = nullptr;
    decltype(&SMSSendMessage) sendMessage = nullptr;
    decltype(&SMSReport) report = nullptr;
    decltype(&SMSQuery) query = nullptr;
    decltype(&SMSGetNextMessage) getNextMessage = nullptr;
    decltype(&SMSGetLastError) getLastError = nullptr;

    template <class F>
    bool Resolve(F& function, const char* name) {
        function = reinterpret_cast<F>(dlsym(handle, name));
        if (function == nullptr) {
            std::fprintf(stderr, "the library has no export %s\n", name);
        }
        return function != nullptr;
    }

    bool Load(const char* path) {
        handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
            return false;
        }
        return Resolve(startServiceEx, "SMSStartServiceEx") &&
               Resolve(stopService, "SMSStopSerice") &&
               Resolve(serviceStarted, "SMSSeviceStarted") &&
               Resolve(sendMessage, "SMSSendMessage") && Resolve(report, "SMSReport") &&
               Resolve(query, "SMSQuery") && Resolve(getNextMessage, "SMSGetNextMessage") &&
               Resolve(getLastError, "SMSGetLastError");
    }

    std::string LastError() const {
        char text[1024];
        const int32_t length = getLastError(text, sizeof text - 1);
        text[length] = '\0';
        return length == 0 ? std::string("(empty)") : std::string(text);
    }
};

template <class Condition>
bool WaitFor(Condition condition, std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // The host's texts are UTF-8 here; a Windows host in China would use GBK.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const char* libraryPath = argc > 1 ? argv[1] : TIDEWIRE_LIBRARY_PATH;

    std::printf("Tidewire demo: a host application, the library, and a simulated GSM module.\n\n");

    tidewire::sim::ModemConfig config;
    config.family = 666;
    tidewire::sim::ModemEngine engine(config);
    engine.SetTrafficObserver([](tidewire::sim::TrafficDirection direction,
                                 std::string_view bytes) {
        const bool toModem = direction == tidewire::sim::TrafficDirection::HostToModem;
        Say((toModem ? "    library -> module   " : "    module  -> library  ") + Readable(bytes));
    });
    tidewire::sim::PtyModem modem(engine);
    modem.Start();
    Say("simulated module \"" + engine.ModelText() + "\" is on a pseudo-terminal");
    Say("device: " + modem.DevicePath());

    Library library;
    if (!library.Load(libraryPath)) {
        return 1;
    }
    Say(std::string("loaded ") + libraryPath + " by file name; its exports resolved by name");

    Say("SMSStartServiceEx(device, 115200 baud, no parity, 8 data bits, 1 stop bit, no flow "
        "control, service centre \"card\")");
    if (library.startServiceEx(modem.DevicePath().c_str(), 115200, 2, 8, 0, 0, "card") != 1) {
        Say("start-up failed: " + library.LastError());
        return 1;
    }
    Say("service started: the worker now initialises the module and polls it every cycle");

    const char* asciiText = "Hello from Tidewire";
    const char* chineseText = "你好，潮汐线！";
    const int32_t asciiId = library.sendMessage(asciiText, "8613912345678");
    const int32_t chineseId = library.sendMessage(chineseText, "13912345678");
    Say("SMSSendMessage(\"" + std::string(asciiText) + "\", \"8613912345678\") = id " +
        std::to_string(asciiId));
    Say("SMSSendMessage(\"" + std::string(chineseText) + "\", \"13912345678\") = id " +
        std::to_string(chineseId));

    for (const int32_t id : {asciiId, chineseId}) {
        WaitFor([&] { return library.query(id) != -1; }, std::chrono::seconds(60));
        Say("SMSQuery(" + std::to_string(id) + ") = " + std::to_string(library.query(id)) +
            "   (1 sent, 0 failed, -1 not finished yet)");
    }
    OutgoingMessage report;
    while (library.report(reinterpret_cast<char*>(&report)) == 1) {
        Say("SMSReport: id " + std::to_string(report.id) + ", number \"" + report.number +
            "\" (a leading 86 is removed), text \"" + report.text + "\"");
    }
    for (const auto& sent : engine.SentMessages()) {
        Say("the network got, in " + std::string(sent.pduMode ? "PDU mode" : "text mode") +
            ", for " + sent.destination + ": \"" + sent.textUtf8 + "\"");
    }

    tidewire::sim::IncomingMessage incoming;
    incoming.sender = "+8613800138000";
    incoming.textUtf8 = "潮汐线收到了吗？回复 OK 即可。";
    engine.Inject(incoming);
    Say("the network delivers a Chinese message from " + incoming.sender +
        " to the module's store");
    ReceivedMessage received;
    if (WaitFor([&] { return library.getNextMessage(reinterpret_cast<char*>(&received)) == 1; },
                std::chrono::seconds(60))) {
        Say(std::string("SMSGetNextMessage: sender \"") + received.sender + "\", time \"" +
            received.timestamp + "\", text \"" + received.text + "\"");
    } else {
        Say("no message arrived within a minute");
    }
    WaitFor([&] { return engine.StoreCount() == 0; }, std::chrono::seconds(10));
    Say("the module's store now holds " + std::to_string(engine.StoreCount()) +
        " message(s): a delivered message is deleted after the host's copy is queued");

    Say("SMSGetLastError: " + library.LastError());
    library.stopService();
    Say("SMSStopSerice returned; SMSSeviceStarted() = " +
        std::to_string(static_cast<int>(library.serviceStarted())));
    modem.Stop();
    return 0;
}

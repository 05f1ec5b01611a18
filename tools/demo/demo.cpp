// The demo host: what a host application does with the library, against a simulated module on
// a pseudo-terminal (a GSM module, or with --family one of the three CDMA families). It loads
// the library by file name, starts the service, sends an ASCII and a Chinese message, lets the
// simulated network deliver a message, and prints every step together with the module's
// traffic.

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "ModemEngine.h"
#include "PtyModem.h"
#include "common/TidewireLibrary.h"
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

// One line of traffic that is not plain text: a raw UCS-2 body of a type-870 module (zero bytes
// and bytes above 0x7F) is shown as its bytes in hex, high byte first, since as characters it
// would be gibberish.
bool IsRawBytes(std::string_view line) {
    for (const unsigned char c : line) {
        if (c == 0 || c > 0x7F) {
            return true;
        }
    }
    return false;
}

// The module's traffic with its control bytes made readable.
std::string Readable(std::string_view bytes) {
    std::string out;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = start;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') {
            ++end;
        }
        const std::string_view line = bytes.substr(start, end - start);
        if (IsRawBytes(line)) {
            out += "<raw bytes:";
            for (const unsigned char c : line) {
                char hex[8];
                std::snprintf(hex, sizeof hex, " %02X", c);
                out += hex;
            }
            out += ">";
        } else {
            for (const unsigned char c : line) {
                if (c == 0x1A) {
                    out += "<ctrl-z>";
                } else if (c < 0x20 || c == 0x7F) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "<%02X>", c);
                    out += hex;
                } else {
                    out += static_cast<char>(c);
                }
            }
        }
        for (; end < bytes.size() && (bytes[end] == '\r' || bytes[end] == '\n'); ++end) {
            out += bytes[end] == '\r' ? "\\r" : "\\n";
        }
        start = end;
    }
    return out;
}

constexpr const char* kUsage =
    "usage: tidewire-demo [--family 666|870|860|865] [LIBRARY]\n"
    "\n"
    "Runs a host application against a simulated module on a pseudo-terminal and prints\n"
    "every step with the module's traffic.\n"
    "\n"
    "  --family 666   a GSM module: text mode for ASCII, UCS-2 PDUs for Chinese (default)\n"
    "  --family 870   a CDMA module with text-mode commands: AT+ZMSGL picks ASCII or\n"
    "                 Unicode, the body goes raw after AT+CMGS\n"
    "  --family 860   a CDMA module taking the whole message as hex in at$smsmo0; read with\n"
    "                 at$smsmt0?, deleted with at$delmt=0\n"
    "  --family 865   a CDMA module taking the whole message as hex in at$smsmo; read with\n"
    "                 at$smsmt=1?, which marks a message read (it has no delete)\n"
    "  LIBRARY        the library to load (default: the one built beside the demo)\n";

struct DemoOptions {
    int family = 666;
    const char* libraryPath = TIDEWIRE_LIBRARY_PATH;
};

// Nothing when the arguments are wrong (the reason is printed) or only help was asked for.
std::optional<DemoOptions> ParseArguments(int argc, char** argv, int& exitCode) {
    DemoOptions options;
    bool pathGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::printf("%s", kUsage);
            exitCode = 0;
            return std::nullopt;
        }
        if (argument == "--family") {
            const std::string_view value = i + 1 < argc ? argv[++i] : "";
            if (value != "666" && value != "870" && value != "860" && value != "865") {
                std::fprintf(stderr, "--family takes 666, 870, 860 or 865\n\n%s", kUsage);
                exitCode = 2;
                return std::nullopt;
            }
            options.family = std::stoi(std::string(value));
        } else if (!argument.empty() && argument[0] != '-' && !pathGiven) {
            options.libraryPath = argv[i];
            pathGiven = true;
        } else {
            std::fprintf(stderr, "unknown argument %s\n\n%s", argv[i], kUsage);
            exitCode = 2;
            return std::nullopt;
        }
    }
    return options;
}

// What a newcomer should know about the family before its traffic scrolls by.
const char* FamilyDescription(int family) {
    switch (family) {
        case 870:
            return "a CDMA module of type 870 (text-mode commands; AT+ZMSGL picks ASCII or "
                   "Unicode, and the body follows AT+CMGS raw)";
        case 860:
            return "a CDMA module of type 860 (the whole message as hex in one at$smsmo0 "
                   "line; at$smsmt0? reads, at$delmt=0 deletes)";
        case 865:
            return "a CDMA module of type 865 (the whole message as hex in one at$smsmo line; "
                   "at$smsmt=1? reads and marks read)";
        default:
            return "a GSM module of type 666 (text mode for ASCII, UCS-2 PDUs for Chinese)";
    }
}

// How the family's store looks once the host has its copy of a delivered message.
std::string StoreAfterReceiving(int family, int count) {
    const std::string holds =
        "the module's store now holds " + std::to_string(count) + " message(s): ";
    if (family == 865) {
        return holds + "type 865 has no delete command, so the message stays, marked read, " +
               "and is not handed out again";
    }
    if (family == 860) {
        return holds + "at$delmt=0 deleted the message that at$smsmt0? handed out";
    }
    return holds + "a delivered message is deleted after the host's copy is queued";
}

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
    int exitCode = 0;
    const std::optional<DemoOptions> options = ParseArguments(argc, argv, exitCode);
    if (!options) {
        return exitCode;
    }
    // The host's texts are UTF-8 here; a Windows host in China would use GBK.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const char* libraryPath = options->libraryPath;
    const bool gsm = options->family == 666;

    std::printf("Tidewire demo: a host application, the library, and a simulated module.\n");
    std::printf("The module is %s.\n", FamilyDescription(options->family));
    std::printf("Other families: tidewire-demo --family 666|870|860|865 (see --help).\n\n");

    tidewire::sim::ModemConfig config;
    config.family = options->family;
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

    tidewire::tools::TidewireLibrary library;
    std::string loadError;
    if (!library.Load(libraryPath, loadError)) {
        std::fprintf(stderr, "%s\n", loadError.c_str());
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
        const std::string how =
            gsm ? std::string(", in ") + (sent.pduMode ? "PDU mode" : "text mode") : "";
        Say("the network got" + how + ", for " + sent.destination + ": \"" + sent.textUtf8 + "\"");
    }

    tidewire::sim::IncomingMessage incoming;
    // CDMA networks in China give the sender as a national number.
    incoming.sender = gsm ? "+8613800138000" : "13800138000";
    incoming.textUtf8 = "潮汐线收到了吗？回复 OK 即可。";
    const tidewire::sim::InjectResult delivered = engine.Inject(incoming);
    if (!delivered.stored) {
        Say("the simulated network could not deliver: " + delivered.error);
    }
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
    if (options->family != 865) {
        WaitFor([&] { return engine.StoreCount() == 0; }, std::chrono::seconds(10));
    }
    Say(StoreAfterReceiving(options->family, engine.StoreCount()));

    const std::string lastError = library.LastError();
    Say("SMSGetLastError: " + (lastError.empty() ? std::string("(empty)") : lastError));
    library.stopService();
    Say("SMSStopSerice returned; SMSSeviceStarted() = " +
        std::to_string(static_cast<int>(library.serviceStarted())));
    modem.Stop();
    return 0;
}

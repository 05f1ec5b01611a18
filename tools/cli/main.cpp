// tidewire: send and receive SMS from a shell or a script. It is a host of the library like any
// other: it loads the library by file name (its soname, unless told otherwise), starts the
// service on a serial device, a port number or a simulated module in this process, and reports
// what the library reports.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "CliOptions.h"
#include "JsonText.h"
#include "ModemEngine.h"
#include "PtyModem.h"
#include "TidewireLibrary.h"
#include "tidewire_version.h"

namespace tidewire::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitTimeout = 3;

// How often the library's queues are looked at; the worker's own cycle is far slower.
constexpr std::chrono::milliseconds kPollInterval{100};

volatile sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
}

// Ctrl-C or a TERM ends a wait, so the service is stopped and the port released on the way out.
void CatchInterrupts() {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// The simulated module of --sim, on a pseudo-terminal the library opens like any device.
class Simulator {
  public:
    explicit Simulator(int family) : engine_(ConfigFor(family)), pty_(engine_) {}
    ~Simulator() { pty_.Stop(); }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    void Start() { pty_.Start(); }
    std::string DevicePath() const { return pty_.DevicePath(); }
    sim::InjectResult Inject(const std::string& sender, const std::string& textUtf8) {
        sim::IncomingMessage message;
        message.sender = sender;
        message.textUtf8 = textUtf8;
        return engine_.Inject(message);
    }

  private:
    static sim::ModemConfig ConfigFor(int family) {
        sim::ModemConfig config;
        config.family = family;
        return config;
    }

    sim::ModemEngine engine_;
    sim::PtyModem pty_;
};

// One run of a command: the library, the module it talks to, and the service between them.
class Session {
  public:
    Session(const CliOptions& options, TidewireLibrary& library)
        : options_(options), library_(library) {}
    ~Session() {
        if (started_) {
            library_.stopService();
        }
        if (traced_) {
            library_.setTraceFile(nullptr);
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Turns the trace on, brings up the simulator when asked, and starts the service. On
    // failure error holds the reason (the library's last-error text when it refused).
    bool Start(std::string& error) {
        if (!options_.trace.empty()) {
            if (library_.setTraceFile(options_.trace.c_str()) != 1) {
                error = "cannot open the trace file " + options_.trace;
                return false;
            }
            traced_ = true;
        }
        std::string device = options_.device;
        if (options_.simFamily != 0) {
            try {
                simulator_ = std::make_unique<Simulator>(options_.simFamily);
                simulator_->Start();
            } catch (const std::exception& failure) {
                error = std::string("cannot start the simulated module: ") + failure.what();
                return false;
            }
            device = simulator_->DevicePath();
        }
        const char* const centre =
            options_.serviceCentre.empty() ? nullptr : options_.serviceCentre.c_str();
        const int32_t result =
            options_.port != 0
                ? library_.startService(options_.port, options_.baud, options_.parity,
                                        options_.dataBits, options_.stopBits, options_.flowControl,
                                        centre)
                : library_.startServiceEx(device.c_str(), options_.baud, options_.parity,
                                          options_.dataBits, options_.stopBits,
                                          options_.flowControl, centre);
        if (result != 1) {
            error = library_.LastError();
            return false;
        }
        started_ = true;
        return true;
    }

    Simulator* Sim() { return simulator_.get(); }

  private:
    const CliOptions& options_;
    TidewireLibrary& library_;
    std::unique_ptr<Simulator> simulator_;
    bool started_ = false;
    bool traced_ = false;
};

void PrintError(const std::string& what, const std::string& reason) {
    std::fprintf(stderr, "tidewire: %s: %s\n", what.c_str(),
                 reason.empty() ? "no reason given" : reason.c_str());
}

// A failure before any command ran, as text or as the command's JSON.
int StartFailed(const CliOptions& options, const std::string& reason) {
    if (options.json) {
        std::printf("{\"started\": false, \"error\": %s}\n", JsonString(reason).c_str());
    }
    PrintError("cannot start the service", reason);
    return kExitFailure;
}

int RunStatus(const CliOptions& options, TidewireLibrary& library) {
    Session session(options, library);
    std::string error;
    if (!session.Start(error)) {
        return StartFailed(options, error);
    }
    const bool running = library.serviceStarted() != 0;
    if (options.json) {
        std::printf("{\"started\": %s, \"error\": null}\n", running ? "true" : "false");
    } else {
        std::printf("module answered; service %s\n", running ? "running" : "ended at once");
    }
    return running ? kExitSuccess : kExitFailure;
}

// The progress line of a send: redrawn in place on a terminal, a single line elsewhere.
class Progress {
  public:
    Progress(int32_t id, const std::string& number) : id_(id), number_(number) {
        tty_ = isatty(STDERR_FILENO) != 0;
        if (!tty_) {
            std::fprintf(stderr, "message %d to %s: waiting for the module\n", id_,
                         number_.c_str());
        }
    }
    void Update(long seconds) {
        if (tty_) {
            std::fprintf(stderr, "\rmessage %d to %s: waiting for the module ... %lds", id_,
                         number_.c_str(), seconds);
            std::fflush(stderr);
        }
    }
    void Finish() {
        if (tty_) {
            std::fprintf(stderr, "\r\033[K");
            std::fflush(stderr);
        }
    }

  private:
    const int32_t id_;
    const std::string number_;
    bool tty_ = false;
};

int RunSend(const CliOptions& options, TidewireLibrary& library) {
    Session session(options, library);
    std::string error;
    if (!session.Start(error)) {
        return StartFailed(options, error);
    }
    const int32_t id = library.sendMessage(options.text.c_str(), options.number.c_str());
    if (id < 0) {
        const std::string reason = library.LastError();
        if (options.json) {
            std::printf(
                "{\"id\": null, \"number\": %s, \"text\": %s, \"outcome\": \"refused\", "
                "\"error\": %s}\n",
                JsonString(options.number).c_str(), JsonString(options.text).c_str(),
                JsonString(reason).c_str());
        }
        PrintError("the message was not accepted", reason);
        return kExitFailure;
    }

    Progress progress(id, options.number);
    const Clock::time_point begun = Clock::now();
    const Clock::time_point deadline = begun + std::chrono::seconds(options.timeoutSeconds);
    int32_t outcome = -1;
    while ((outcome = library.query(id)) == -1 && Clock::now() < deadline && !interrupted) {
        progress.Update(static_cast<long>(
            std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - begun).count()));
        std::this_thread::sleep_for(kPollInterval);
    }
    progress.Finish();
    // The report record is the library's copy of what went out; taking it keeps the queue empty.
    OutgoingMessage report = {};
    while (library.report(reinterpret_cast<char*>(&report)) == 1) {
    }

    const char* const word = outcome == 1 ? "sent" : outcome == 0 ? "failed" : "timeout";
    const std::string reason = outcome == 0 ? library.LastError() : std::string();
    if (options.json) {
        std::printf(
            "{\"id\": %d, \"number\": %s, \"text\": %s, \"outcome\": \"%s\", \"error\": %s}\n", id,
            JsonString(options.number).c_str(), JsonString(options.text).c_str(), word,
            outcome == 0 ? JsonString(reason).c_str() : "null");
    } else {
        std::printf("message %d to %s: %s\n", id, options.number.c_str(), word);
    }
    if (outcome == 1) {
        return kExitSuccess;
    }
    if (outcome == 0) {
        PrintError("the module did not send the message", reason);
        return kExitFailure;
    }
    PrintError("no outcome", interrupted ? "interrupted"
                                         : "the module did not answer within " +
                                               std::to_string(options.timeoutSeconds) + " s");
    return kExitTimeout;
}

void PrintReceived(const CliOptions& options, const ReceivedMessage& message, bool first) {
    if (options.json) {
        const std::string object = "{\"sender\": " + JsonString(message.sender) +
                                   ", \"time\": " + JsonString(message.timestamp) +
                                   ", \"text\": " + JsonString(message.text) + "}";
        if (options.follow) {
            std::printf("%s\n", object.c_str());
        } else {
            std::printf("%s\n  %s", first ? "" : ",", object.c_str());
        }
    } else {
        std::printf("%s  %s  %s\n", message.timestamp, message.sender, message.text);
    }
    std::fflush(stdout);
}

int RunReceive(const CliOptions& options, TidewireLibrary& library) {
    Session session(options, library);
    std::string error;
    if (!session.Start(error)) {
        return StartFailed(options, error);
    }
    for (const auto& injection : options.injections) {
        const sim::InjectResult result = session.Sim()->Inject(injection.first, injection.second);
        if (!result.stored) {
            PrintError("the simulated network could not deliver", result.error);
            return kExitFailure;
        }
    }
    if (options.json && !options.follow) {
        std::printf("[");
    }
    // Without --follow the run ends once the injected messages have come and then nothing more
    // for the quiet time; a module that still holds messages hands one out every cycle or so.
    const std::chrono::seconds quiet(options.waitSeconds);
    const std::chrono::seconds injectedLimit(60);
    const Clock::time_point begun = Clock::now();
    Clock::time_point lastArrival = begun;
    size_t received = 0;
    while (!interrupted) {
        ReceivedMessage message = {};
        if (library.getNextMessage(reinterpret_cast<char*>(&message)) == 1) {
            PrintReceived(options, message, received == 0);
            ++received;
            lastArrival = Clock::now();
            continue;
        }
        if (!options.follow) {
            const Clock::time_point now = Clock::now();
            const bool injectedAllCame = received >= options.injections.size();
            if (injectedAllCame && now - lastArrival >= quiet) {
                break;
            }
            if (!injectedAllCame && now - begun >= injectedLimit) {
                break;
            }
        }
        if (library.serviceStarted() == 0) {
            // The worker ended (the port failed): nothing more can arrive.
            break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    if (options.json && !options.follow) {
        std::printf("%s]\n", received == 0 ? "" : "\n");
    } else if (!options.json && received == 0) {
        std::fprintf(stderr, "no messages\n");
    }
    if (library.serviceStarted() == 0) {
        PrintError("the service ended", library.LastError());
        return kExitFailure;
    }
    if (received < options.injections.size()) {
        PrintError("missing messages", "not every injected message arrived within 60 s");
        return kExitTimeout;
    }
    return kExitSuccess;
}

// The library to load: --library, else $TIDEWIRE_LIBRARY, else the current edition's soname,
// which the loader looks for in the program's own library folder (its run path: the build
// tree's, or the installed one's) and then on its usual path.
std::string LibraryToLoad(const CliOptions& options) {
    if (!options.library.empty()) {
        return options.library;
    }
    const char* const fromEnvironment = std::getenv("TIDEWIRE_LIBRARY");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') {
        return fromEnvironment;
    }
    return TIDEWIRE_LIBRARY_NAME;
}

}  // namespace

int Main(int argc, char** argv) {
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "tidewire: %s\n\n%s", error.c_str(), UsageText(options.command));
        return kExitUsage;
    }
    if (options.version) {
        std::printf("tidewire %s\n", TIDEWIRE_VERSION_STRING);
        return kExitSuccess;
    }
    if (options.help) {
        std::printf("%s", UsageText(options.command));
        return kExitSuccess;
    }
    // The library converts texts from and to the codeset of this locale: the terminal's.
    std::setlocale(LC_ALL, "");
    CatchInterrupts();

    TidewireLibrary library;
    if (!library.Load(LibraryToLoad(options), error)) {
        std::fprintf(stderr, "tidewire: %s\n", error.c_str());
        return kExitFailure;
    }
    switch (options.command) {
        case Command::Send:
            return RunSend(options, library);
        case Command::Receive:
            return RunReceive(options, library);
        default:
            return RunStatus(options, library);
    }
}

}  // namespace tidewire::cli

int main(int argc, char** argv) {
    return tidewire::cli::Main(argc, argv);
}

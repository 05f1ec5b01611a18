// tidewire: send and receive SMS from a shell or a script. It is a host of the library like any
// other: it loads the library by file name (its soname, unless told otherwise), starts the
// service on a serial device, a port number or a simulated module in this process, and reports
// what the library reports.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CliOptions.h"
#include "ModemEngine.h"
#include "PtyModem.h"
#include "ReceivedTime.h"
#include "common/ErrorReport.h"
#include "common/HostText.h"
#include "common/TidewireLibrary.h"
#include "tidewire_version.h"

namespace tidewire::cli {

namespace {

using tools::DescribeLibraryCheck;
using tools::DescribeLibraryError;
using tools::DescribeOwnError;
using tools::ErrorJson;
using tools::ErrorReport;
using tools::HostToUtf8;
using tools::PrintErrorReport;
using tools::TidewireLibrary;

using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitTimeout = 3;

// How often the library's queues are looked at; the worker's own cycle is far slower.
constexpr std::chrono::milliseconds kPollInterval{100};
// The longest a module may take to be initialised, or to have its store read the first time: a
// GSM module that answers every step at the last moment needs about 11 s, a listing a few more.
constexpr std::chrono::seconds kModuleReadyLimit{60};

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

void PrintJson(const Json& value) {
    std::printf("%s\n", value.dump(-1, ' ', false).c_str());
    std::fflush(stdout);
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

// A library option a command-line flag switches on, and what a module that cannot honour it
// cannot do.
struct LibraryOption {
    const char* name;
    const char* flag;
    const char* what;
};

std::vector<LibraryOption> RequestedOptions(const CliOptions& options) {
    std::vector<LibraryOption> requested;
    if (options.longMessages) {
        requested.push_back({"long-messages", "--long", "long messages"});
    }
    if (options.deliveryReports) {
        requested.push_back({"delivery-reports", "--report", "delivery reports"});
    }
    return requested;
}

// Switches the requested options on before the start, so that the first reading of the store
// already joins parts. The library takes them then whatever the module; once it knows the
// module's family it refuses those the family cannot honour, which AffirmOptions asks.
std::optional<ErrorReport> SwitchOptionsOn(const CliOptions& options, TidewireLibrary& library) {
    if (options.deliveryReports && library.queryDelivery == nullptr) {
        return DescribeOwnError("--report needs a library with SMSQueryDelivery");
    }
    for (const LibraryOption& option : RequestedOptions(options)) {
        if (library.setOption == nullptr) {
            return DescribeOwnError(std::string(option.flag) +
                                    " needs a library with SMSSetOption");
        }
        if (library.setOption(option.name, 1) != 1) {
            return DescribeOwnError(std::string("the library did not take the option ") +
                                    option.name + " (" + option.flag + ")");
        }
    }
    return std::nullopt;
}

// Asked once the service runs: the same options again, refused on a module of a family that
// cannot honour them (the CDMA families).
std::optional<ErrorReport> AffirmOptions(const CliOptions& options, TidewireLibrary& library) {
    for (const LibraryOption& option : RequestedOptions(options)) {
        if (library.setOption(option.name, 1) != 1) {
            return DescribeOwnError(std::string("the module cannot honour ") + option.flag + ": " +
                                    option.what +
                                    " are for GSM modules only, and this one is CDMA");
        }
    }
    return std::nullopt;
}

// One run of a command: the library, the module it talks to, and the service between them.
class Session {
  public:
    Session(const CliOptions& options, TidewireLibrary& library)
        : options_(options), library_(library), device_(DeviceName(options)) {}
    ~Session() {
        Stop();
        if (traced_) {
            library_.setTraceFile(nullptr);
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Turns the trace on, brings up the simulator when asked, and starts the service. On
    // failure error holds the reason (the library's number and text when it refused).
    bool Start(ErrorReport& error) {
        if (!options_.modem.trace.empty()) {
            if (library_.setTraceFile(options_.modem.trace.c_str()) != 1) {
                error = DescribeOwnError("cannot open the trace file " + options_.modem.trace);
                return false;
            }
            traced_ = true;
        }
        tools::ModemSettings modem = options_.modem;
        if (options_.simFamily != 0) {
            try {
                simulator_ = std::make_unique<Simulator>(options_.simFamily);
                simulator_->Start();
            } catch (const std::exception& failure) {
                error = DescribeOwnError(std::string("cannot start the simulated module: ") +
                                         failure.what());
                return false;
            }
            modem.device = simulator_->DevicePath();
            device_ = modem.device;
        }
        if (std::optional<ErrorReport> refused = SwitchOptionsOn(options_, library_)) {
            error = std::move(*refused);
            return false;
        }
        const int32_t result = library_.Start(modem);
        if (result != 1) {
            error = LibraryError();
            return false;
        }
        started_ = true;
        if (std::optional<ErrorReport> refused = AffirmOptions(options_, library_)) {
            error = std::move(*refused);
            return false;
        }
        return true;
    }

    // Stops the service once; the library keeps what it took from the module for the host.
    void Stop() {
        if (started_) {
            library_.stopService();
            started_ = false;
        }
    }

    // The library's last failure, told for the device of this session.
    ErrorReport LibraryError() const {
        return DescribeLibraryError(library_.getLastErrorCode(), library_.LastError(), device_);
    }

    // The trace of this session: the user's --trace file, or one of its own in the temporary
    // folder, so that a module's refusal can be read back. Empty when none can be had.
    std::string TraceFile() {
        if (!options_.modem.trace.empty()) {
            return options_.modem.trace;
        }
        if (ownTrace_.empty()) {
            const char* const folder = std::getenv("TMPDIR");
            std::string path = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
                               "/tidewire-trace-XXXXXX";
            const int fd = mkstemp(path.data());
            if (fd < 0) {
                return std::string();
            }
            close(fd);
            if (library_.setTraceFile(path.c_str()) != 1) {
                unlink(path.c_str());
                return std::string();
            }
            traced_ = true;
            ownTrace_ = std::move(path);
        }
        return ownTrace_;
    }

    void RemoveOwnTrace() {
        if (!ownTrace_.empty()) {
            library_.setTraceFile(nullptr);
            traced_ = false;
            unlink(ownTrace_.c_str());
            ownTrace_.clear();
        }
    }

    Simulator* Sim() { return simulator_.get(); }

  private:
    const CliOptions& options_;
    TidewireLibrary& library_;
    std::string device_;
    std::unique_ptr<Simulator> simulator_;
    std::string ownTrace_;
    bool started_ = false;
    bool traced_ = false;
};

// A failure before any command ran, as text and, with --json, as the command's JSON.
int StartFailed(const CliOptions& options, const ErrorReport& error) {
    if (options.json) {
        PrintJson(Json{{"started", false}, {"error", ErrorJson(error)}});
    }
    PrintErrorReport("error", error);
    return kExitFailure;
}

// The worker initialises the module after the start-up has returned: status waits until it has
// done so (the library gives the family) or given up (the service has ended).
int RunStatus(const CliOptions& options, TidewireLibrary& library) {
    Session session(options, library);
    ErrorReport error;
    if (!session.Start(error)) {
        return StartFailed(options, error);
    }
    char model[64] = {};
    int32_t family = 0;
    bool ended = false;
    const Clock::time_point deadline = Clock::now() + kModuleReadyLimit;
    while (!interrupted && Clock::now() < deadline) {
        family = library.getModuleInfo(model, sizeof model);
        if (family != 0) {
            break;
        }
        if (library.serviceStarted() == 0) {
            // The worker may have finished the initialisation just before it ended.
            family = library.getModuleInfo(model, sizeof model);
            ended = family == 0;
            break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    const bool ready = family != 0;
    const int32_t code = library.getLastErrorCode();
    std::optional<ErrorReport> problem;
    if (ended || (ready && code != 0)) {
        problem = session.LibraryError();  // the failure, or a warning the module left
    } else if (!ready) {
        problem =
            DescribeOwnError(interrupted ? "interrupted while the module was initialised"
                                         : "the module was still being initialised after " +
                                               std::to_string(kModuleReadyLimit.count()) + " s");
    }
    if (options.json) {
        PrintJson(Json{{"started", ready},
                       {"family", ready ? Json(family) : Json(nullptr)},
                       {"model", model[0] != '\0' ? Json(model) : Json(nullptr)},
                       {"error", problem ? ErrorJson(*problem) : Json(nullptr)}});
    } else if (ready) {
        std::printf("module ready: family %d (%s), model %s\n", family, tools::FamilyName(family),
                    model[0] != '\0' ? model : "not given");
    } else {
        std::printf("module %s%s: %s\n", model[0] != '\0' ? "model " : "answered",
                    model[0] != '\0' ? model : "",
                    ended ? "its initialisation failed" : "not ready");
    }
    if (problem) {
        PrintErrorReport(ready ? "warning" : "error", *problem);
    }
    if (ready) {
        return kExitSuccess;
    }
    return ended ? kExitFailure : kExitTimeout;
}

// The progress line of a send: redrawn in place on a terminal, a single line elsewhere.
class Progress {
  public:
    Progress(int32_t id, const std::string& number) : id_(id), number_(number) {
        tty_ = isatty(STDERR_FILENO) != 0;
        WaitFor("the module");
    }
    // What is waited for from now on: the module's outcome, then a delivery report.
    void WaitFor(const char* what) {
        what_ = what;
        if (!tty_) {
            std::fprintf(stderr, "message %d to %s: waiting for %s\n", id_, number_.c_str(), what_);
        }
    }
    void Update(long seconds) {
        if (tty_) {
            std::fprintf(stderr, "\rmessage %d to %s: waiting for %s ... %lds", id_,
                         number_.c_str(), what_, seconds);
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
    const char* what_ = "";
    bool tty_ = false;
};

off_t FileSize(const std::string& path) {
    struct stat status = {};
    return !path.empty() && stat(path.c_str(), &status) == 0 ? status.st_size : 0;
}

// The module's "+CMS ERROR: <n>" in what it answered since offset of the trace, if it gave one.
// The trace writes what was read ("<" lines) as it arrived, so the answer may be cut over lines.
std::optional<int> ModuleErrorInTrace(const std::string& path, off_t offset) {
    std::ifstream trace(path, std::ios::binary);
    if (path.empty() || !trace) {
        return std::nullopt;
    }
    trace.seekg(offset);
    std::string answers;
    std::string line;
    while (std::getline(trace, line)) {
        const size_t mark = line.find(" < ");
        if (mark != std::string::npos) {
            answers += line.substr(mark + 3);
        }
    }
    const std::string token = "+CMS ERROR:";
    const size_t at = answers.rfind(token);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    size_t digits = at + token.size();
    while (digits < answers.size() && answers[digits] == ' ') {
        ++digits;
    }
    int value = 0;
    size_t end = digits;
    while (end < answers.size() && end - digits < 6 && answers[end] >= '0' && answers[end] <= '9') {
        value = value * 10 + (answers[end++] - '0');
    }
    return end > digits ? std::optional<int>(value) : std::nullopt;
}

Json SendJson(const CliOptions& options, std::optional<int32_t> id, const char* outcome,
              const std::optional<ErrorReport>& error) {
    return Json{{"id", id ? Json(*id) : Json(nullptr)},
                {"number", HostToUtf8(options.number)},
                {"text", HostToUtf8(options.text)},
                {"outcome", outcome},
                {"error", error ? ErrorJson(*error) : Json(nullptr)}};
}

// A delivery as SMSQueryDelivery gives it: 1 delivered, 0 failed or expired, -1 not known.
const char* DeliveryWord(int32_t delivery) {
    return delivery == 1 ? "delivered" : delivery == 0 ? "failed" : "unknown";
}

// The record limits the library checks, checked before the port is opened, so that a text that
// cannot go never costs a start-up.
std::optional<ErrorReport> RefusedBeforeStart(const CliOptions& options) {
    if (options.text.empty() || options.text.size() > 255) {
        return DescribeLibraryCheck(TIDEWIRE_ERROR_TEXT_LENGTH);
    }
    if (options.number.empty() || options.number.size() > 31) {
        return DescribeLibraryCheck(TIDEWIRE_ERROR_NUMBER_LENGTH);
    }
    return std::nullopt;
}

int RunSend(const CliOptions& options, TidewireLibrary& library) {
    Session session(options, library);
    ErrorReport error;
    if (!session.Start(error)) {
        return StartFailed(options, error);
    }
    // A module that refuses a message says why only on the line; the trace keeps its answer.
    const std::string trace = session.TraceFile();
    const off_t traceStart = FileSize(trace);
    const int32_t codeBefore = library.getLastErrorCode();
    const int32_t id = library.sendMessage(options.text.c_str(), options.number.c_str());
    if (id < 0) {
        const ErrorReport refused = session.LibraryError();
        if (options.json) {
            PrintJson(SendJson(options, std::nullopt, "refused", refused));
        }
        PrintErrorReport("error", refused);
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

    std::optional<ErrorReport> failure;
    if (outcome == 0) {
        // The service is this run's own and has failed no message before this one, so a text
        // of a failed message is this one's.
        if (tools::WhyMessageFailed(codeBefore, library.getLastErrorCode()) !=
            tools::MessageFailure::Module) {
            failure = session.LibraryError();
        } else {
            const std::optional<int> cms = ModuleErrorInTrace(trace, traceStart);
            failure = DescribeOwnError(
                "the module refused the message" +
                (cms ? " (+CMS ERROR: " + std::to_string(*cms) + ")" : std::string()) +
                " (check the number, the SIM's credit and the service centre)");
        }
    } else if (outcome == -1) {
        failure = DescribeOwnError(interrupted ? "no outcome: interrupted"
                                               : "no outcome: the module did not answer within " +
                                                     std::to_string(options.timeoutSeconds) + " s");
    }
    session.RemoveOwnTrace();

    const char* const word = outcome == 1 ? "sent" : outcome == 0 ? "failed" : "timeout";
    if (!options.json) {
        std::printf("message %d to %s: %s\n", id, options.number.c_str(), word);
        std::fflush(stdout);
    }
    // The network's report comes after the module's outcome, seconds or days later; the worker
    // keeps reading the store meanwhile, so the wait is only a matter of asking.
    int32_t delivery = -1;
    if (options.deliveryReports) {
        if (outcome == 1) {
            progress.WaitFor("a delivery report");
            const Clock::time_point sent = Clock::now();
            while ((delivery = library.queryDelivery(id)) == -1 && Clock::now() < deadline &&
                   !interrupted) {
                progress.Update(static_cast<long>(
                    std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - sent).count()));
                std::this_thread::sleep_for(kPollInterval);
            }
            progress.Finish();
            if (delivery == 0) {
                failure = DescribeOwnError(
                    "the network could not deliver the message, or it expired (check the "
                    "number and whether the handset is on)");
            } else if (delivery == -1) {
                failure = DescribeOwnError(
                    interrupted
                        ? "no delivery report: interrupted"
                        : "no delivery report within " + std::to_string(options.timeoutSeconds) +
                              " s (the network may send it later, or never)");
            }
        } else {
            delivery = library.queryDelivery(id);
        }
        if (!options.json && outcome == 1) {
            std::printf("message %d to %s: %s\n", id, options.number.c_str(),
                        DeliveryWord(delivery));
        }
    }
    if (options.json) {
        Json result = SendJson(options, id, word, failure);
        if (options.deliveryReports) {
            result["delivery"] = delivery == -1 ? Json(nullptr) : Json(DeliveryWord(delivery));
        }
        PrintJson(result);
    }
    if (failure) {
        PrintErrorReport("error", *failure);
    }
    if (outcome != 1) {
        return outcome == 0 ? kExitFailure : kExitTimeout;
    }
    if (!options.deliveryReports) {
        return kExitSuccess;
    }
    return delivery == 1 ? kExitSuccess : delivery == 0 ? kExitFailure : kExitTimeout;
}

class ReceivedPrinter {
  public:
    explicit ReceivedPrinter(const CliOptions& options) : options_(options) {
        if (arrayOpen()) {
            std::printf("[");
        }
    }

    void Print(const ReceivedMessage& message) {
        if (options_.json) {
            const std::optional<std::string> iso = IsoTime(message.timestamp);
            const Json object{{"sender", HostToUtf8(message.sender)},
                              {"time", iso ? Json(*iso) : Json(nullptr)},
                              {"timestamp", HostToUtf8(message.timestamp)},
                              {"text", HostToUtf8(message.text)}};
            if (arrayOpen()) {
                std::printf("%s\n  %s", count_ == 0 ? "" : ",", object.dump().c_str());
            } else {
                std::printf("%s\n", object.dump().c_str());
            }
        } else {
            std::printf("%s  %s  %s\n", message.timestamp, message.sender, message.text);
        }
        std::fflush(stdout);
        ++count_;
    }

    // Takes and prints every record the library holds; the number printed.
    size_t Drain(TidewireLibrary& library) {
        size_t taken = 0;
        ReceivedMessage message = {};
        while (library.getNextMessage(reinterpret_cast<char*>(&message)) == 1) {
            Print(message);
            ++taken;
        }
        return taken;
    }

    void Close() {
        if (arrayOpen()) {
            std::printf("%s]\n", count_ == 0 ? "" : "\n");
        } else if (!options_.json && count_ == 0) {
            std::fprintf(stderr, "no messages\n");
        }
    }

    size_t Count() const { return count_; }

  private:
    bool arrayOpen() const { return options_.json && !options_.follow; }

    const CliOptions& options_;
    size_t count_ = 0;
};

int RunReceive(const CliOptions& options, TidewireLibrary& library) {
    Session session(options, library);
    ErrorReport error;
    if (!session.Start(error)) {
        return StartFailed(options, error);
    }
    for (const auto& injection : options.injections) {
        const sim::InjectResult result =
            session.Sim()->Inject(injection.first, HostToUtf8(injection.second));
        if (!result.stored) {
            PrintErrorReport("error", DescribeOwnError("the simulated network could not deliver: " +
                                                       result.error));
            return kExitFailure;
        }
    }
    ReceivedPrinter printer(options);
    // The quiet time counts from the end of the module's first listing: the worker reads the
    // store only after it has initialised the module, a few seconds after the start. Without
    // --follow the run ends once the injected messages have come and then nothing more for
    // the quiet time.
    const std::chrono::seconds quiet(options.waitSeconds);
    const Clock::time_point begun = Clock::now();
    bool firstListingDone = false;
    Clock::time_point lastArrival = begun;
    std::optional<ErrorReport> problem;
    while (!interrupted) {
        if (!firstListingDone && library.getReceivePolls() > 0) {
            // Messages of the listing may have been printed while it went on; the quiet time
            // begins at its end, or at a later arrival.
            firstListingDone = true;
            lastArrival = Clock::now();
        }
        if (printer.Drain(library) > 0) {
            lastArrival = Clock::now();
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (library.serviceStarted() == 0) {
            // The worker ended (a failed initialisation, the port failed): nothing more comes.
            problem = session.LibraryError();
            break;
        }
        if (!firstListingDone && now - begun >= kModuleReadyLimit) {
            problem = DescribeOwnError("the module's message store was not read within " +
                                       std::to_string(kModuleReadyLimit.count()) + " s");
            break;
        }
        if (!options.follow && firstListingDone) {
            const bool injectedAllCame = printer.Count() >= options.injections.size();
            if (injectedAllCame && now - lastArrival >= quiet) {
                break;
            }
            if (!injectedAllCame && now - begun >= kModuleReadyLimit) {
                break;
            }
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    // The library deletes each message from the module as it queues it: whatever it took
    // before the stop is printed now, or it would be lost with this process.
    session.Stop();
    printer.Drain(library);
    printer.Close();
    if (problem) {
        PrintErrorReport("error", *problem);
        return kExitFailure;
    }
    if (printer.Count() < options.injections.size()) {
        PrintErrorReport("error",
                         DescribeOwnError("not every injected message arrived within " +
                                          std::to_string(kModuleReadyLimit.count()) + " s"));
        return kExitTimeout;
    }
    return kExitSuccess;
}

}  // namespace

int Main(int argc, char** argv) {
    CliOptions options;
    const int parsed = ParseCliOptions(argc, argv, options);
    if (parsed >= 0) {
        return parsed;
    }
    // The library converts texts from and to the codeset of this locale: the terminal's.
    std::setlocale(LC_ALL, "");
    if (options.command == Command::Send) {
        if (const std::optional<ErrorReport> refused = RefusedBeforeStart(options)) {
            if (options.json) {
                PrintJson(SendJson(options, std::nullopt, "refused", refused));
            }
            PrintErrorReport("error", *refused);
            return kExitUsage;
        }
    }
    CatchInterrupts();

    TidewireLibrary library;
    std::string loadError;
    if (!library.Load(tools::LibraryToLoad(options.modem), loadError)) {
        const ErrorReport error = DescribeOwnError(loadError);
        if (options.json) {
            PrintJson(Json{{"started", false}, {"error", ErrorJson(error)}});
        }
        PrintErrorReport("error", error);
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

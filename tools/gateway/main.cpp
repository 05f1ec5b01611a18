// tidewire-gateway: a daemon that drives one modem module through the Tidewire library and
// keeps its queue in a database: it sends what applications insert into the outbox and writes
// what the module receives into the inbox. Many gateways, one per modem, share a PostgreSQL
// store; one gateway alone is happy with an SQLite file.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "Gateway.h"
#include "GatewayConfig.h"
#include "Log.h"
#include "ModemLink.h"
#include "Store.h"
#include "tidewire_version.h"

namespace tidewire::gateway {

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The store as the log may show it: a PostgreSQL URI without its password.
std::string StoreForLog(const std::string& store) {
    if (!IsPostgresStore(store)) {
        return store;
    }
    const size_t scheme = store.find("://") + 3;
    const size_t at = store.find('@', scheme);
    const size_t colon = store.find(':', scheme);
    if (at == std::string::npos || colon == std::string::npos || colon > at) {
        return store;
    }
    return store.substr(0, colon) + ":***" + store.substr(at);
}

std::string DeviceOf(const GatewayConfig& config) {
    const tools::ModemSettings& modem = config.modem;
    return modem.port != 0 ? "/dev/ttyS" + std::to_string(modem.port - 1) : modem.device;
}

// SIGTERM and SIGINT are taken by sigtimedwait in the main loop rather than by a handler, so a
// stop is seen at a known point of the loop. Blocked just before the library starts its worker,
// which inherits the mask and so never takes them itself; until then (and in --check and
// --queue) they end the process at once, as there is nothing to settle.
sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

std::unique_ptr<Store> OpenStore(const GatewayConfig& config) {
    auto store = std::make_unique<Store>(Database::Open(config.store, false));
    store->Migrate();
    return store;
}

int Queue(const GatewayConfig& config) {
    try {
        const auto store = OpenStore(config);
        std::printf("%lld\n",
                    static_cast<long long>(store->Queue(config.queueNumber, config.queueText)));
        return 0;
    } catch (const std::exception& failure) {
        LogError(failure.what());
        return kExitFailure;
    }
}

// Looks at everything a start needs without changing anything: the library, the device, the
// store and its schema. Prints one line each; 0 when all are fine.
int Check(const GatewayConfig& config) {
    bool fine = true;
    const auto report = [&fine](bool good, const std::string& line) {
        std::printf("%s: %s\n", good ? "ok" : "error", line.c_str());
        fine = fine && good;
    };
    report(true, "configuration" +
                     (config.configFile.empty() ? std::string() : " " + config.configFile) +
                     ": gateway " + config.name);

    ModemLink modem;
    std::string error;
    const std::string library = tools::LibraryToLoad(config.modem);
    report(modem.Load(library, error), "library " + (error.empty() ? library : error));

    const std::string device = DeviceOf(config);
    struct stat status = {};
    if (stat(device.c_str(), &status) != 0) {
        report(false, "device " + device + ": " + std::strerror(errno));
    } else {
        report(S_ISCHR(status.st_mode),
               "device " + device + (S_ISCHR(status.st_mode) ? "" : ": not a character device"));
    }

    const std::string shown = StoreForLog(config.store);
    try {
        if (!IsPostgresStore(config.store) && access(config.store.c_str(), F_OK) != 0) {
            const size_t slash = config.store.find_last_of('/');
            const std::string folder =
                slash == std::string::npos ? "." : config.store.substr(0, slash + 1);
            report(access(folder.c_str(), W_OK | X_OK) == 0,
                   "store " + shown + ": " +
                       (access(folder.c_str(), W_OK | X_OK) == 0
                            ? "not there yet, created at start"
                            : "not there, and " + folder + " is not writable"));
        } else {
            Store store(Database::Open(config.store, true));
            const int version = store.SchemaVersion();
            if (version == Store::kSchemaVersion) {
                report(true, "store " + shown + ": schema version " + std::to_string(version));
            } else if (version < Store::kSchemaVersion) {
                report(true, "store " + shown + ": schema version " + std::to_string(version) +
                                 ", upgraded to " + std::to_string(Store::kSchemaVersion) +
                                 " at start");
            } else {
                report(false, "store " + shown + ": schema version " + std::to_string(version) +
                                  " is newer than this gateway's " +
                                  std::to_string(Store::kSchemaVersion));
            }
        }
    } catch (const std::exception& failure) {
        report(false, "store " + shown + ": " + failure.what());
    }
    return fine ? 0 : kExitFailure;
}

int Run(const GatewayConfig& config) {
    ModemLink modem;
    std::string error;
    if (!modem.Load(tools::LibraryToLoad(config.modem), error)) {
        LogError(error);
        return kExitFailure;
    }
    std::unique_ptr<Store> store;
    try {
        store = OpenStore(config);
        store->RegisterGateway(config.name);
    } catch (const std::exception& failure) {
        LogError(failure.what());
        return kExitFailure;
    }
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    tools::ErrorReport failure;
    if (!modem.Start(config, failure)) {
        LogError("cannot start the service on " + DeviceOf(config) + ": " +
                 tools::ErrorLine(failure));
        return kExitFailure;
    }
    LogInfo("gateway " + config.name + " running on " + DeviceOf(config) + ", store " +
            StoreForLog(config.store));

    bool stopping = false;
    Gateway gateway(config, *store, modem);
    const int status = gateway.Run([&](std::chrono::milliseconds tick) {
        if (stopping) {
            return true;
        }
        struct timespec wait = {};
        wait.tv_sec = static_cast<time_t>(tick.count() / 1000);
        wait.tv_nsec = static_cast<long>(tick.count() % 1000) * 1000000L;
        siginfo_t info;
        const int signal = sigtimedwait(&signals, &info, &wait);
        if (signal > 0) {
            LogInfo(std::string("stopping on ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"));
            stopping = true;
        }
        return stopping;
    });
    LogInfo(status == 0 ? "stopped" : "stopped after a failure");
    return status;
}

}  // namespace

}  // namespace tidewire::gateway

int main(int argc, char** argv) {
    using namespace tidewire::gateway;
    GatewayConfig config;
    std::string error;
    if (!LoadGatewayConfig(argc, argv, config, error)) {
        std::fprintf(stderr, "tidewire-gateway: %s\n", error.c_str());
        return kExitUsage;
    }
    if (config.mode == Mode::Help) {
        std::fputs(GatewayUsage().c_str(), stdout);
        return 0;
    }
    if (config.mode == Mode::Version) {
        std::printf("tidewire-gateway %s\n", TIDEWIRE_VERSION_STRING);
        return 0;
    }
    ConfigureLog(config.verbose);
    switch (config.mode) {
        case Mode::Queue:
            return Queue(config);
        case Mode::Check:
            return Check(config);
        default:
            return Run(config);
    }
}

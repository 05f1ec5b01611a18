// What a gateway is told: where its modem is and how the line is set, where the store is, its
// name and its pace. Read from a configuration file of "key = value" lines, then from the
// command line, whose options have the same names and win over the file.
#ifndef TIDEWIRE_TOOLS_GATEWAY_GATEWAYCONFIG_H
#define TIDEWIRE_TOOLS_GATEWAY_GATEWAYCONFIG_H

#include <cstdint>
#include <string>

namespace tidewire::gateway {

enum class Mode { Run, Check, Queue, Help, Version };

struct GatewayConfig {
    Mode mode = Mode::Run;
    std::string configFile;

    // Where the module is: a device path or a port number (COM<n>, /dev/ttyS<n-1>).
    std::string device;
    int32_t port = 0;

    // Line settings in the library's codes: 115200 8N1, no flow control.
    uint32_t baud = 115200;
    int32_t parity = 2;
    uint8_t dataBits = 8;
    int32_t stopBits = 0;
    int32_t flowControl = 0;
    std::string serviceCentre = "card";

    // A file path for SQLite, or a postgresql:// (postgres://) URI.
    std::string store = "/var/lib/tidewire/sms.db";
    // Unique among the gateways sharing a store: rows are claimed in its name.
    std::string name;
    // Empty: TIDEWIRE_LIBRARY from the environment, else the current edition's soname.
    std::string library;
    std::string trace;
    bool verbose = false;

    // How long an idle gateway waits before it looks at the outbox again.
    int pollMilliseconds = 1000;
    // How long a claimed row stays this gateway's without a renewal.
    int leaseSeconds = 60;

    // --queue NUMBER TEXT
    std::string queueNumber;
    std::string queueText;
};

// Fills config from argv and the file named by --config. On a mistake returns false with a
// one-line reason in error. A gateway without a name is called <host>-<device or ttyS<n>>.
bool LoadGatewayConfig(int argc, const char* const* argv, GatewayConfig& config,
                       std::string& error);

// The library to load, after --library, TIDEWIRE_LIBRARY and the default.
std::string LibraryPath(const GatewayConfig& config);

bool IsPostgresStore(const std::string& store);

const char* GatewayUsage();

}  // namespace tidewire::gateway

#endif

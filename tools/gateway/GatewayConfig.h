// What a gateway is told: where its modem is and how the line is set, where the store is, its
// name and its pace. Read from a configuration file of "key = value" lines, then from the
// command line, whose options have the same names and win over the file.
#ifndef TIDEWIRE_TOOLS_GATEWAY_GATEWAYCONFIG_H
#define TIDEWIRE_TOOLS_GATEWAY_GATEWAYCONFIG_H

#include <cstdint>
#include <string>

#include "common/ModemSettings.h"

namespace tidewire::gateway {

enum class Mode { Run, Check, Queue, Help, Version };

struct GatewayConfig {
    Mode mode = Mode::Run;
    std::string configFile;

    // Where the module is, the line, the service centre, the library and the trace.
    tools::ModemSettings modem;

    // A file path for SQLite, or a postgresql:// (postgres://) URI.
    std::string store = "/var/lib/tidewire/sms.db";
    // Unique among the gateways sharing a store: rows are claimed in its name.
    std::string name;
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

bool IsPostgresStore(const std::string& store);

std::string GatewayUsage();

}  // namespace tidewire::gateway

#endif

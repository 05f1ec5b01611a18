// Everything a module remembers between commands: settings, message store, what it sent.
#pragma once

#include <array>
#include <chrono>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "MessageStore.h"
#include "ModemTypes.h"
#include "StatusReportPdu.h"
#include "TeCharset.h"

namespace tidewire::sim {

// A status report the network owes the host: it becomes due a delay after the send.
struct PendingStatusReport {
    std::chrono::steady_clock::time_point due;
    StatusReportFields fields;  // all but the discharge time, which is taken when it is due
    // Due, but the module could not take it (no SIM, radio off, store full); tried again at
    // the module's next chance rather than on a timer.
    bool held = false;
};

struct ModemState {
    explicit ModemState(const ModemConfig& configuration)
        : config(configuration),
          echo(configuration.echo),
          serviceCentre(configuration.serviceCentre),
          simPresent(configuration.simPresent),
          store(configuration.firstIndex, configuration.capacity) {}

    // ATZ and AT&F: the settings go back to their defaults; the store and SIM stay.
    void ResetSettings() {
        echo = config.echo;
        messageFormat = 0;
        charset = TeCharset::Ira;
        errorMode = 1;
        newMessageIndication = {0, 0, 0, 0, 0};
        showTextModeDetails = 0;
        textModeParameters = kDefaultTextModeParameters;
    }

    // AT+CSMP: <fo> (an SMS-SUBMIT with a relative validity period), <vp> (one day), <pid>,
    // <dcs>.
    static constexpr std::array<int, 4> kDefaultTextModeParameters{17, 167, 0, 0};

    ModemConfig config;
    bool echo;
    int messageFormat = 0;  // AT+CMGF: 0 PDU, 1 text
    TeCharset charset = TeCharset::Ira;
    int errorMode = 1;  // AT+CMEE; 1 as on most current modules
    std::array<int, 5> newMessageIndication{0, 0, 0, 0, 0};  // AT+CNMI mode,mt,bm,ds,bfr
    int functionality = 1;                                   // AT+CFUN
    int showTextModeDetails = 0;                             // AT+CSDH
    std::array<int, 4> textModeParameters = kDefaultTextModeParameters;
    std::string serviceCentre;
    std::array<std::string, 3> storages{"ME", "ME", "ME"};  // AT+CPMS read, write, receive
    bool simPresent;
    MessageStore store;
    int nextMessageReference = 0;
    int nextConcatReference = 0;
    std::vector<SentMessage> sent;
    // What the network does with a status-report request: answer after this delay with this
    // TP-Status. Both are taken at the time of the send.
    std::chrono::milliseconds statusReportDelay{0};
    std::uint8_t statusReportOutcome = kReportDelivered;
    std::deque<PendingStatusReport> pendingReports;  // in order of their due time
    std::vector<std::string> commandLog;
    std::map<std::string, int> vendorSwitches;  // settings only one family knows
    FaultSettings faults;
    std::string unsolicited;  // indications waiting until the line is idle
};

}  // namespace tidewire::sim

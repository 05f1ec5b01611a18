// Telling the module families apart, and bringing each into the state its sending and
// receiving procedures expect.
#include <cstdio>
#include <cstring>

#include "api/SmsService.h"

namespace tidewire {

bool SmsService::DetectModuleType() {
    if (!channel.IsOpen()) {
        return false;
    }
    channel.PurgeAndWrite("AT+GMM\r");
    ReplyBuffer reply;
    const Verdict verdict = channel.ReplyPoll(reply, plans::kModelAnswer, [](const ReplyBuffer& r) {
        if (r.Contains("OK")) {
            return Verdict::Accepted;
        }
        return r.Contains("ERROR") ? Verdict::Refused : Verdict::Pending;
    });
    if (verdict != Verdict::Accepted) {
        return false;
    }
    int32_t family = kModuleGsm;
    if (reply.Contains("MODEL 100")) {
        family = kModule860;
    } else if (reply.Contains("MODEL 199")) {
        family = kModule865;
    } else if (edition_ == Edition::Current && reply.Contains("199")) {
        // The legacy edition does not know this family; its modules are served as GSM there.
        family = kModule870;
    }
    moduleType.store(family);
    return true;
}

namespace {

// One step of a family's initialisation: a command, and whether its failure ends the worker.
struct InitStep {
    const char* command;
    bool fatal;
    ErrorText failure;
};

constexpr InitStep kInit870[] = {
    {"AT+CNMI=2,1,0,0,0\r", true, ErrorText::InitCnmi870},
    {"AT+CPMS=MT\r", false, ErrorText::InitCpms870},
};

constexpr InitStep kInit860[] = {
    {"at$smstype=1\r", true, ErrorText::InitSmsType860},
    {"at$mtrpttype=0\r", true, ErrorText::InitMtRptType860},
};

}  // namespace

void SmsService::EndAfterFatalInit(ErrorText error) {
    // The text goes in first, so a host that sees the service stopped can already read why.
    SetLastError(error);
    EndPath();
}

bool SmsService::InitialiseModule() {
    // The legacy edition runs its sequence to the end and notices a stop in the loop.
    const bool watchStop = edition_ == Edition::Current;
    auto stopNow = [&]() {
        if (watchStop && StopRequested()) {
            EndPath();
            return true;
        }
        return false;
    };
    // The GSM sequence begins with its first command; the others look at the flag first.
    auto runSteps = [&](const InitStep* steps, size_t count, bool checkFirst) {
        for (size_t i = 0; i < count; ++i) {
            if ((i > 0 || checkFirst) && stopNow()) {
                return false;
            }
            if (!channel.SendAtCommand(steps[i].command, "OK", "ERROR")) {
                if (steps[i].fatal) {
                    EndAfterFatalInit(steps[i].failure);
                    return false;
                }
                SetLastError(steps[i].failure);
            }
        }
        return true;
    };

    try {
        switch (moduleType.load()) {
            case kModuleGsm: {
                static constexpr InitStep kInitGsm[] = {
                    {"AT+CNMI=1,0,0,0,1\r", true, ErrorText::InitCnmi666},
                    {"AT+CMGF=0\r", true, ErrorText::InitCmgf666},
                    {"AT+CPMS=ME\r", false, ErrorText::InitCpms666},
                };
                if (!runSteps(kInitGsm, sizeof kInitGsm / sizeof kInitGsm[0], false)) {
                    return false;
                }
                if (stopNow()) {
                    return false;
                }
                if (std::strcmp(serviceCentre, "card") == 0) {
                    QueryServiceCentre();
                }
                if (stopNow()) {
                    return false;
                }
                char command[128];
                std::snprintf(command, sizeof command, "AT+CSCA=\"%s\"\r", serviceCentre);
                if (!channel.SendAtCommand(command, "OK", "ERROR")) {
                    EndAfterFatalInit(ErrorText::InitServiceCentre);
                    return false;
                }
                return true;
            }
            case kModule870:
                if (!runSteps(kInit870, sizeof kInit870 / sizeof kInit870[0], true)) {
                    return false;
                }
                return true;
            case kModule860:
                if (!runSteps(kInit860, sizeof kInit860 / sizeof kInit860[0], true)) {
                    return false;
                }
                return true;
            default:
                // Type 865 takes its messages without any preparation.
                return true;
        }
    } catch (const CSerialException&) {
        EndAfterFatalInit(ErrorText::InitPortFailed);
        return false;
    }
}

}  // namespace tidewire

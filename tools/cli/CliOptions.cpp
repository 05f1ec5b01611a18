#include "CliOptions.h"

#include <CLI/CLI.hpp>
#include <map>

#include "tidewire_version.h"

namespace tidewire::cli {

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitUsage = 2;

using Names = std::map<std::string, int32_t>;

const Names kFamilies = {{"666", 666}, {"gsm", 666}, {"870", 870}, {"860", 860}, {"865", 865}};

// The option takes one of the names and hands its library code on; the help lists the names.
CLI::Validator OneOf(const Names& names) {
    std::string list;
    for (const auto& entry : names) {
        list += (list.empty() ? "" : ", ") + entry.first;
    }
    return CLI::Validator(
        [&names, list](std::string& value) {
            const auto found = names.find(value);
            if (found == names.end()) {
                return value + " is not one of " + list;
            }
            value = std::to_string(found->second);
            return std::string();
        },
        "one of " + list);
}

constexpr const char* kWhere = "Where the module is (exactly one)";
constexpr const char* kLine = "Line settings (default 115200 baud, 8N1, no flow control)";
constexpr const char* kOther = "Other options";

// The options every command takes, in the groups the help shows them in.
void AddCommonOptions(CLI::App& command, CliOptions& options) {
    CLI::Option* const device =
        command
            .add_option("--device", options.modem.device, "a serial device such as /dev/ttyUSB0")
            ->type_name("PATH")
            ->group(kWhere);
    CLI::Option* const port =
        command.add_option("--port", options.modem.port, "COM<N>, that is /dev/ttyS<N-1>")
            ->type_name("N")
            ->check(CLI::Range(1, 256))
            ->group(kWhere);
    CLI::Option* const sim =
        command
            .add_option("--sim", options.simFamily,
                        "a simulated module in this process: 666 (or gsm), 870, 860 or 865")
            ->type_name("FAMILY")
            ->transform(OneOf(kFamilies))
            ->group(kWhere);
    device->excludes(port)->excludes(sim);
    port->excludes(sim);

    // The line settings take the names the gateway takes too, in one table.
    for (const tools::LineSettingName& setting : tools::kLineSettingNames) {
        const std::string key = setting.key;
        command
            .add_option_function<std::string>(
                "--" + key,
                [&options, key](const std::string& value) {
                    std::string error;
                    if (!tools::ApplyLineSetting(key, value, options.modem.line, error)) {
                        throw CLI::ValidationError("--" + error);
                    }
                },
                tools::LineSettingChoices(key))
            ->type_name(setting.valueName)
            ->group(kLine);
    }

    command
        .add_option("--sc", options.modem.serviceCentre,
                    "the SMS centre for GSM modules (default: card, the SIM's number)")
        ->type_name("NUMBER|card")
        ->group(kOther);
    command
        .add_option("--trace", options.modem.trace,
                    "append every byte to and from the module to FILE")
        ->type_name("FILE")
        ->check([](const std::string& value) {
            return value.empty() ? std::string("a file name is needed") : std::string();
        })
        ->group(kOther);
    command.add_flag("--json", options.json, "print results as JSON, for scripts")->group(kOther);
    command
        .add_option("--library", options.modem.library,
                    "the library to load (default: $TIDEWIRE_LIBRARY, else " TIDEWIRE_LIBRARY_NAME
                    " from the installed library folder or the loader's path)")
        ->type_name("PATH")
        ->group(kOther);
}

// A mistake names itself and points at the help of the command it was made in, instead of
// burying the reason in the whole usage.
int Mistake(const CLI::App& app, const std::string& what) {
    std::string command = app.get_name();
    for (const CLI::App* sub : app.get_subcommands()) {
        command += " " + sub->get_name();
    }
    std::fprintf(stderr, "tidewire: %s\nRun '%s --help' for the options.\n", what.c_str(),
                 command.c_str());
    return kExitUsage;
}

}  // namespace

std::string DeviceName(const CliOptions& options) {
    if (options.modem.port != 0) {
        return "COM" + std::to_string(options.modem.port) + " (/dev/ttyS" +
               std::to_string(options.modem.port - 1) + ")";
    }
    return options.modem.device;
}

int ParseCliOptions(int argc, char** argv, CliOptions& options) {
    CLI::App app(
        "Sends and receives SMS through a GSM or CDMA modem module with the Tidewire "
        "library.\nThe module's family is detected when the service starts.",
        "tidewire");
    app.set_version_flag("-V,--version", std::string("tidewire ") + TIDEWIRE_VERSION_STRING,
                         "the version of this program and of the library it belongs to");
    app.require_subcommand(1);
    app.footer(
        "Texts are taken and printed in the terminal's character set. Exit status: 0 success,\n"
        "1 the library or the module failed, 2 wrong arguments, 3 no outcome in time.\n"
        "'tidewire COMMAND --help' tells about one command.");

    CLI::App* const send = app.add_subcommand(
        "send", "send one message and wait until the module confirms or refuses it");
    send->add_option("NUMBER", options.number, "the destination, 1 to 31 bytes")
        ->required()
        ->type_name("");
    send->add_option("TEXT", options.text, "the text, 1 to 255 bytes")->required()->type_name("");
    send->add_option("--timeout", options.timeoutSeconds,
                     "how long to wait for the module's outcome, and with --report for the "
                     "delivery report after it (default 120, both together)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1, 86400));
    send->add_flag("--long", options.longMessages,
                   "send a text too long for one SMS as a long message in parts (GSM modules)");
    send->add_flag("--report", options.deliveryReports,
                   "ask the network for a delivery report and wait for it after the module's "
                   "outcome, within --timeout (GSM modules)");
    send->footer(
        "Shows the progress on standard error and prints the message id and the outcome. Exits 0\n"
        "only when the module confirmed the message, 1 when it failed or was refused, 3 when no\n"
        "outcome came in time. --json: {\"id\", \"number\", \"text\", \"outcome\": \"sent\"|"
        "\"failed\"|\"timeout\"|\"refused\", \"error\"}.\n"
        "With --report a second line gives the delivery: delivered, failed (the network could\n"
        "not deliver it, or it expired) or unknown (no report within --timeout, which bounds the\n"
        "whole run); the exit status is then 0 only when delivered, 1 when failed, 3 when\n"
        "unknown, and the JSON has \"delivery\": \"delivered\"|\"failed\"|null.");
    AddCommonOptions(*send, options);

    CLI::App* const receive = app.add_subcommand(
        "receive", "print the messages waiting in the module (--follow: keep printing)");
    receive->add_flag("--follow", options.follow,
                      "keep printing messages as they arrive until interrupted (Ctrl-C, TERM)");
    receive
        ->add_option("--wait", options.waitSeconds,
                     "end once nothing has come for this long after the first reading of the "
                     "module's store (default 5)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1, 86400));
    receive
        ->add_option("--inject", options.injections,
                     "with --sim: the simulated network delivers this message after the "
                     "start (may be repeated); receive waits for each")
        ->type_name("SENDER TEXT");
    receive->add_flag("--long", options.longMessages,
                      "join the parts of long messages into one text (GSM modules); a text "
                      "beyond one record's 255 bytes comes as consecutive messages");
    receive->footer(
        "Prints 'time  sender  text' per message, the sender as the record gives it "
        "(8613912345678\n"
        "from a GSM module, +8613912345678 from a type-870 one). Messages the library took from\n"
        "the module before the end are printed too. --json: an array of {\"sender\", \"time\" (ISO "
        "8601),\n\"timestamp\" (the record's own text), \"text\"}; with --follow one object a "
        "line.");
    AddCommonOptions(*receive, options);

    CLI::App* const status =
        app.add_subcommand("status",
                           "start the service, wait until the module is initialised, say which "
                           "module it is, stop");
    status->footer(
        "Exits 0 when the module was initialised, 1 when the start or the initialisation failed.\n"
        "--json: {\"started\", \"family\", \"model\", \"error\"}.");
    AddCommonOptions(*status, options);
    // The options every command takes may also stand before the command, as scripts written
    // for 'tidewire --sim 666 status' have them.
    AddCommonOptions(app, options);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            return app.exit(error);  // --help or --version, printed on standard output
        }
        if (app.get_subcommands().empty() && argc > 1 && argv[1][0] != '-') {
            return Mistake(app, std::string("unknown command ") + argv[1]);
        }
        return Mistake(app, error.what());
    }

    CLI::App* const chosen = send->parsed() ? send : receive->parsed() ? receive : status;
    options.command = chosen == send      ? Command::Send
                      : chosen == receive ? Command::Receive
                                          : Command::Status;
    // Before and after the command count alike; CLI11 sees each side's exclusions alone.
    const auto given = [&](const char* name) { return app.count(name) + chosen->count(name); };
    const size_t where = given("--device") + given("--port") + given("--sim");
    if (where == 0) {
        return Mistake(app, "say where the module is: --device PATH, --port N or --sim FAMILY");
    }
    if (where > 1) {
        return Mistake(app, "say where the module is once: --device, --port or --sim");
    }
    if (!options.injections.empty() && given("--sim") == 0) {
        return Mistake(app, "--inject needs --sim");
    }
    return -1;
}

}  // namespace tidewire::cli

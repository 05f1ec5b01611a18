// tidewire-modemsim: a simulated GSM or CDMA modem on a pseudo-terminal, steered by text
// commands on stdin or a FIFO.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "ControlConsole.h"
#include "HexText.h"
#include "ModemEngine.h"
#include "PtyModem.h"

namespace {

using tidewire::sim::ControlConsole;
using tidewire::sim::EscapeForDisplay;
using tidewire::sim::ModemConfig;
using tidewire::sim::ModemEngine;
using tidewire::sim::ParseInt;
using tidewire::sim::PtyModem;
using tidewire::sim::TrafficDirection;

constexpr const char* kUsage =
    "usage: tidewire-modemsim [options]\n"
    "\n"
    "A simulated modem on a pseudo-terminal. Prints \"device: /dev/pts/N\" once it is ready,\n"
    "then reads control commands, one a line, from stdin (and from --control).\n"
    "\n"
    "options:\n"
    "  --family 666|870|860|865  module family (default 666, a GSM module)\n"
    "  --link PATH               make PATH a symbolic link to the pty\n"
    "  --first-index N           first message store index (default 1)\n"
    "  --capacity N              message store size (default 30)\n"
    "  --no-echo                 start with echo off (as after ATE0)\n"
    "  --no-sim                  start without a SIM card\n"
    "  --service-centre NUMBER   the number AT+CSCA? reports (default +8613800100500)\n"
    "  --control PATH            also read commands from the FIFO at PATH (made when\n"
    "                            missing, removed at exit); the program then runs until\n"
    "                            quit or a signal, not until stdin ends\n"
    "  --trace                   print the line traffic on stderr\n"
    "  --help                    this text\n"
    "\n"
    "Without --control the program ends when stdin ends.\n"
    "\n";

struct Options {
    ModemConfig config;
    std::string linkPath;
    std::string controlPath;
    bool trace = false;
};

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) {
                std::cerr << "tidewire-modemsim: " << argument << " needs a value\n";
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        const auto number = [&]() -> std::optional<int> {
            const auto text = value();
            if (!text) {
                return std::nullopt;
            }
            const auto parsed = ParseInt(*text);
            if (!parsed) {
                std::cerr << "tidewire-modemsim: " << argument << " needs a number, not '" << *text
                          << "'\n";
            }
            return parsed;
        };
        if (argument == "--help" || argument == "-h") {
            std::cout << kUsage << ControlConsole::Help();
            std::exit(0);
        } else if (argument == "--family") {
            const auto family = number();
            if (!family) {
                return std::nullopt;
            }
            options.config.family = *family;
        } else if (argument == "--first-index") {
            const auto first = number();
            if (!first) {
                return std::nullopt;
            }
            options.config.firstIndex = *first;
        } else if (argument == "--capacity") {
            const auto capacity = number();
            if (!capacity) {
                return std::nullopt;
            }
            options.config.capacity = *capacity;
        } else if (argument == "--link" || argument == "--control" ||
                   argument == "--service-centre") {
            const auto text = value();
            if (!text) {
                return std::nullopt;
            }
            (argument == "--link"      ? options.linkPath
             : argument == "--control" ? options.controlPath
                                       : options.config.serviceCentre) = *text;
        } else if (argument == "--no-echo") {
            options.config.echo = false;
        } else if (argument == "--no-sim") {
            options.config.simPresent = false;
        } else if (argument == "--trace") {
            options.trace = true;
        } else {
            std::cerr << "tidewire-modemsim: unknown option " << argument << "\n" << kUsage;
            return std::nullopt;
        }
    }
    return options;
}

// Reads what is there and hands over every complete line; false at end of input.
bool ReadLines(int fd, std::string& pending, ControlConsole& console, bool& quit) {
    char buffer[4096];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count == 0) {
        return false;
    }
    if (count < 0) {
        return errno == EAGAIN || errno == EINTR;
    }
    pending.append(buffer, static_cast<std::size_t>(count));
    for (std::size_t end = pending.find('\n'); end != std::string::npos && !quit;
         end = pending.find('\n')) {
        const ControlConsole::Outcome outcome = console.Execute(pending.substr(0, end));
        pending.erase(0, end + 1);
        std::cout << outcome.output << std::flush;
        quit = outcome.quit;
    }
    // A control line has no business being this long; drop it rather than grow without end.
    if (pending.size() > 65536) {
        pending.clear();
    }
    return true;
}

int OpenControlFifo(const std::string& path, bool& created) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        if (!S_ISFIFO(info.st_mode)) {
            std::cerr << "tidewire-modemsim: " << path << " exists and is not a FIFO\n";
            return -1;
        }
    } else if (mkfifo(path.c_str(), 0600) == 0) {
        created = true;
    } else {
        std::cerr << "tidewire-modemsim: cannot make FIFO " << path << ": " << std::strerror(errno)
                  << "\n";
        return -1;
    }
    // Opened for writing too, so that the FIFO never reports end of input between two writers.
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::cerr << "tidewire-modemsim: cannot open FIFO " << path << ": " << std::strerror(errno)
                  << "\n";
    }
    return fd;
}

int Run(const Options& options) {
    ModemEngine engine(options.config);
    if (options.trace) {
        engine.SetTrafficObserver([](TrafficDirection direction, std::string_view bytes) {
            std::cerr << (direction == TrafficDirection::HostToModem ? "host  > " : "modem < ")
                      << EscapeForDisplay(bytes) << "\n";
        });
    }
    PtyModem pty(engine, options.linkPath);
    pty.Start();

    bool createdFifo = false;
    int controlFd = -1;
    if (!options.controlPath.empty()) {
        controlFd = OpenControlFifo(options.controlPath, createdFifo);
        if (controlFd < 0) {
            return 1;
        }
    }

    std::cout << "device: " << pty.DevicePath() << "\n";
    if (!options.linkPath.empty()) {
        std::cout << "link: " << options.linkPath << "\n";
    }
    std::cout << "family: " << engine.Family() << " (" << engine.ModelText() << ")\n" << std::flush;

    ControlConsole console(engine, &pty);
    std::string stdinPending;
    std::string fifoPending;
    bool stdinOpen = true;
    bool quit = false;
    while (!quit) {
        pollfd fds[3] = {{signalPipe[0], POLLIN, 0},
                         {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0},
                         {controlFd, POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents & POLLIN) {
            break;
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            stdinOpen = ReadLines(STDIN_FILENO, stdinPending, console, quit);
            if (!stdinOpen && controlFd < 0) {
                quit = true;
            }
        }
        if (!quit && (fds[2].revents & POLLIN)) {
            ReadLines(controlFd, fifoPending, console, quit);
        }
    }

    pty.Stop();
    if (controlFd >= 0) {
        close(controlFd);
    }
    if (createdFifo) {
        unlink(options.controlPath.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = ParseOptions(argc, argv);
    if (!options) {
        return 2;
    }
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("tidewire-modemsim: pipe2");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    try {
        return Run(*options);
    } catch (const std::exception& error) {
        std::cerr << "tidewire-modemsim: " << error.what() << "\n";
        return 1;
    }
}

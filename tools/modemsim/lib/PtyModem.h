// Puts a ModemEngine behind a pseudo-terminal, so that a host opens the slave device as it
// would open a serial port. One thread reads what the host writes, feeds the engine and writes
// the answers back, slowed or chopped up as the engine's fault settings ask.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ModemEngine.h"

namespace tidewire::sim {

class WakePipe;

class PtyModem {
  public:
    // The engine must outlive the PtyModem. With a link path, Start makes a symbolic link there
    // to the slave device (replacing an older link, never a regular file).
    explicit PtyModem(ModemEngine& engine, std::string linkPath = "");
    ~PtyModem();
    PtyModem(const PtyModem&) = delete;
    PtyModem& operator=(const PtyModem&) = delete;

    // Opens the pty and starts the line thread. Throws std::system_error when the pty or the
    // link cannot be made. Does nothing when already running.
    void Start();
    // Stops the thread, closes the pty and removes the link. Returns promptly, also in the
    // middle of a slowed-down reply.
    void Stop();
    bool Running() const;

    // The slave device, such as /dev/pts/3; "" when stopped or hung up.
    std::string DevicePath() const;
    const std::string& LinkPath() const { return linkPath_; }

    // Pulls the plug: the pty is closed, so the host's open port fails, and the device path is
    // gone (the link too).
    void HangUp();
    // Plugs the module back in: a new pty, the link pointed at it, and the engine switched on
    // again (ModemEngine::PowerOn), as a module that lost its power with its cable. Throws
    // std::system_error.
    void Restore();
    bool HungUp() const;

  private:
    void OpenPty();
    void ClosePty();
    void RemoveLink();
    void StartThread();
    void StopThread();
    void Run();
    void OnHostClosed();
    void WriteReply(const std::string& bytes);
    bool WriteAll(const char* data, std::size_t size);
    bool Wait(int milliseconds);

    ModemEngine& engine_;
    const std::string linkPath_;
    std::shared_ptr<WakePipe> wake_;
    mutable std::mutex controlMutex_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    bool running_ = false;
    bool hungUp_ = false;
    int master_ = -1;
    int slave_ = -1;
    int hostCloses_ = -1;  // inotify: a host closed the device
    std::string devicePath_;
};

}  // namespace tidewire::sim

// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests of the real program need to run it as a user would: bounded
// waits for its processes and a private X server to show its windows on.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <thread>

namespace iwtest {

// Exit status of a child (minus the signal that ended it), -1000 when it has
// not ended within `limit`, or -2000 when it was already reaped.
int WaitExitWithin(pid_t pid, std::chrono::milliseconds limit);

// Ends a child that is still running (SIGKILL) and reaps it.
void KillAndReap(pid_t pid);

// SIGTERM, and SIGKILL when that does not end it within `grace`; pid is -1
// afterwards.
void StopChild(pid_t& pid, std::chrono::milliseconds grace);

// Whether `done()` became true within `limit`, asked every 50 ms.
template <typename F> bool PollFor(F done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// Whether a Unix socket at `path` accepts a connection (a bus is up).
bool Connectable(const std::string& path);

// The program's debug log in the sandbox.
std::string ProgramDebugLog();

// Whether `tool` is a program on PATH.
bool OnPath(const char* tool);

// A private X server on a free display, stopped when this goes away.
// display is -1 when none could be started.
class Xvfb {
  public:
    explicit Xvfb(const std::string& screen = "640x480x24");
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    int display = -1;
    std::string name() const { return ":" + std::to_string(display); }

  private:
    void start(int n, const std::string& screen);
    pid_t pid_ = -1;
    int readyFd_ = -1;
};

// Whether a window of exactly that title is mapped on the display.
bool WindowShown(const std::string& display, const std::string& title);

// A private D-Bus daemon in `dir` that starts no service on demand, stopped
// when this goes away. address is empty when none could be started.
class PrivateBus {
  public:
    explicit PrivateBus(const std::string& dir);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    std::string address;

  private:
    pid_t pid_ = -1;
};

} // namespace iwtest

// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop.h"

#include "../support/process.h"
#include "../support/temp_env.h"

#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace iwtest {

using namespace std::chrono_literals;

int WaitExitWithin(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            if (WIFEXITED(status)) return int(int8_t(WEXITSTATUS(status)));
            return -WTERMSIG(status);
        }
        if (r < 0) return -2000;
        if (std::chrono::steady_clock::now() >= end) return -1000;
        std::this_thread::sleep_for(20ms);
    }
}

void KillAndReap(pid_t pid) {
    if (pid > 0 && WaitExitWithin(pid, 0ms) == -1000) {
        kill(pid, SIGKILL);
        WaitExitWithin(pid, 10s);
    }
}

bool OnPath(const char* tool) {
    std::string out;
    return RunShell(std::string("command -v ") + tool, &out) == 0;
}

namespace {

// Whether display `n` is free. An X server of another mount namespace on
// this machine shows only by its abstract socket, which clients try first.
bool displayFree(int n) {
    if (access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0) return false;
    const std::string name = "/tmp/.X11-unix/X" + std::to_string(n);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path + 1, name.data(), name.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&a),
                           socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size())) == 0;
    close(fd);
    return free;
}

} // namespace

Xvfb::Xvfb(const std::string& screen) {
    for (int n = 20 + getpid() % 400, tries = 0; display < 0 && tries < 10; ++n, ++tries)
        if (displayFree(n)) start(n, screen);
}

void Xvfb::start(int n, const std::string& screen) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    // -noreset: when its last client leaves, a server resets and drops the
    // connections being opened meanwhile (a client that starts as a window
    // lookup ends sees "cannot open display").
    pid_ = Spawn({"Xvfb", ":" + std::to_string(n), "-displayfd", "3", "-screen", "0", screen,
                  "-nolisten", "tcp", "-noreset"},
                 {}, {.keep = fds[1]});
    close(fds[1]);
    // The number and the newline come in two writes, and the server quits
    // when the second finds the pipe closed: read the whole line.
    std::string line;
    char c;
    pollfd p{fds[0], POLLIN, 0};
    while (pid_ > 0 && line.find('\n') == std::string::npos && poll(&p, 1, 20000) == 1 &&
           read(fds[0], &c, 1) == 1)
        line += c;
    if (line.find('\n') != std::string::npos) display = std::atoi(line.c_str());
    // The server may write to the pipe again later: a closed pipe ends it.
    readyFd_ = fds[0];
    if (display < 0) {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        close(readyFd_);
        pid_ = readyFd_ = -1;
    }
}

Xvfb::~Xvfb() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (readyFd_ >= 0) close(readyFd_);
}

void StopChild(pid_t& pid, std::chrono::milliseconds grace) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (WaitExitWithin(pid, grace) == -1000) KillAndReap(pid);
    pid = -1;
}

bool Connectable(const std::string& path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path) return false;
    std::memcpy(a.sun_path, path.data(), path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

std::string ProgramDebugLog() {
    return ReadFile(SandboxDir() + "/state/inboxwarden/debug_info.txt");
}

bool WindowShown(const std::string& display, const std::string& title) {
    return WaitExit(Spawn({"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"},
                          {{"DISPLAY", display}})) == 0;
}

PrivateBus::PrivateBus(const std::string& dir) {
    WriteFile(dir + "/bus.conf", "<busconfig><type>session</type><listen>unix:path=" + dir +
                                     "/bus</listen><policy context=\"default\">"
                                     "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                                     "<allow own=\"*\"/></policy></busconfig>");
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    // It prints its address once it listens.
    pid_ = Spawn(
        {"dbus-daemon", "--config-file=" + dir + "/bus.conf", "--nofork", "--print-address=3"}, {},
        {.keep = fds[1]});
    close(fds[1]);
    char c;
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n')
        address += c;
    close(fds[0]);
}

PrivateBus::~PrivateBus() {
    StopChild(pid_, std::chrono::seconds(5));
}

} // namespace iwtest

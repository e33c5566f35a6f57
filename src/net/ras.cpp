// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/ras.h"

#include "common/translate.h"
#include "platform/log.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// What one call may print before the rest is dropped: a listing of every
// configured connection stays far below it.
constexpr size_t kOutputMax = size_t{1} << 20;

std::mutex g_mu;
std::string g_dialled; // the entry this program brought up
std::atomic<int> g_dialTimeout{RAS_DIAL_TIMEOUT};
std::atomic<int> g_queryTimeout{RAS_QUERY_TIMEOUT};

struct RUN_RESULT {
    int status = RAS_NOT_AVAILABLE; // exit status, RAS_NOT_AVAILABLE, RAS_TIMED_OUT, RAS_CANCELLED
    std::string out;
    std::string err;
};

std::string findOnPath(const char* name) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "/usr/bin:/bin";
    while (true) {
        const size_t colon = rest.find(':');
        const std::string dir(rest.substr(0, colon));
        // An empty or relative entry would run whatever "nmcli" the current
        // folder holds.
        const std::string candidate = dir + "/" + name;
        struct stat st {};
        if (dir.starts_with('/') && stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos) return "";
        rest.remove_prefix(colon + 1);
    }
}

// Runs nmcli with args (no shell), its output in C-locale form, and stops it
// after timeoutSec or once abort (may be null) is triggered.
RUN_RESULT runNmcli(const std::vector<std::string>& args, int timeoutSec,
                    const SockAbort* abort = nullptr) {
    RUN_RESULT r;
    const std::string exe = findOnPath("nmcli");
    if (exe.empty()) return r;

    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return r;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return r;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    // Sockets and files of the program are none of nmcli's business.
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // States and messages are parsed: they must not come translated.
    std::vector<std::string> envText;
    for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, "LC_ALL=", 7) != 0 && std::strncmp(*e, "LANGUAGE=", 9) != 0)
            envText.emplace_back(*e);
    envText.emplace_back("LC_ALL=C");
    std::vector<char*> envp;
    for (std::string& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int src = posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    if (src != 0) {
        close(out[0]);
        close(err[0]);
        DebugLog_Write("RAS: cannot start %s (%s)\n", exe.c_str(), std::strerror(src));
        return r;
    }

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(std::max(1, timeoutSec));
    auto msLeft = [&] {
        return static_cast<int>(
            std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                       deadline - std::chrono::steady_clock::now())
                                       .count()));
    };
    const int abortFd = abort ? abort->WaitFd() : -1;
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {abortFd, POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open = 2;
    bool timedOut = false, aborted = false;
    while (open > 0) {
        const int left = msLeft();
        if (abort && abort->Triggered()) {
            aborted = true;
            break;
        }
        if (left == 0) {
            timedOut = true;
            break;
        }
        // Without an eventfd the flag is looked at several times a second.
        const int n = poll(fds, 3, abort && abortFd < 0 ? std::min(left, 200) : left);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        if (n == 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                if (sinks[i]->size() < kOutputMax)
                    sinks[i]->append(buf, std::min<size_t>(static_cast<size_t>(got),
                                                           kOutputMax - sinks[i]->size()));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (int i = 0; i < 2; ++i)
        if (fds[i].fd >= 0) close(fds[i].fd);

    int status = 0;
    bool reaped = false;
    while (!timedOut && !aborted) {
        const pid_t w = waitpid(pid, &status, WNOHANG);
        if (w == pid) {
            reaped = true;
            break;
        }
        if (w < 0 && errno != EINTR) break; // someone else reaped it: no answer to trust
        if (abort && abort->Triggered()) {
            aborted = true;
            break;
        }
        if (msLeft() == 0) {
            timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (timedOut || aborted) {
        kill(pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        r.status = aborted ? RAS_CANCELLED : RAS_TIMED_OUT;
    } else {
        r.status = reaped && WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    std::string line;
    for (const std::string& a : args)
        line += " " + a;
    DebugLog_Write("RAS: nmcli%s -> %d\n", line.c_str(), r.status);
    if (r.status != 0 && !r.err.empty()) DebugLog_Write("RAS: nmcli says: %.256s\n", r.err.c_str());
    return r;
}

// The fields of one line of nmcli's terse output: ':' separates them, and a
// ':' or '\' inside a value comes escaped with '\'.
std::vector<std::string> terseFields(std::string_view line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            fields.back() += line[++i];
        } else if (line[i] == ':') {
            fields.emplace_back();
        } else {
            fields.back() += line[i];
        }
    }
    return fields;
}

std::vector<std::vector<std::string>> terseLines(const std::string& out) {
    std::vector<std::vector<std::string>> lines;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t eol = out.find('\n', pos);
        if (eol == std::string::npos) eol = out.size();
        std::string_view line(out.data() + pos, eol - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) lines.push_back(terseFields(line));
        pos = eol + 1;
    }
    return lines;
}

bool usableName(std::string_view entry) {
    return !entry.empty() &&
           entry.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

bool dialUpType(std::string_view type) {
    return type == "gsm" || type == "cdma" || type == "pppoe" || type == "bluetooth";
}

void takeDown(const std::string& entry) {
    runNmcli({"connection", "down", "id", entry}, g_queryTimeout.load());
}

} // namespace

void Ras_SetTimeouts(int dialSec, int querySec) {
    g_dialTimeout.store(std::max(1, dialSec));
    g_queryTimeout.store(std::max(1, querySec));
}

int Ras_Load() {
    return findOnPath("nmcli").empty() ? 0 : 1;
}

int Ras_IsConnected(std::string_view entry) {
    if (!entry.empty() && !usableName(entry)) return 0;
    const RUN_RESULT r = runNmcli({"-t", "-f", "NAME,TYPE,STATE", "connection", "show", "--active"},
                                  g_queryTimeout.load());
    if (r.status == RAS_NOT_AVAILABLE) return 0;
    std::string state; // empty: not listed as active
    bool readable = r.status == 0;
    if (readable) {
        for (const auto& f : terseLines(r.out)) {
            if (f.size() < 3) continue;
            if (entry.empty() ? dialUpType(f[1]) : f[0] == entry) {
                state = f[2];
                break;
            }
        }
    }
    if (state == "activated") return 1;
    std::string ours;
    {
        std::lock_guard lock(g_mu);
        ours = g_dialled;
    }
    // Our line dropped (or cannot be asked about): it is hung up, so that a
    // later check dials afresh.
    const bool oursGone =
        !readable || (!ours.empty() && (entry.empty() || ours == entry) &&
                      (state.empty() || state == "deactivating" || state == "deactivated"));
    if (!ours.empty() && oursGone) Ras_HangUp();
    return 0;
}

int Ras_Dial(std::string_view entry, int* error, const SockAbort* abort) {
    int ignored;
    if (!error) error = &ignored;
    *error = 0;
    if (!usableName(entry)) {
        *error = RAS_BAD_NAME;
        return 0;
    }
    if (!Ras_Load()) {
        *error = RAS_NOT_AVAILABLE;
        return 0;
    }
    if (Ras_IsConnected(entry)) return 1;
    const std::string name(entry);
    // nmcli gives up by itself first; our limit only catches one that hangs.
    const int limit = g_dialTimeout.load();
    const RUN_RESULT r = runNmcli({"--wait", std::to_string(limit), "connection", "up", "id", name},
                                  limit + 5, abort);
    if (r.status == 0) {
        std::lock_guard lock(g_mu);
        g_dialled = name;
        return 1;
    }
    *error = r.status;
    if (r.status != RAS_NOT_AVAILABLE) takeDown(name);
    return 0;
}

void Ras_HangUp() {
    std::string ours;
    {
        std::lock_guard lock(g_mu);
        ours.swap(g_dialled);
    }
    if (!ours.empty()) takeDown(ours);
}

void Ras_Forget() {
    std::lock_guard lock(g_mu);
    g_dialled.clear();
}

std::string Ras_Dialled() {
    std::lock_guard lock(g_mu);
    return g_dialled;
}

int Ras_EnumEntries(std::vector<std::string>* names) {
    if (names) names->clear();
    const RUN_RESULT r =
        runNmcli({"-t", "-f", "NAME", "connection", "show"}, g_queryTimeout.load());
    if (r.status != 0) return r.status;
    if (names)
        for (const auto& f : terseLines(r.out))
            names->push_back(f[0]);
    return 0;
}

const char* Ras_ErrorText(int code) {
    switch (code) {
    case RAS_NOT_AVAILABLE:
        return IW_N_("Inboxwarden", "NetworkManager (nmcli) is not available");
    case RAS_TIMED_OUT:
        return IW_N_("Inboxwarden", "The connection did not come up in time");
    case RAS_BAD_NAME:
        return IW_N_("Inboxwarden", "No valid dial-up entry is chosen");
    case RAS_CANCELLED:
        return IW_N_("Inboxwarden", "Dialing was cancelled");
    case 2:
        return IW_N_("Inboxwarden", "Invalid dial-up entry");
    case 3:
        return IW_N_("Inboxwarden", "The connection did not come up in time");
    case 4:
        return IW_N_("Inboxwarden", "The connection could not be activated");
    case 5:
        return IW_N_("Inboxwarden", "The connection could not be deactivated");
    case 8:
        return IW_N_("Inboxwarden", "NetworkManager is not running");
    case 10:
        return IW_N_("Inboxwarden", "No such connection");
    default:
        return IW_N_("Inboxwarden", "Undefined RAS Error.");
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line check of an account whose box the server matches (the
// steady state), as a whole process, beside a raw POP3 client process that
// logs in, lists the ids and quits: the floor any check pays. The two run
// alternately so that both meet the same load of a shared machine. Also
// says whether the steady checks rewrote the profile (they must not).
// usage: iw_bench_cli_check CLI PROFILE ACCOUNT HOST PORT USER PASSWORD [RUNS]
//        iw_bench_cli_check --raw HOST PORT USER PASSWORD   (the raw client)
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

int rawClient(const char* host, int port, const std::string& user, const std::string& pass) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host, &a.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 1;
    std::string buf;
    // Reads up to the end of a one-line reply, or of a multi-line one.
    auto reply = [&](bool multi) {
        buf.clear();
        char chunk[65536];
        for (;;) {
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n <= 0) return false;
            buf.append(chunk, static_cast<size_t>(n));
            if (buf.compare(0, 1, "-") == 0) return false;
            if (!multi && buf.find("\r\n") != std::string::npos) return true;
            if (multi && buf.size() >= 5 && buf.compare(buf.size() - 5, 5, "\r\n.\r\n") == 0)
                return true;
        }
    };
    auto cmd = [&](const std::string& c, bool multi) {
        const std::string line = c + "\r\n";
        return write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
               reply(multi);
    };
    const bool ok = reply(false) && cmd("USER " + user, false) && cmd("PASS " + pass, false) &&
                    cmd("STAT", false) && cmd("UIDL", true) && cmd("QUIT", false);
    close(fd);
    return ok ? 0 : 1;
}

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Runs a program to its end with its output discarded; its wall time.
double timed(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    const double t0 = now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot run %s\n", argv[0]);
        std::exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double t = now() - t0;
    posix_spawn_file_actions_destroy(&fa);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", argv[0], status);
        std::exit(1);
    }
    return t;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string stamp(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return "";
    return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + "/" +
           std::to_string(st.st_size);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--raw") == 0)
        return rawClient(argv[2], std::atoi(argv[3]), argv[4], argv[5]);
    if (argc != 8 && argc != 9) {
        std::fprintf(stderr,
                     "usage: %s CLI PROFILE ACCOUNT HOST PORT USER PASSWORD [RUNS]\n"
                     "       %s --raw HOST PORT USER PASSWORD\n",
                     argv[0], argv[0]);
        return 2;
    }
    const std::string cli = argv[1], profile = argv[2], account = argv[3];
    const int runs = argc == 9 ? std::max(1, std::atoi(argv[8])) : 11;
    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) return 1;
    self[len] = '\0';
    const std::vector<std::string> raw = {self, "--raw", argv[4], argv[5], argv[6], argv[7]};
    const std::vector<std::string> check = {cli, "--profile", profile, "check", account};

    timed(check); // the box now matches the server
    const std::string before = stamp(profile);
    std::vector<double> rawTimes, cliTimes;
    for (int i = 0; i < runs; ++i) {
        rawTimes.push_back(timed(raw));
        cliTimes.push_back(timed(check));
    }
    const double r = median(rawTimes), c = median(cliTimes);
    std::printf("raw client process (login+STAT+UIDL+QUIT)  %.4f s (median of %d)\n", r, runs);
    std::printf("inboxwarden-cli check, steady state         %.4f s  (%.2fx the raw client)\n", c,
                c / r);
    std::printf("profile rewritten by the steady checks: %s\n",
                stamp(profile) == before ? "no" : "YES");
    return 0;
}

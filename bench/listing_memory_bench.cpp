// SPDX-License-Identifier: GPL-3.0-or-later
// Peak resident memory of one account check over a very long UIDL listing
// that the server follows with a hang-up: the check must fail, keep the box,
// and hold no more than a small multiple of what the server sent.
//   iw_bench_listing_memory [N] [--sizes | --known]
// N ids (default 1,000,000, about 20 MB on the wire), STAT agreeing. The
// server hangs up at the command after the listing; with --sizes it first
// answers the whole-maildrop LIST too and hangs up at the first TOP. With
// --known the box already holds every listed id (the walk confirms them all
// and the hang-up comes at the closing STAT); the records are resident
// before the check starts. The server runs in a child process, so its own
// memory is not counted.
#include "check_once.h"
#include "common/status.h"
#include "engine/pop3acc.h"
#include "net/pop3.h"
#include "platform/registry.h"
#include "settings/msgbox.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// "VmHWM" or "VmRSS" of this process, in kB.
long statusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
    return -1;
}

bool sendAll(int fd, const std::string& s) {
    size_t off = 0;
    while (off < s.size()) {
        const ssize_t n = send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

// The listing, sent a megabyte at a time; returns the bytes sent.
size_t sendListing(int fd, int n, bool sizes) {
    std::string out = "+OK\r\n";
    size_t total = 0;
    char line[64];
    for (int i = 1; i <= n; ++i) {
        const int len = sizes ? std::snprintf(line, sizeof line, "%d %d\r\n", i, 1000 + i % 5000)
                              : std::snprintf(line, sizeof line, "%d msg-%07d\r\n", i, i);
        out.append(line, static_cast<size_t>(len));
        if (out.size() > (1u << 20)) {
            total += out.size();
            if (!sendAll(fd, out)) return total;
            out.clear();
        }
    }
    out += ".\r\n";
    total += out.size();
    sendAll(fd, out);
    return total;
}

[[noreturn]] void serve(int listenFd, int n, bool sizes) {
    const int c = accept(listenFd, nullptr, nullptr);
    sendAll(c, "+OK ready\r\n");
    std::string in;
    char buf[4096];
    for (;;) {
        size_t eol;
        while ((eol = in.find("\r\n")) == std::string::npos) {
            const ssize_t got = recv(c, buf, sizeof buf, 0);
            if (got <= 0) _exit(0);
            in.append(buf, static_cast<size_t>(got));
        }
        const std::string cmd = in.substr(0, eol);
        in.erase(0, eol + 2);
        if (cmd.rfind("USER", 0) == 0 || cmd.rfind("PASS", 0) == 0) {
            sendAll(c, "+OK\r\n");
        } else if (cmd == "STAT") {
            sendAll(c, "+OK " + std::to_string(n) + " " + std::to_string(n * 1000L) + "\r\n");
        } else if (cmd == "UIDL") {
            std::fprintf(stderr, "UIDL listing: %zu bytes\n", sendListing(c, n, false));
        } else if (cmd == "LIST" && sizes) {
            std::fprintf(stderr, "LIST listing: %zu bytes\n", sendListing(c, n, true));
        } else {
            close(c); // the hang-up
            _exit(0);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    int n = 1000000;
    bool sizes = false, known = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sizes") == 0)
            sizes = true;
        else if (std::strcmp(argv[i], "--known") == 0)
            known = true;
        else
            n = std::atoi(argv[i]);
    }
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 1) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 2;
    const pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) serve(fd, n, sizes);
    close(fd);

    char tmpl[] = "/tmp/iw-bench-listing-XXXXXX";
    if (!mkdtemp(tmpl)) return 2;
    RegStore_Open(std::string(tmpl) + "/registry.db");
    ACCOUNT acc;
    acc.Name = "listing";
    acc.ChkServer = "127.0.0.1";
    acc.ChkPort = ntohs(a.sin_port);
    acc.ChkLogin = "bench";
    acc.ChkPswd = "pw";
    for (int i = 1; known && i <= n; ++i) {
        MSG_RECORD r = MsgRecord_Empty();
        char id[32];
        std::snprintf(id, sizeof id, "msg-%07d", i);
        r.SetText(MSGF_ID, id);
        r.Status = MSG_OLD;
        MsgBox_AddMsg(&acc.hMsgBox, &r, &acc, 0);
    }

    const long before = statusKb("VmRSS:");
    const uint32_t rc = Bench_CheckOnce(acc);
    char text[96];
    Pop3_GetLastError(text, sizeof text);
    const long peak = statusKb("VmHWM:");
    const long after = statusKb("VmRSS:");
    waitpid(child, nullptr, 0);

    std::printf("ids listed                   %d%s\n", n,
                sizes   ? " (and their sizes)"
                : known ? " (all in the box)"
                        : "");
    std::printf("check result                 0x%X \"%s\", %d records in the box\n", rc, text,
                MsgBox_GetCount(acc.hMsgBox));
    std::printf("resident before the check    %.1f MB\n", before / 1024.0);
    std::printf("peak resident (VmHWM)        %.1f MB (%.1f MB above the start)\n", peak / 1024.0,
                (peak - before) / 1024.0);
    std::printf("resident after the check     %.1f MB\n", after / 1024.0);
    MsgBox_Destroy(&acc.hMsgBox);
    const std::string rm = std::string("rm -rf ") + tmpl;
    return std::system(rm.c_str()) == 0 && rc != 0 ? 0 : 1;
}

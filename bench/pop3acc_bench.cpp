// SPDX-License-Identifier: GPL-3.0-or-later
// Account check on a large mailbox, beside a minimal raw POP3 client on the
// same server for scale. Run through bench/pop3acc-bench.sh, which starts a
// private POP3 server with N seeded messages and passes it here:
//   iw_bench_pop3acc HOST PORT USER PASSWORD [POP3S_PORT]
// Prints wall-clock seconds (best of a few runs) for:
//   raw login + UIDL, raw login + UIDL + one TOP n 0 per message (one at a
//   time, and pipelined as RFC 2449 allows), the first check (every message
//   new), a steady-state check (all known), and with POP3S_PORT the
//   steady-state check over POP3S (the certificate verified against the CA
//   store the environment names); each with its target beside it.
#include "check_once.h"
#include "engine/pop3acc.h"
#include "net/pop3.h"
#include "platform/registry.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The floor: a client that does nothing but the protocol.
class Raw {
  public:
    Raw(const char* host, int port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, host, &a.sin_addr);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::exit(2);
        // As the check does: a pipelined batch must not wait for the
        // previous one's acknowledgement.
        const int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        readUntil("\r\n");
    }
    ~Raw() { close(fd_); }
    void cmd(const std::string& line, bool multi) {
        const std::string out = line + "\r\n";
        if (send(fd_, out.data(), out.size(), 0) < 0) std::exit(2);
        readUntil(multi ? "\r\n.\r\n" : "\r\n");
    }

    const std::string& answer() const { return buf_; }

    // One "TOP i 0" per message, up to `window` of them unanswered, the
    // answers read as they come.
    void pipelinedTops(int n, int window) {
        std::string in;
        size_t start = 0, scan = 0;
        int sent = 0, answered = 0;
        char chunk[65536];
        while (answered < n) {
            if (sent - answered <= window / 2 && sent < n) {
                std::string out;
                for (; sent < n && sent - answered < window; ++sent)
                    out += "TOP " + std::to_string(sent + 1) + " 0\r\n";
                if (send(fd_, out.data(), out.size(), 0) < 0) std::exit(2);
            }
            const ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
            if (got <= 0) std::exit(2);
            in.append(chunk, static_cast<size_t>(got));
            for (;;) {
                const size_t at = in.find("\r\n.\r\n", scan > start + 4 ? scan - 4 : start);
                if (at == std::string::npos) break;
                start = scan = at + 5;
                ++answered;
            }
            scan = in.size();
            if (start > in.size() / 2) {
                in.erase(0, start);
                scan -= start;
                start = 0;
            }
        }
    }

  private:
    void readUntil(const char* end) {
        const size_t n = std::strlen(end);
        buf_.clear();
        char chunk[65536];
        for (;;) {
            const ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
            if (got <= 0) std::exit(2);
            buf_.append(chunk, static_cast<size_t>(got));
            if (buf_[0] == '-' && buf_.size() >= 2 && buf_.compare(buf_.size() - 2, 2, "\r\n") == 0)
                return;
            if (buf_.size() >= n && buf_.compare(buf_.size() - n, n, end) == 0) return;
        }
    }
    int fd_;
    std::string buf_;
};

template <typename F> double best(int runs, F&& f) {
    double b = 1e9;
    for (int i = 0; i < runs; ++i) {
        const double t0 = now();
        f();
        b = std::min(b, now() - t0);
    }
    return b;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: %s HOST PORT USER PASSWORD [POP3S_PORT]\n", argv[0]);
        return 2;
    }
    const char* host = argv[1];
    const int port = std::atoi(argv[2]);
    const std::string user = argv[3], pass = argv[4];
    char tmpl[] = "/tmp/iw-bench-store-XXXXXX";
    if (!mkdtemp(tmpl)) return 2;
    RegStore_Open(std::string(tmpl) + "/registry.db");

    int n = 0;
    bool pipelining = false;
    {
        Raw r(host, port);
        r.cmd("CAPA", true);
        pipelining = r.answer().find("\r\nPIPELINING\r\n") != std::string::npos;
        r.cmd("QUIT", false);
    }
    auto rawUidlPass = [&] {
        Raw r(host, port);
        r.cmd("USER " + user, false);
        r.cmd("PASS " + pass, false);
        r.cmd("STAT", false);
        r.cmd("UIDL", true);
        r.cmd("QUIT", false);
    };
    // The first pass builds the server's index; the floor is measured
    // beside the steady checks below, under the same load.
    rawUidlPass();
    double rawUidl = 1e9;
    ACCOUNT probe;
    probe.Name = "probe";
    probe.ChkServer = host;
    probe.ChkPort = port;
    probe.ChkLogin = user;
    probe.ChkPswd = pass;

    auto runCheck = [&](ACCOUNT& acc) {
        if (const uint32_t rc = Bench_CheckOnce(acc); rc != 0) {
            char text[96];
            Pop3_GetLastError(text, sizeof text);
            std::fprintf(stderr, "check failed: 0x%X %s\n", rc, text);
            std::exit(1);
        }
    };
    // The steady state over POP3S is measured alternately with the plain
    // one, so that both meet the same load of a shared machine.
    const bool tls = argc == 6;
    double first = 1e9, steady = 1e9, steadyTls = 1e9;
    for (int run = 0; run < 2; ++run) {
        ACCOUNT acc = probe;
        acc.Name = "bench" + std::to_string(run);
        ACCOUNT accTls = probe;
        accTls.Name = "benchtls" + std::to_string(run);
        accTls.ChkSecurity = 2;
        accTls.ChkPort = tls ? std::atoi(argv[5]) : 0;
        const double t0 = now();
        runCheck(acc);
        first = std::min(first, now() - t0);
        n = MsgBox_GetCount(acc.hMsgBox);
        if (tls) runCheck(accTls);
        for (int k = 0; k < 4; ++k) {
            rawUidl = std::min(rawUidl, best(1, rawUidlPass));
            const double t1 = now();
            runCheck(acc);
            steady = std::min(steady, now() - t1);
            if (!tls) continue;
            const double t2 = now();
            runCheck(accTls);
            steadyTls = std::min(steadyTls, now() - t2);
        }
        MsgBox_Destroy(&acc.hMsgBox);
        MsgBox_Destroy(&accTls.hMsgBox);
    }
    // One TOP per message, as the first check sends them.
    const double rawTopN = best(2, [&] {
        Raw r(host, port);
        r.cmd("USER " + user, false);
        r.cmd("PASS " + pass, false);
        r.cmd("UIDL", true);
        for (int i = 1; i <= n; ++i)
            r.cmd("TOP " + std::to_string(i) + " 0", true);
        r.cmd("QUIT", false);
    });
    // The same TOPs with up to 150 unanswered (about the check's window).
    const double rawTopPipe = best(2, [&] {
        Raw r(host, port);
        r.cmd("USER " + user, false);
        r.cmd("PASS " + pass, false);
        r.cmd("UIDL", true);
        r.pipelinedTops(n, 150);
        r.cmd("QUIT", false);
    });
    std::printf("messages                         %d (the server lists PIPELINING: %s)\n", n,
                pipelining ? "yes" : "no");
    std::printf("raw login + UIDL                 %.3f s\n", rawUidl);
    std::printf("raw login + UIDL + %d x TOP 0  %.3f s  (one at a time)\n", n, rawTopN);
    std::printf("raw login + UIDL + %d x TOP 0  %.3f s  (pipelined)\n", n, rawTopPipe);
    std::printf("first check (all new, TOP 0)     %.3f s  (%.2fx the pipelined raw pass; target "
                "<= 1.2x)\n",
                first, first / rawTopPipe);
    std::printf("steady-state check (all known)   %.3f s  (%.2fx the raw UIDL pass; target <= "
                "1.1x)\n",
                steady, steady / rawUidl);
    if (tls)
        std::printf("steady-state check over POP3S    %.3f s  (%.2fx the plain check)\n", steadyTls,
                    steadyTls / steady);
    std::string rm = std::string("rm -rf ") + tmpl;
    return std::system(rm.c_str()) == 0 ? 0 : 1;
}

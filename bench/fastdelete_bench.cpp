// SPDX-License-Identifier: GPL-3.0-or-later
// Fast delete on a large maildrop: a loopback server answering the login,
// a UIDL listing of N messages and every DELE, and the box update that
// follows. Shows that matching is linear in the listing and the ids, and
// that dropping many records from a large box is one pass.
#include "net/fastpop3.h"
#include "settings/account.h"
#include "settings/msgbox.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

std::string Uid(int i) {
    char s[32];
    std::snprintf(s, sizeof s, "msg-%06d", i);
    return s;
}

// Serves one session per accept: greeting, +OK to everything, the listing
// for UIDL.
class Server {
  public:
    explicit Server(int n) {
        listing_ = "+OK\r\n";
        for (int i = 1; i <= n; ++i)
            listing_ += std::to_string(i) + " " + Uid(i) + "\r\n";
        listing_ += ".\r\n";
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        listen(fd_, 4);
    }
    ~Server() { close(fd_); }
    uint16_t port() const { return port_; }

    std::thread ServeOne() {
        return std::thread([this] {
            const int c = accept(fd_, nullptr, nullptr);
            send(c, "+OK hi\r\n", 8, 0);
            std::string in;
            char buf[65536];
            for (;;) {
                const ssize_t got = recv(c, buf, sizeof buf, 0);
                if (got <= 0) break;
                in.append(buf, static_cast<size_t>(got));
                size_t eol;
                while ((eol = in.find("\r\n")) != std::string::npos) {
                    const std::string line = in.substr(0, eol);
                    in.erase(0, eol + 2);
                    const std::string& answer = line == "UIDL" ? listing_ : ok_;
                    send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
                    if (line == "QUIT") {
                        close(c);
                        return;
                    }
                }
            }
            close(c);
        });
    }

  private:
    int fd_;
    uint16_t port_;
    std::string listing_;
    std::string ok_ = "+OK\r\n";
};

// Deletes every tenth message of a maildrop of N.
void BM_FastDeleteSession(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Server server(n);
    std::vector<std::string> ids;
    for (int i = 10; i <= n; i += 10)
        ids.push_back(Uid(i));
    FASTPOP3_SESSION s;
    s.server = "127.0.0.1";
    s.port = server.port();
    s.login = "u";
    s.password = "p";
    for (auto _ : state) {
        std::thread t = server.ServeOne();
        FASTPOP3_RESULT r;
        FastPOP3_Delete(s, ids, &r);
        t.join();
        if (r.deleted.size() != ids.size()) state.SkipWithError("not every id was deleted");
    }
    state.counters["listed"] = n;
    state.counters["deleted"] = static_cast<double>(ids.size());
}
BENCHMARK(BM_FastDeleteSession)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

// Drops every tenth record of a box of N (records not persisted: the store
// write per record is the registry benchmark's subject).
void BM_DropConfirmedRecords(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    ACCOUNT acc;
    acc.Name = "Bench";
    std::vector<std::string> ids;
    for (int i = 10; i <= n; i += 10)
        ids.push_back(Uid(i));
    for (auto _ : state) {
        state.PauseTiming();
        MsgBox_Destroy(&acc.hMsgBox);
        for (int i = 1; i <= n; ++i) {
            MSG_RECORD r = MsgRecord_Empty();
            r.SetText(MSGF_ID, Uid(i));
            MsgBox_AddMsg(&acc.hMsgBox, &r, &acc, 0);
        }
        state.ResumeTiming();
        MsgBox_DropMsgs(acc.hMsgBox, ids, nullptr);
    }
    MsgBox_Destroy(&acc.hMsgBox);
}
BENCHMARK(BM_DropConfirmedRecords)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

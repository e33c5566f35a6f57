// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted POP3 server for FakePeer that answers from a table of messages,
// for what a real server will not do: no UIDL, no TOP, -ERR at each step,
// broken listings, stalls, disconnects, an unconfirmed QUIT.
#pragma once

#include "fake_peer.h"

#include <atomic>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace iwtest {

struct FakeMessage {
    std::string uidl;
    std::string header; // CRLF lines, without the empty line
    std::string body = "Hello.\r\n";
};

// How the server reads and answers: the plain connection, or TLS after STLS.
struct FakeIo {
    std::function<std::string()> readLine; // one line with its CRLF, "" once closed
    std::function<bool(std::string_view)> send;
    std::function<size_t()> buffered; // bytes read ahead of the last line
};

// Knobs change one answer at a time so each test shows one fault.
struct FakeServer {
    std::vector<FakeMessage> msgs;
    bool uidl = true;
    bool top = true;
    std::string greeting = "+OK ready <1.2@fake>\r\n";
    std::map<std::string, std::string> errOn; // command word -> "-ERR ..." line
    std::string listing;                      // replaces the UIDL/LIST listing when set
    std::string sizeListing;                  // replaces the LIST listing when set
    std::string statReply;                    // replaces the STAT answer when set
    std::string closeAfter; // the command word (or line) after whose answer it hangs up
    std::string quitReply = "+OK bye\r\n";
    bool closeOnQuit = false;
    std::string silentOn;                     // command line prefix never answered
    std::vector<std::string>* seen = nullptr; // commands received, in order
    std::string capa;                         // CAPA listing lines (unset: "-ERR")
    std::string capaTls;                      // the listing once TLS is on
    size_t chunk = 0;                         // answers go out in pieces this long
    // Answers STLS: "+OK", then returns the TLS reader and writer.
    std::function<FakeIo(iwtest::PeerConn&)> startTls;
    std::atomic<int> pipelined{0}; // commands that came before the previous one was answered
    std::atomic<int> deleted{0};
    std::atomic<int> quits{0};         // sessions that got as far as QUIT
    std::atomic<bool> silenced{false}; // silentOn was reached

    std::string full(const FakeMessage& m) const { return m.header + "\r\n" + m.body; }

    void Serve(iwtest::PeerConn& c) {
        FakeIo io{[&c] { return c.ReadLine(); },
                  [&c, this](std::string_view data) {
                      if (chunk == 0) return c.Send(data);
                      c.SendInChunks(data, chunk);
                      return true;
                  },
                  [&c] { return c.Buffered(); }};
        io.send(greeting);
        std::set<int> dele;
        bool tls = false;
        for (;;) {
            std::string line = io.readLine();
            if (line.empty()) return;
            if (io.buffered() > 0) ++pipelined;
            line.resize(line.size() - 2);
            if (seen) seen->push_back(line);
            const std::string word = line.substr(0, line.find(' '));
            const int arg = std::atoi(line.c_str() + std::min(line.size(), word.size() + 1));
            if (!silentOn.empty() && line.rfind(silentOn, 0) == 0) {
                silenced = true;
                c.WaitClosed(60000);
                return;
            }
            if (auto it = errOn.find(word); it != errOn.end()) {
                io.send(it->second);
                continue;
            }
            if (word == "CAPA" && !(tls ? capaTls : capa).empty()) {
                io.send("+OK\r\n" + (tls ? capaTls : capa) + ".\r\n");
            } else if (word == "STLS" && startTls && !tls) {
                io.send("+OK begin TLS\r\n");
                io = startTls(c);
                tls = true;
            } else if (word == "USER" || word == "PASS" || word == "APOP" || word == "NOOP") {
                io.send("+OK\r\n");
            } else if (word == "STAT") {
                size_t total = 0;
                for (auto& m : msgs)
                    total += full(m).size();
                io.send(!statReply.empty() ? statReply
                                           : "+OK " + std::to_string(msgs.size()) + " " +
                                                 std::to_string(total) + "\r\n");
            } else if (word == "UIDL" && uidl) {
                std::string out = "+OK\r\n";
                for (size_t i = 0; i < msgs.size(); ++i)
                    out += std::to_string(i + 1) + " " + msgs[i].uidl + "\r\n";
                io.send(listing.empty() ? out + ".\r\n" : "+OK\r\n" + listing);
            } else if (word == "LIST" && line.size() > 4) {
                io.send("+OK " + std::to_string(arg) + " " +
                        std::to_string(full(msgs[arg - 1]).size()) + "\r\n");
            } else if (word == "LIST") {
                std::string out = "+OK\r\n";
                for (size_t i = 0; i < msgs.size(); ++i)
                    out +=
                        std::to_string(i + 1) + " " + std::to_string(full(msgs[i]).size()) + "\r\n";
                io.send(!sizeListing.empty() ? "+OK\r\n" + sizeListing
                        : listing.empty()    ? out + ".\r\n"
                                             : "+OK\r\n" + listing);
            } else if (word == "TOP" && top) {
                io.send("+OK\r\n" + msgs[arg - 1].header + "\r\n\r\n.\r\n");
            } else if (word == "RETR") {
                io.send("+OK\r\n" + full(msgs[arg - 1]) + ".\r\n");
            } else if (word == "DELE") {
                dele.insert(arg);
                io.send("+OK marked\r\n");
            } else if (word == "QUIT") {
                ++quits;
                if (closeOnQuit) return;
                if (quitReply.rfind("+OK", 0) == 0) deleted = static_cast<int>(dele.size());
                io.send(quitReply);
                return;
            } else {
                io.send("-ERR unknown command\r\n");
            }
            if (word == closeAfter || line == closeAfter) return;
        }
    }
};

// Message i: "From: Sender i", "Subject: Message i", "Message-ID: <mi@...>"
// and `extra` header lines, its UIDL <uidlPrefix>i.
inline FakeMessage FakeMsg(int i, const std::string& extra = "",
                           const std::string& uidlPrefix = "u") {
    const std::string n = std::to_string(i);
    FakeMessage m;
    m.uidl = uidlPrefix + n;
    m.header = "From: Sender " + n + " <s" + n + "@example.invalid>\r\nSubject: Message " + n +
               "\r\nMessage-ID: <m" + n + "@example.invalid>\r\n" + extra;
    return m;
}

} // namespace iwtest

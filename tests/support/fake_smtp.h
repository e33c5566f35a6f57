// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted SMTP server on FakePeer for what a real server will not do
// (odd prompts, refusals in a chosen order, stalls). Every command line is
// recorded; the data after DATA is kept as it came over the wire.
#pragma once

#include "fake_peer.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace iwtest {

struct FakeSmtpLog {
    std::mutex mu;
    std::vector<std::string> lines; // command lines without CR LF
    std::string data;               // the wire bytes after 354, end mark included
};

// `answer` gets each command line (without CR LF) and returns the reply, or
// "" for the defaults: 250 for most, "354 go" for DATA, "221 bye" for QUIT,
// an EHLO reply offering PLAIN, LOGIN and CRAM-MD5. The reply to the end
// mark is `afterData`. Returning "STALL" makes the server go silent.
inline FakePeer FakeSmtp(std::shared_ptr<FakeSmtpLog> log,
                         std::function<std::string(const std::string&)> answer = {},
                         std::string afterData = "250 queued as 1\r\n") {
    return FakePeer([log, answer, afterData](PeerConn& c) {
        c.Send("220 fake ESMTP\r\n");
        for (;;) {
            std::string line = c.ReadLine();
            if (line.empty()) return;
            line.resize(line.size() - 2);
            {
                std::lock_guard lock(log->mu);
                log->lines.push_back(line);
            }
            std::string reply = answer ? answer(line) : "";
            if (reply == "STALL") {
                c.WaitClosed(15000);
                return;
            }
            const bool data = line == "DATA";
            if (reply.empty()) {
                if (line.rfind("EHLO", 0) == 0)
                    reply = "250-fake\r\n250-SIZE 1000\r\n250 AUTH PLAIN LOGIN CRAM-MD5\r\n";
                else if (data)
                    reply = "354 go\r\n";
                else if (line == "QUIT")
                    reply = "221 bye\r\n";
                else
                    reply = "250 ok\r\n";
            }
            c.Send(reply);
            if (line == "QUIT") {
                c.WaitClosed();
                return;
            }
            if (data && reply[0] == '3') {
                std::string got;
                while (got.size() < 5 || got.compare(got.size() - 5, 5, "\r\n.\r\n") != 0) {
                    std::string more = c.ReadLine();
                    if (more.empty()) break;
                    got += more;
                    if (got == ".\r\n") break;
                }
                {
                    std::lock_guard lock(log->mu);
                    log->data = got;
                }
                c.Send(afterData);
            }
        }
    });
}

} // namespace iwtest

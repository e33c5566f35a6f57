// SPDX-License-Identifier: GPL-3.0-or-later
// SMTP replies come straight from the server. The pure checks run on the
// input as one reply; then the input plays the server of a session, one
// reply for each command (greeting, EHLO, AUTH challenges, RCPT and DATA
// replies), with the first byte picking the login method, the recipient
// lists and the mode (its top three bits 0 for a session at all).
#include "message/base64.h"
#include "net/smtp.h"
#include "platform/user_message.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const SMTP_CODEC kCodec{Base64_Encode, Base64_Decode};

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckPure(std::string_view reply) {
    const bool complete = Smtp_ReplyComplete(reply);
    if (complete) {
        Check(reply.ends_with('\n'));
        const std::string_view body = reply.substr(0, reply.size() - 1);
        const size_t prev = body.rfind('\n');
        const std::string_view last = prev == body.npos ? body : body.substr(prev + 1);
        Check(last.size() < 4 || last[3] != '-');
    }
    if (Smtp_ReplyOk(0, reply)) {
        Check(reply.size() >= 5 && (reply[0] == '1' || reply[0] == '2' || reply[0] == '3'));
    }
    Check(!Smtp_ReplyOk(10054, reply));
    Check((Smtp_AuthMethods(reply) & ~7u) == 0);
    // A STARTTLS offer is a whole 250 line, never a word inside another.
    if (Smtp_OffersStartTls(reply)) Check(reply.find("250") != std::string::npos);
    for (const std::string& a : Smtp_SplitRecipients(reply)) {
        Check(a.find('@') != std::string::npos);
        Check(a.find_first_of("<>,; \"") == std::string::npos);
    }
}

// The next reply of the server's text from *at: lines up to one whose fourth
// character is not '-' (RFC 5321 §4.2.1), or the rest.
std::string_view NextReply(std::string_view server, size_t* at) {
    const size_t from = *at;
    while (*at < server.size()) {
        const size_t eol = server.find('\n', *at);
        const size_t end = eol == server.npos ? server.size() : eol + 1;
        const std::string_view line = server.substr(*at, end - *at);
        *at = end;
        if (line.size() < 4 || line[3] != '-') break;
    }
    return server.substr(from, *at - from);
}

// Plays the server on fd: the greeting, then a reply for each command line
// (the message after an accepted DATA counts as one, up to its end mark);
// when the text is used up, closes for writing and reads to the end.
void Serve(int fd, std::string_view server) {
    auto say = [fd](std::string_view r) { (void)!send(fd, r.data(), r.size(), MSG_NOSIGNAL); };
    size_t at = 0;
    say(NextReply(server, &at));
    std::string in;
    bool data = false;
    char buf[4096];
    while (at < server.size()) {
        size_t end = in.npos; // past the command, or past the message's end mark
        if (!data) {
            if (const size_t eol = in.find('\n'); eol != in.npos) end = eol + 1;
        } else if (in.starts_with(".\r\n")) {
            end = 3;
        } else if (const size_t mark = in.find("\r\n.\r\n"); mark != in.npos) {
            end = mark + 5;
        }
        if (end == in.npos) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            in.append(buf, size_t(n));
            continue;
        }
        const bool dataCommand = !data && in.compare(0, end, "DATA\r\n") == 0;
        in.erase(0, end);
        const std::string_view reply = NextReply(server, &at);
        say(reply);
        data = dataCommand && Smtp_ReplyOk(0, reply);
    }
    shutdown(fd, SHUT_WR);
    while (recv(fd, buf, sizeof buf, 0) > 0) {
    }
}

// The session talks to Serve over a socket pair: nothing outlives the input
// (a loopback connection per input left tens of thousands of ports in
// TIME-WAIT within minutes).
void CheckSession(const std::string& server, uint8_t control) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return;
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::thread peer(Serve, fds[1], std::string_view(server));
    SendJob job;
    job.server = "127.0.0.1";
    bool handed = false; // a session that ends before it connects leaves fds[0] to us
    job.connect = [&](int* sock) {
        handed = true;
        *sock = fds[0];
        return 0u;
    };
    job.timeout = 2;
    if (control & 4) {
        job.login = "user";
        job.password = "secret";
    }
    job.authMethod = control & 3;
    job.to = "a@b.example, c@d.example";
    job.cc = control & 8 ? "e@f.example" : "";
    job.mode = control & 16 ? SEND_RAW : SEND_MIME;
    job.rawText = ".\r\nraw\r\n.";
    job.writeMessage = [](const SendJob&, const SMTP_WRITE& w) { return w("x\r\n.\r\n"); };
    int sock = SOCK_INVALID;
    const uint32_t rc =
        Smtp_SendMessage(&job, &sock, job.errorText, sizeof job.errorText, nullptr, nullptr);
    if (!handed) close(fds[0]);
    peer.join();
    close(fds[1]);
    Check(sock == SOCK_INVALID);
    Check(std::memchr(job.errorText, 0, sizeof job.errorText) != nullptr);
    Check(rc == 0 || rc == SMTP_REFUSED || rc == SMTP_UNKNOWN_AUTH || (rc >= 10004 && rc <= 11004));
    if (rc != 0) Check(job.errorText[0] != 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 8192) return 0;
    static const bool ready = [] {
        Smtp_SetCodec(&kCodec);
        // Nobody reads the boxes a refused reply shows; they only slow the run.
        UserMsg_SetHandler([](std::string_view, std::string_view, unsigned flags) {
            return UserMsg_DefaultAnswer(flags);
        });
        return true;
    }();
    (void)ready;
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    CheckPure(body);
    // One input in eight plays the server, so the replay stays quick.
    if ((data[0] & 0xE0) == 0) CheckSession(body, data[0]);
    return 0;
}

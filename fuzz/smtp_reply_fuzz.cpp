// SMTP replies come straight from the server. The pure checks run on the
// input as one reply; then the whole input plays the server of a session
// (greeting, EHLO, AUTH challenges, RCPT and DATA replies, all in one go),
// with the first byte picking the login method, the recipient lists and the
// mode (its top three bits 0 for a session at all).
#include "message/base64.h"
#include "net/smtp.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
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

void CheckSession(const std::string& server, uint8_t control) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(listener);
        return;
    }
    std::thread peer([&] {
        const int c = accept(listener, nullptr, nullptr);
        if (c < 0) return;
        (void)!send(c, server.data(), server.size(), MSG_NOSIGNAL);
        shutdown(c, SHUT_WR);
        char sink[4096];
        while (recv(c, sink, sizeof sink, 0) > 0) {
        }
        close(c);
    });
    SendJob job;
    job.server = "127.0.0.1";
    job.port = ntohs(addr.sin_port);
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
    peer.join();
    close(listener);
    Check(sock == SOCK_INVALID);
    Check(std::memchr(job.errorText, 0, sizeof job.errorText) != nullptr);
    Check(rc == 0 || rc == SMTP_REFUSED || rc == SMTP_UNKNOWN_AUTH || (rc >= 10004 && rc <= 11004));
    if (rc != 0) Check(job.errorText[0] != 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 8192) return 0;
    Smtp_SetCodec(&kCodec);
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    CheckPure(body);
    // A session costs a connection and a thread: one input in eight plays
    // the server, so the replay stays quick.
    if ((data[0] & 0xE0) == 0) CheckSession(body, data[0]);
    return 0;
}

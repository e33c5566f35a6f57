// SPDX-License-Identifier: GPL-3.0-or-later
// POP3 responses and greetings come straight from the server. The first
// input byte picks single- or multi-line reading and how the bytes are cut
// into writes; the rest is what the server sends.
#include "net/pop3.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckParse(const std::string& response) {
    const char* text = nullptr;
    const int r = Pop3_ParseResponse(response.c_str(), &text);
    const char* end = response.c_str() + response.size();
    if (response.starts_with("+OK")) {
        Check(r == 1 && text >= response.c_str() + 3 && text <= end);
    } else if (response.starts_with("-ERR")) {
        Check(r == 0 && text >= response.c_str() + 4 && text <= end);
    } else {
        Check(r == 0 && std::strcmp(text, "UNKNOWN POP3 response") == 0);
    }
}

void CheckApop(std::string_view greeting) {
    std::string arg;
    const uint32_t rc = Pop3_ApopArgument(greeting, "user", "pw", &arg);
    std::string_view line = greeting.substr(0, greeting.find_first_of("\r\n"));
    const size_t open = line.find('<');
    const bool stamped = open != std::string_view::npos && line.find('>', open) != line.npos;
    Check(rc == (stamped ? 0u : POP3_APOP_UNSUPPORTED));
    if (rc == 0) {
        Check(arg.size() == 5 + 32 && arg.starts_with("user "));
        Check(arg.find_first_not_of("0123456789abcdef", 5) == std::string::npos);
    }
}

// CAPA listings: only the known bits, and a listing that names nothing past
// its status line gives none.
void CheckCapa(std::string_view listing) {
    const uint32_t caps = Pop3_ParseCapa(listing);
    Check((caps & ~uint32_t{31}) == 0);
    if (listing.find('\n') == std::string_view::npos) Check(caps == 0);
}

// Sends the bytes through a socket pair and reads them back as one response.
void CheckReassembly(const std::string& data, bool multiLine, size_t chunk) {
    // Every write is queued whole before the reader starts; a few dozen fit.
    chunk = std::max(chunk, data.size() / 48 + 1);
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
    for (size_t at = 0; at < data.size(); at += chunk)
        if (write(fds[1], data.data() + at, std::min(chunk, data.size() - at)) < 0) break;
    close(fds[1]);
    GrowBuffer buf(1 << 20);
    const std::string_view term = multiLine && !data.starts_with('-') ? "\r\n.\r\n" : "\r\n";
    const uint32_t rc =
        Pop3_GetMessage(fds[0], &buf, 1, multiLine ? "\r\n.\r\n" : "\r\n", multiLine ? 5 : 2);
    close(fds[0]);
    if (rc == 0) {
        const std::string_view got(buf.Data());
        Check(data.starts_with(got) || got.size() < data.size()); // a NUL inside cuts the view
        Check(got.find('\0') == std::string_view::npos);
        if (got.size() == std::strlen(buf.Data()) && data.find('\0') == std::string::npos)
            Check(got.ends_with(term));
    } else {
        Check(rc == SOCKERR_CONNRESET);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 8192) return 0;
    const uint8_t control = data[0];
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    CheckParse(body);
    CheckApop(body);
    CheckCapa(body);
    CheckReassembly(body, control & 1, 1 + (control >> 1));
    return 0;
}

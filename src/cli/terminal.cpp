#include "cli/terminal.h"

#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <mutex>
#include <termios.h>
#include <unistd.h>

bool Cli_ReadPasswordFromTerminal(const std::string& prompt, std::string* password) {
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    (void)!::write(fd, prompt.data(), prompt.size());
    termios old{};
    const bool tty = tcgetattr(fd, &old) == 0;
    if (tty) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    password->clear();
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        password->push_back(c);
    if (tty) tcsetattr(fd, TCSAFLUSH, &old);
    (void)!::write(fd, "\n", 1);
    ::close(fd);
    if (!password->empty() && password->back() == '\r') password->pop_back();
    return true;
}

bool Cli_AskPop3Password(const std::string& name, bool fromStdin, const char* command,
                         std::string* password) {
    if (fromStdin) {
        // One line per account asked, in turn.
        static std::mutex stdinMu;
        std::lock_guard guard(stdinMu);
        if (!std::getline(std::cin, *password)) return false;
        if (!password->empty() && password->back() == '\r') password->pop_back();
        return !password->empty();
    }
    if (!Cli_ReadPasswordFromTerminal("POP3 password for " + name + ": ", password)) {
        std::fprintf(stderr,
                     "inboxwarden-cli %s: no terminal to ask the password of %s on; use "
                     "--password-stdin\n",
                     command, name.c_str());
        return false;
    }
    return true;
}

std::string Cli_Printable(std::string_view text, bool lines) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    auto escape = [&](unsigned char b) {
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 15];
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (lines &&
                   (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))) {
            out += static_cast<char>(c);
        } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
            escape(c);
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            escape(c);
            escape(static_cast<unsigned char>(text[++i]));
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

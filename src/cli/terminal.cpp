// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/terminal.h"

#include "common/status.h"
#include "common/text.h"
#include "platform/log.h"
#include "platform/user_message.h"
#include "settings/profile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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
    std::string out;
    out.reserve(text.size());
    auto escape = [&](char b) { out += "\\x" + Text_ToHex(std::string_view(&b, 1)); };
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (lines && (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))) {
            out += static_cast<char>(c);
        } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
            escape(text[i]);
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            escape(text[i]);
            escape(text[++i]);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void Cli_InstallMessageHandler() {
    UserMsg_SetHandler([](std::string_view caption, std::string_view text, unsigned flags) {
        DebugLog_Write("Message box \"%.*s\": %.*s\n", static_cast<int>(caption.size()),
                       caption.data(), static_cast<int>(text.size()), text.data());
        std::string line;
        for (const char c : text) {
            const bool blank = c == '\r' || c == '\n' || c == ' ' || c == '\t';
            if (!blank)
                line += c;
            else if (!line.empty() && line.back() != ' ')
                line += ' ';
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        std::fprintf(stderr, "inboxwarden-cli: %s\n", Cli_Printable(line).c_str());
        return UserMsg_DefaultAnswer(flags);
    });
}

void Cli_Failed(const std::string& what, uint32_t rc) {
    DebugLog_Write("inboxwarden-cli: %s: %s (0x%x)\n", what.c_str(), Status_Name(rc), rc);
    const char* reason;
    switch (rc) {
    case ERR_EXISTS:
        reason = "an account of that name exists (names compare without regard to case)";
        break;
    case ERR_NOMEM:
        reason = "out of memory";
        break;
    case ERR_NOT_FOUND:
        reason = "it does not exist";
        break;
    case ERR_EMPTY_NAME:
        reason = "the name is empty";
        break;
    case ERR_BADARG:
        reason = "the settings do not take this name or value";
        break;
    case ERR_CREATE:
        reason = "a file could not be written";
        break;
    default:
        reason = "the settings store refused it (is the disk full or the store damaged?)";
    }
    std::fprintf(stderr, "inboxwarden-cli: %s: %s\n", what.c_str(), reason);
}

std::string Cli_ProfileProblem(uint32_t rc) {
    switch (rc) {
    case PROFILE_E_OPEN:
        return "it cannot be opened (" + Cli_LastSystemError() + ")";
    case PROFILE_E_READ:
        return "it cannot be read (" + Cli_LastSystemError() + ")";
    case PROFILE_E_FORMAT:
        return std::string("it is not a profile (its first line is not ") + PROFILE_MAGIC + ")";
    default:
        return "the settings store refused it (is the disk full or the store damaged?)";
    }
}

std::string Cli_LastSystemError() {
    return errno ? std::strerror(errno) : "the system gave no reason";
}

std::string Cli_Date(const DATETIME& d) {
    return DateTime_Text(d);
}

#include "cli/terminal.h"

#include <fcntl.h>
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

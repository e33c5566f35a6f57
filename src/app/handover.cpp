// SPDX-License-Identifier: GPL-3.0-or-later
// Plain Unix-domain sockets rather than Qt's local sockets: Qt Network would
// bring its Kerberos and resolver libraries into the resident program for
// three-byte messages (about 1 MB, for the program's whole life).
#include "app/handover.h"

#include "platform/instance.h"
#include "platform/log.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

// A request is one short word; a peer that sends more, or nothing for this
// long, is dropped rather than held.
constexpr size_t kLineMax = 64;
constexpr int kQuietMs = 5000;

bool _address(const std::string& path, sockaddr_un* addr) {
    *addr = {};
    addr->sun_family = AF_UNIX;
    if (path.size() >= sizeof addr->sun_path) return false;
    std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// The words of a line without the blanks around them.
std::string _trimmed(std::string_view line) {
    const size_t b = line.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    return std::string(line.substr(b, line.find_last_not_of(" \t\r\n") - b + 1));
}

// One accepted connection: reads its line, answers "ok" and closes.
class Peer : public QObject {
  public:
    Peer(int fd, const std::function<void(const std::string&)>& onRequest, QObject* parent)
        : QObject(parent), fd_(fd), onRequest_(onRequest), notifier_(fd, QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, this, [this] { read(); });
        QTimer::singleShot(kQuietMs, this, [this] { done(); });
    }
    ~Peer() override { ::close(fd_); }

  private:
    void read() {
        char buf[kLineMax];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (n <= 0) return done();
        line_.append(buf, size_t(n));
        const size_t end = line_.find('\n');
        if (end == std::string::npos) {
            if (line_.size() >= kLineMax) done();
            return;
        }
        const std::string request = _trimmed(std::string_view(line_).substr(0, end));
        DebugLog_Write("Hand-over: request \"%s\"\n", request.c_str());
        ::send(fd_, "ok\n", 3, MSG_NOSIGNAL | MSG_DONTWAIT);
        const auto onRequest = onRequest_;
        done();
        if (onRequest) onRequest(request);
    }

    void done() {
        notifier_.setEnabled(false);
        deleteLater();
    }

    int fd_;
    std::function<void(const std::string&)> onRequest_;
    QSocketNotifier notifier_;
    std::string line_;
};

class Listener : public QObject {
  public:
    Listener(int fd, std::string path, std::function<void(const std::string&)> onRequest)
        : fd_(fd), path_(std::move(path)), onRequest_(std::move(onRequest)),
          notifier_(fd, QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, this, [this] { accept(); });
    }
    ~Listener() override {
        ::close(fd_);
        ::unlink(path_.c_str());
    }

  private:
    void accept() {
        for (;;) {
            const int peer = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (peer < 0) return; // EAGAIN: all taken; anything else: the next wake-up retries
            new Peer(peer, onRequest_, this);
        }
    }

    int fd_;
    std::string path_;
    std::function<void(const std::string&)> onRequest_;
    QSocketNotifier notifier_;
};

Listener* g_listener = nullptr;

} // namespace

bool Handover_Listen(std::function<void(const std::string&)> onRequest) {
    Handover_Close();
    const std::string path = Instance_SocketPath();
    sockaddr_un addr;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    bool ok = fd >= 0 && _address(path, &addr);
    if (ok) {
        // We hold the instance lock, so a socket file left there is a dead copy's.
        ::unlink(path.c_str());
        // The folder is the owner's alone already; the file says so as well.
        ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
             ::chmod(path.c_str(), 0600) == 0 && ::listen(fd, 8) == 0;
    }
    if (!ok) {
        DebugLog_Write("Hand-over: cannot listen on %s (%s)\n", path.c_str(), std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return false;
    }
    g_listener = new Listener(fd, path, std::move(onRequest));
    return true;
}

void Handover_Close() {
    delete g_listener;
    g_listener = nullptr;
}

bool Handover_Send(const std::string& request, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto left = [&] {
        return timeoutMs -
               int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
                       .count());
    };
    sockaddr_un addr;
    if (!_address(Instance_SocketPath(), &addr)) return false;
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            // The running copy may still be starting: its socket is not there yet.
            if (left() <= 100) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        const std::string line = request + "\n";
        bool ok = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size());
        std::string reply;
        while (ok && reply.find('\n') == std::string::npos && reply.size() < kLineMax) {
            pollfd p{fd, POLLIN, 0};
            const int r = ::poll(&p, 1, std::max(100, left()));
            if (r < 0 && errno == EINTR) continue;
            char buf[16];
            const ssize_t n = r > 0 ? ::recv(fd, buf, sizeof buf, 0) : -1;
            if (n <= 0) break;
            reply.append(buf, size_t(n));
        }
        ::close(fd);
        const size_t end = reply.find('\n');
        return ok && end != std::string::npos &&
               _trimmed(std::string_view(reply).substr(0, end)) == "ok";
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The hand-over socket between a second start and the running copy: a
// request arrives whole and is acknowledged, and a peer that floods the
// socket or says nothing is dropped without holding up the next one.
#include "app/handover.h"
#include "platform/instance.h"

#include <QCoreApplication>
#include <QTest>

#include <cerrno>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

int _connect() {
    const std::string path = Instance_SocketPath();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    return fd;
}

TEST(Handover, RequestsArriveAndHostilePeersAreDropped) {
    std::vector<std::string> heard;
    ASSERT_TRUE(Handover_Listen([&](const std::string& r) { heard.push_back(r); }));
    struct stat st {};
    ASSERT_EQ(::stat(Instance_SocketPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "no other user may hand requests over";

    // A flood without an end of line is cut off at the line's limit.
    const int flood = _connect();
    const std::string junk(4096, 'x');
    ::send(flood, junk.data(), junk.size(), MSG_NOSIGNAL);
    // A peer that says nothing does not keep the next one waiting.
    const int quiet = _connect();

    auto sent = std::async(std::launch::async, [] { return Handover_Send("  check \r", 5000); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !heard.empty(); }, 10000));
    EXPECT_TRUE(sent.get()) << "the running copy acknowledges what it took in";
    EXPECT_EQ(heard, std::vector<std::string>{"check"});

    char c;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const ssize_t n = ::recv(flood, &c, 1, MSG_DONTWAIT);
            return n == 0 || (n < 0 && errno != EAGAIN);
        },
        10000))
        << "the flooding peer is closed";
    ::close(flood);
    ::close(quiet);

    Handover_Close();
    EXPECT_FALSE(Handover_Send("menu", 300)) << "nobody listens once closed";
    EXPECT_EQ(heard.size(), 1u);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "crash/crash.h"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Outcome {
    int signal = 0; // the signal that ended the child, 0 if it exited
    std::string log;
    std::string marker;
};

// Runs `fault` in a child with the handlers installed, so the fault is
// real: the child must end by the same signal after writing its report.
template <typename Fault> Outcome crashChild(Fault fault) {
    const std::string dir = iwtest::MakeTempDir("crash");
    const std::string logPath = dir + "/debug_info.txt", marker = dir + "/crashed";
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        Crash_Install(fd, marker);
        fault();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome o;
    o.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    o.log = iwtest::ReadFile(logPath);
    std::string what;
    if (Crash_TakeMarker(marker, &what)) o.marker = what;
    EXPECT_FALSE(Crash_TakeMarker(marker, &what)) << "the marker is taken once";
    return o;
}

// Not null: the sanitizers would stop a null store before it faults.
volatile int* volatile g_unmapped = reinterpret_cast<volatile int*>(uintptr_t{16});

volatile bool g_forever = true;

int recurse(int depth) {
    volatile char pad[4096];
    pad[0] = char(depth);
    return g_forever ? recurse(depth + 1) + pad[0] : 0;
}

TEST(Crash, AFaultWritesItsReportAndEndsByTheSameSignal) {
    const Outcome o = crashChild([] { *g_unmapped = 1; });
    EXPECT_EQ(o.signal, SIGSEGV);
    EXPECT_EQ(o.log.rfind("Something went wrong in Inboxwarden...\r\n\r\nException: "
                          "Illegal Storage Access\r\n\r\n",
                          0),
              0u)
        << o.log;
    // Frames name the module and, where the symbol table has it, the function.
    EXPECT_NE(o.log.find("crash_test): (filename not available): "), std::string::npos) << o.log;
    EXPECT_EQ(o.marker, "Illegal Storage Access");
}

TEST(Crash, AbortAndAStackOverflowAreReportedToo) {
    const Outcome a = crashChild([] { std::abort(); });
    EXPECT_EQ(a.signal, SIGABRT);
    EXPECT_NE(a.log.find("Exception: Abnormal Termination"), std::string::npos) << a.log;
    EXPECT_EQ(a.marker, "Abnormal Termination");

    // Only an alternate stack leaves room to report this one.
    const Outcome s = crashChild([] { recurse(0); });
    EXPECT_EQ(s.signal, SIGSEGV);
    EXPECT_NE(s.log.find("Exception: Illegal Storage Access"), std::string::npos) << s.log;
}

TEST(Crash, NoMarkerNoReport) {
    std::string what = "x";
    EXPECT_FALSE(Crash_TakeMarker(iwtest::MakeTempDir("none") + "/crashed", &what));
    EXPECT_FALSE(Crash_TakeMarker("", &what));
    EXPECT_STREQ(Crash_SignalName(SIGUSR1), "UNKNOWN EXCEPTION");
}

} // namespace

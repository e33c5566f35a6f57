// SPDX-License-Identifier: GPL-3.0-or-later
// Soak of the account check: many checks in a row against one server while
// mail arrives and goes between them, watching this process's resident
// memory and open descriptors. Run through bench/pop3acc-bench.sh, which
// starts the server:
//   iw_bench_pop3acc_soak HOST PORT USER PASSWORD MAILDIR [CHECKS]
// Between two checks one message is written into MAILDIR/new (arrival) and
// either the oldest known message is marked for deletion (the check deletes
// it) or, every third time, the oldest file is removed behind the check's
// back (another client took it). Prints resident memory after the warm-up
// (the first 100 checks) and at its highest and lowest since, and the
// descriptor count before the first check and after the last.
#include "check_once.h"
#include "platform/registry.h"
#include "settings/msgbox.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

long residentKb() {
    FILE* f = std::fopen("/proc/self/statm", "r");
    long size = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int openDescriptors() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (!d) return -1;
    while (const dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n - 1; // the directory's own
}

// Writes message k as the server's mail process may take it over.
void arrive(const std::string& maildir, int k, uid_t uid, gid_t gid) {
    const std::string name = "soak-" + std::to_string(100000 + k);
    const std::string tmp = maildir + "/tmp/" + name, dst = maildir + "/new/" + name;
    const std::string text = "From: Soak <soak@example.invalid>\nSubject: Soak message " +
                             std::to_string(k) + "\nMessage-ID: <soak-" + std::to_string(k) +
                             "@example.invalid>\n\nArrived between two checks.\n";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f) std::exit(2);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    if (chown(tmp.c_str(), uid, gid) != 0 && getuid() == 0) std::exit(2);
    if (std::rename(tmp.c_str(), dst.c_str()) != 0) std::exit(2);
}

// Removes the oldest message file, as another mail program would.
void takeAway(const std::string& maildir) {
    std::vector<std::string> names;
    for (const char* sub : {"/cur", "/new"})
        for (const auto& e : std::filesystem::directory_iterator(maildir + sub))
            names.push_back(e.path().string());
    if (names.empty()) return;
    std::filesystem::remove(*std::min_element(names.begin(), names.end(), [](auto& a, auto& b) {
        return std::filesystem::path(a).filename() < std::filesystem::path(b).filename();
    }));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6 && argc != 7) {
        std::fprintf(stderr, "usage: %s HOST PORT USER PASSWORD MAILDIR [CHECKS]\n", argv[0]);
        return 2;
    }
    const std::string maildir = argv[5];
    const int checks = argc == 7 ? std::atoi(argv[6]) : 2000;
    const int warmUp = std::min(100, checks / 2);
    struct stat home {};
    if (stat((maildir + "/..").c_str(), &home) != 0) return 2;
    char tmpl[] = "/tmp/iw-soak-store-XXXXXX";
    if (!mkdtemp(tmpl)) return 2;
    RegStore_Open(std::string(tmpl) + "/registry.db");

    ACCOUNT acc;
    acc.Name = "soak";
    acc.ChkServer = argv[1];
    acc.ChkPort = std::atoi(argv[2]);
    acc.ChkLogin = argv[3];
    acc.ChkPswd = argv[4];

    const int fdsBefore = openDescriptors();
    long rssAfterWarmUp = 0, rssHigh = 0, rssLow = 0;
    int fdsHigh = fdsBefore;
    for (int k = 0; k < checks; ++k) {
        if (const uint32_t rc = Bench_CheckOnce(acc); rc != 0) {
            char text[96];
            Pop3_GetLastError(text, sizeof text);
            std::fprintf(stderr, "check %d failed: 0x%X %s\n", k, rc, text);
            return 1;
        }
        arrive(maildir, k, home.st_uid, home.st_gid);
        if (k % 3 == 2) {
            takeAway(maildir);
        } else if (MsgBox_GetCount(acc.hMsgBox) > 0) {
            MsgBox_SetStatus(acc.hMsgBox, MsgBox_GetMsg(acc.hMsgBox, 0), 0, MSG_TO_DELETE, &acc);
        }
        const long rss = residentKb();
        fdsHigh = std::max(fdsHigh, openDescriptors());
        if (k + 1 == warmUp) rssAfterWarmUp = rssHigh = rssLow = rss;
        if (k + 1 > warmUp) {
            rssHigh = std::max(rssHigh, rss);
            rssLow = std::min(rssLow, rss);
        }
    }
    const int fdsAfter = openDescriptors();
    std::printf("soak: %d checks, %d messages in the box at the end\n", checks,
                MsgBox_GetCount(acc.hMsgBox));
    std::printf("resident after %d checks        %ld KB\n", warmUp, rssAfterWarmUp);
    std::printf("resident highest / lowest since  %ld / %ld KB  (%+.1f%% / %+.1f%%; target "
                "within 5%%)\n",
                rssHigh, rssLow, 100.0 * (rssHigh - rssAfterWarmUp) / rssAfterWarmUp,
                100.0 * (rssLow - rssAfterWarmUp) / rssAfterWarmUp);
    std::printf("descriptors before / highest / after  %d / %d / %d  (target: after == before)\n",
                fdsBefore, fdsHigh, fdsAfter);
    MsgBox_Destroy(&acc.hMsgBox);
    std::string rm = std::string("rm -rf ") + tmpl;
    const bool ok = fdsAfter == fdsBefore && rssHigh <= rssAfterWarmUp * 105 / 100;
    return std::system(rm.c_str()) == 0 && ok ? 0 : 1;
}

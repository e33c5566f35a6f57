// SPDX-License-Identifier: GPL-3.0-or-later
// One message with a large attachment sent to an SMTP server on loopback:
// wall-clock time and peak memory. Run through bench/smtp-send-bench.sh,
// which starts a private SMTP sink and passes it here:
//   iw_bench_smtp_send HOST PORT USER PASSWORD [MEGABYTES]
// Prints the time to attach (read + base64), to compose into a null sink,
// and to send the whole message (AUTH PLAIN, composed and stuffed on the fly),
// each best of three, and the process's peak resident size.
#include "engine/mailsend.h"
#include "message/mime_composer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long peakKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s HOST PORT USER PASSWORD [MEGABYTES]\n", argv[0]);
        return 2;
    }
    const size_t mb = argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 20;
    char path[] = "/tmp/iw-smtpbench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return 1;
    close(fd);
    {
        std::mt19937_64 gen(1);
        std::string block(1 << 20, '\0');
        std::ofstream out(path, std::ios::binary);
        for (size_t i = 0; i < mb; ++i) {
            for (size_t j = 0; j < block.size(); j += 8) {
                const uint64_t v = gen();
                std::memcpy(&block[j], &v, 8);
            }
            out << block;
        }
    }
    const long baseKb = peakKb();

    double attach = 1e9, compose = 1e9, send = 1e9;
    for (int round = 0; round < 3; ++round) {
        MimeMessage* m = MIME_Create();
        MIME_SetText(m, "The attachment follows.\n", nullptr);
        double t = now();
        if (MIME_AddAttachment(m, nullptr, 0, path, nullptr) != 0) return 1;
        attach = std::min(attach, now() - t);

        size_t bytes = 0;
        t = now();
        MIME_Write(m, [&](std::string_view s) {
            bytes += s.size();
            return 0u;
        });
        compose = std::min(compose, now() - t);

        SendJob job;
        job.server = argv[1];
        job.port = std::atoi(argv[2]);
        job.timeout = 60;
        job.login = argv[3];
        job.password = argv[4];
        job.senderAddress = "bench@home.example";
        job.to = "sink@remote.example";
        job.subject = "benchmark";
        MailSend_UseMessage(&job, m);
        t = now();
        const uint32_t rc = MailSend_Send(nullptr, &job);
        const double took = now() - t;
        MIME_Destroy(m);
        if (rc != 0) {
            std::fprintf(stderr, "send failed: %s\n", job.errorText);
            return 1;
        }
        send = std::min(send, took);
        if (round == 0) std::printf("message: %zu bytes of MIME text\n", bytes);
    }
    unlink(path);
    std::printf("attach %zu MB (read + base64):  %.3f s\n", mb, attach);
    std::printf("compose into a null sink:      %.3f s\n", compose);
    std::printf("send to %s:%s:           %.3f s (%.1f MB/s of attachment)\n", argv[1], argv[2],
                send, mb / send);
    std::printf("peak resident size:            %.1f MB (%.1f MB before the first attach)\n",
                peakKb() / 1024.0, baseKb / 1024.0);
    return 0;
}

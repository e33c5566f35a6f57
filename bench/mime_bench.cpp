// SPDX-License-Identifier: GPL-3.0-or-later
// Parse throughput of the MIME decoder beside GMime 3 on the same inputs:
// (a) one 50 MB message whose large base64 attachment is decoded to a file,
// (b) 10,000 small messages, each parsed with its header fields and text.
// Bytes per second count the message text parsed.
#include "message/base64.h"
#include "message/mime_decoder.h"
#include "message/msg_header.h"

#include <benchmark/benchmark.h>
#include <gmime/gmime.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string largeMessage() {
    std::mt19937 rng(1);
    std::string payload(37 * 1024 * 1024, '\0'); // about 50 MB once encoded
    for (auto& c : payload)
        c = static_cast<char>(rng());
    std::string msg = "From: a@example.org\r\nTo: b@example.org\r\nSubject: big\r\n"
                      "Date: Thu, 21 Oct 2010 14:05:09 +0200\r\nMIME-Version: 1.0\r\n"
                      "Content-Type: multipart/mixed; boundary=\"=_b\"\r\n\r\n"
                      "--=_b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nSee attached.\r\n"
                      "--=_b\r\nContent-Type: application/octet-stream; name=\"big.bin\"\r\n"
                      "Content-Transfer-Encoding: base64\r\n\r\n";
    msg += Base64_Encode(payload);
    msg += "\r\n--=_b--\r\n";
    return msg;
}

std::vector<std::string> smallMessages() {
    std::vector<std::string> out;
    out.reserve(10000);
    for (int i = 0; i < 10000; ++i) {
        const std::string n = std::to_string(i);
        std::string m = "Received: by mx.example.org; Thu, 21 Oct 2010 14:05:09 +0200\r\n"
                        "From: =?utf-8?q?J=C3=B6rg_" +
                        n +
                        "?= <j@example.org>\r\nTo: b@example.org\r\n"
                        "Subject: =?utf-8?b?w6nDqcOp?= message " +
                        n + "\r\nMessage-ID: <" + n + "@example.org>\r\nMIME-Version: 1.0\r\n";
        if (i % 2 == 0) {
            m += "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: "
                 "quoted-printable\r\n\r\n";
            for (int l = 0; l < 20; ++l)
                m += "Line " + std::to_string(l) + " of a short message, caf=C3=A9.\r\n";
        } else {
            m += "Content-Type: multipart/alternative; boundary=\"alt" + n + "\"\r\n\r\n--alt" + n +
                 "\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\n";
            for (int l = 0; l < 10; ++l)
                m += "Plain line " + std::to_string(l) + " caf\xE9.\r\n";
            m += "--alt" + n + "\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<html><body>";
            for (int l = 0; l < 10; ++l)
                m += "<p>Html line " + std::to_string(l) + " &amp; more</p>\r\n";
            m += "</body></html>\r\n--alt" + n + "--\r\n";
        }
        out.push_back(std::move(m));
    }
    return out;
}

const std::string& large() {
    static const std::string m = largeMessage();
    return m;
}

const std::vector<std::string>& small() {
    static const std::vector<std::string> m = smallMessages();
    return m;
}

size_t totalSize(const std::vector<std::string>& v) {
    size_t n = 0;
    for (const auto& s : v)
        n += s.size();
    return n;
}

// Attachment files go to a RAM-backed folder where there is one, so that the
// disk does not decide the numbers.
std::string outDir() {
    static const std::string dir = [] {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string t = base + "/iw-mime-bench-XXXXXX";
        if (!mkdtemp(t.data())) std::abort();
        return t;
    }();
    return dir;
}

void BM_Iw_LargeToFile(benchmark::State& state) {
    const std::string& msg = large();
    const std::string path = outDir() + "/iw.bin";
    for (auto _ : state) {
        MimeMessagePtr m(MIME_Open(msg.data(), msg.size()));
        MimePart* p = MIME_NextAttachment(m.get(), nullptr);
        if (!p || MIME_SaveAttachment(p, path) != 0) state.SkipWithError("save failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * msg.size()));
    unlink(path.c_str());
}

void BM_GMime_LargeToFile(benchmark::State& state) {
    const std::string& msg = large();
    const std::string path = outDir() + "/gmime.bin";
    for (auto _ : state) {
        GMimeStream* in = g_mime_stream_mem_new_with_buffer(msg.data(), msg.size());
        GMimeParser* parser = g_mime_parser_new_with_stream(in);
        GMimeMessage* m = g_mime_parser_construct_message(parser, nullptr);
        GMimePartIter* it = g_mime_part_iter_new(GMIME_OBJECT(m));
        bool saved = false;
        do {
            GMimeObject* cur = g_mime_part_iter_get_current(it);
            if (cur && GMIME_IS_PART(cur) && g_mime_part_get_filename(GMIME_PART(cur))) {
                GMimeStream* out = g_mime_stream_fs_open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                                         0600, nullptr);
                g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(GMIME_PART(cur)), out);
                g_mime_stream_flush(out);
                g_object_unref(out);
                saved = true;
                break;
            }
        } while (g_mime_part_iter_next(it));
        g_mime_part_iter_free(it);
        g_object_unref(m);
        g_object_unref(parser);
        g_object_unref(in);
        if (!saved) state.SkipWithError("no attachment");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * msg.size()));
    unlink(path.c_str());
}

void BM_Iw_SmallMessages(benchmark::State& state) {
    const auto& msgs = small();
    for (auto _ : state) {
        for (const auto& s : msgs) {
            MimeMessagePtr m(MIME_Open(s.data(), s.size()));
            MSG_FIELDS f;
            Msg_GetRecordFields(s, m.get(), &f);
            std::string text;
            MIME_GetText(m.get(), SELECT_PREFER_PLAIN, &text);
            benchmark::DoNotOptimize(text.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * totalSize(msgs)));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * msgs.size()));
}

void BM_GMime_SmallMessages(benchmark::State& state) {
    const auto& msgs = small();
    for (auto _ : state) {
        for (const auto& s : msgs) {
            GMimeStream* in = g_mime_stream_mem_new_with_buffer(s.data(), s.size());
            GMimeParser* parser = g_mime_parser_new_with_stream(in);
            GMimeMessage* m = g_mime_parser_construct_message(parser, nullptr);
            benchmark::DoNotOptimize(g_mime_message_get_subject(m));
            benchmark::DoNotOptimize(g_mime_message_get_date(m));
            InternetAddressList* from = g_mime_message_get_from(m);
            char* fromText = internet_address_list_to_string(from, nullptr, FALSE);
            g_free(fromText);
            GMimeObject* body = g_mime_message_get_body(m);
            if (body && GMIME_IS_TEXT_PART(body)) {
                char* text = g_mime_text_part_get_text(GMIME_TEXT_PART(body));
                benchmark::DoNotOptimize(text);
                g_free(text);
            }
            g_object_unref(m);
            g_object_unref(parser);
            g_object_unref(in);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * totalSize(msgs)));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * msgs.size()));
}

BENCHMARK(BM_Iw_LargeToFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GMime_LargeToFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Iw_SmallMessages)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GMime_SmallMessages)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    g_mime_init();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_mime_shutdown();
    rmdir(outDir().c_str());
    return 0;
}

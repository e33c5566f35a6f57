// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a large message in the viewer (offscreen): a 1 MB plain text of
// short lines with a link on every line, and 1 MB on a single line, each
// parsed, decoded, scanned for links and laid into the text field.
#include "ui/viewer/viewer.h"

#include <QApplication>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

std::string message(bool oneLine) {
    std::string m = "From: Bench <b@example.invalid>\r\nTo: r@example.invalid\r\n"
                    "Subject: Large\r\nContent-Type: text/plain\r\n\r\n";
    const std::string line = "see https://example.invalid/path?q=1 and write to a@example.invalid";
    while (m.size() < (1u << 20))
        m += line + (oneLine ? " " : "\r\n");
    return m + "\r\n";
}

void BM_OpenOneMegabyteMessage(benchmark::State& state) {
    const std::string text = message(state.range(0) != 0);
    for (auto _ : state) {
        QWidget* w = Viewer_Open("", text, nullptr);
        if (!w) state.SkipWithError("no viewer");
        Viewer_CloseAll();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}
BENCHMARK(BM_OpenOneMegabyteMessage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Printing long text to PDF: a 1 MB message on one line, with and without
// a final line feed (the line feed sends the line through the measured cut),
// and the cut rule alone beside the rule as first written, which measured
// every shorter prefix again: quadratic, 4 KB take seconds, so only small
// lines are timed. Both measure with the font uncached, unlike printing.
#include "ui/print.h"
#include "ui/print_wrap.h"

#include "../tests/ui/print_wrap_reference.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTextEdit>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

// An HTML part as mailers send it: one long line, blanks now and then.
QString htmlLine(size_t bytes) {
    const QString cell =
        QStringLiteral("<td class=\"c\" style=\"padding:0\">cell-text-0123456789</td>");
    QString s;
    s.reserve(qsizetype(bytes));
    while (size_t(s.size()) + size_t(cell.size()) <= bytes)
        s += cell;
    while (size_t(s.size()) < bytes)
        s += u'x';
    return s;
}

void BM_PrintOneMegabyteLineToPdf(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath("bench.pdf");
    Print_SetPrinterSource([path](QWidget*, bool, bool*) {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setPageSize(QPageSize(QPageSize::A4));
        printer->setOutputFileName(path);
        return printer;
    });
    QTextEdit field;
    field.setPlainText(htmlLine(1 << 20) + (state.range(0) ? "\n" : ""));
    const std::string heading = "From:\t\tSender <s@example.invalid>\nSubject:\t\tA long line";
    for (auto _ : state)
        Print_WindowText(&heading, &field);
    state.counters["pdf_kB"] = double(QFileInfo(path).size()) / 1024;
    Print_SetPrinterSource(nullptr);
}
BENCHMARK(BM_PrintOneMegabyteLineToPdf)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The cut rule alone, with the printer's font on a 1200 dpi A4 page.
struct WrapSetup {
    QPrinter printer{QPrinter::HighResolution};
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    std::u32string text;
    double width = 0;
    size_t perLine = 0;

    explicit WrapSetup(size_t bytes) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        font.setPointSizeF(10);
        text = (htmlLine(bytes) + u'\n').toStdU32String();
        const QFontMetricsF m(font, &printer);
        width = printer.width();
        perLine = size_t(width / m.horizontalAdvance(QStringLiteral("C")));
    }
};

void BM_CutRule(benchmark::State& state) {
    WrapSetup s(size_t(state.range(0)));
    const QFontMetricsF m(s.font, &s.printer);
    const PrintAdvance advance = [&m](char32_t c, double x) {
        return x + m.horizontalAdvance(QString::fromUcs4(&c, 1));
    };
    for (auto _ : state) {
        size_t lf = s.text.find(U'\n');
        for (size_t pos = 0; pos < s.text.size();) {
            lf = PrintWrap_LineFeed(s.text, pos, lf);
            pos = PrintWrap_NextLine(s.text, pos, lf, s.width, s.perLine, advance).next;
        }
    }
}
BENCHMARK(BM_CutRule)->Arg(1 << 10)->Arg(4 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_CutRuleAsFirstWritten(benchmark::State& state) {
    WrapSetup s(size_t(state.range(0)));
    const QFontMetricsF m(s.font, &s.printer);
    const iwtest::PrintMeasure measure = [&m](std::u32string_view prefix) {
        return m.horizontalAdvance(QString::fromUcs4(prefix.data(), qsizetype(prefix.size())));
    };
    for (auto _ : state)
        for (size_t pos = 0; pos < s.text.size();)
            pos = iwtest::LiteralNextLine(s.text, pos, s.width, s.perLine, measure).next;
}
BENCHMARK(BM_CutRuleAsFirstWritten)
    ->Arg(1 << 10)
    ->Arg(4 << 10)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

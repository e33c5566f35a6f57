// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/process.h"
#include "../support/temp_env.h"
#include "platform/log.h"
#include "ui/print.h"

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>

#include <cstdlib>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Prints to a PDF file instead of asking; remembers what it was asked.
struct PdfPrinter {
    std::string path;
    bool offered = false;
    bool choose = false;
    PrintPrinterSource old;

    explicit PdfPrinter(bool chooseSelection = false) : choose(chooseSelection) {
        path = iwtest::MakeTempDir("print") + "/out.pdf";
        old = Print_SetPrinterSource([this](QWidget*, bool allowed, bool* chosen) {
            offered = allowed;
            *chosen = allowed && choose;
            auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
            printer->setResolution(300);
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setPageSize(QPageSize(QPageSize::A4));
            printer->setOutputFileName(QString::fromStdString(path));
            return printer;
        });
    }
    ~PdfPrinter() { Print_SetPrinterSource(std::move(old)); }
};

// The printing lines of the category log written while it lives.
struct PrintLog {
    std::string path = iwtest::MakeTempDir("log") + "/print.log";
    PrintLog() { Log_Open(path.c_str(), LOG_PRINT); }
    ~PrintLog() { Log_Close(); }
    std::string text() const { return iwtest::ReadFile(path); }
    int count(const std::string& what) const {
        const std::string t = text();
        int n = 0;
        for (size_t at = t.find(what); at != std::string::npos; at = t.find(what, at + 1))
            ++n;
        return n;
    }
    int number(const std::string& key) const {
        std::smatch m;
        const std::string t = text();
        return std::regex_search(t, m, std::regex(key + " *: (\\d+)")) ? std::stoi(m[1]) : -1;
    }
};

int pageCount(const std::string& pdf) {
    std::string out;
    iwtest::RunCollect({"pdfinfo", pdf}, &out);
    std::smatch m;
    return std::regex_search(out, m, std::regex("Pages: +(\\d+)")) ? std::stoi(m[1]) : -1;
}

// The text lines of one page, as a reader of the file finds them.
std::vector<std::string> pageLines(const std::string& pdf, int page) {
    std::string out;
    const std::string k = std::to_string(page);
    iwtest::RunCollect({"pdftotext", "-layout", "-f", k, "-l", k, pdf, "-"}, &out);
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\f'))
            line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::string numbered(int i) {
    char buf[16];
    snprintf(buf, sizeof buf, "line-%03d", i);
    return buf;
}

TEST(Print, LongMessageIsWrappedAndBrokenIntoPagesToPdf) {
    PdfPrinter pdf;
    PrintLog log;
    // 200 numbered lines with CR LF ends; line 5 is one word far wider
    // than the page, line 7 a sentence that wraps at blanks.
    std::vector<std::string> source;
    std::string body;
    for (int i = 1; i <= 200; ++i) {
        std::string line = numbered(i);
        if (i == 5) line += std::string(300, 'X');
        if (i == 7)
            for (int w = 0; w < 40; ++w)
                line += " word" + std::to_string(w);
        source.push_back(line);
        body += line + "\r\n";
    }
    QTextEdit field;
    field.setPlainText(QString::fromStdString(body));
    const std::string heading = "From:\t\tAlice <a@example.org>\nSubject:\t\tLong one";
    Print_WindowText(&heading, &field);

    // tools/printed-page.sh renders the first page of this print.
    if (const char* keep = std::getenv("IW_PRINT_KEEP_PDF"))
        QFile::copy(QString::fromStdString(pdf.path), QString::fromLocal8Bit(keep));
    EXPECT_TRUE(field.isEnabled());
    EXPECT_EQ(log.count("is Done"), 1) << log.text();
    const size_t perLine = size_t(log.number("numCharsInLine"));
    ASSERT_GT(perLine, 40u);
    ASSERT_LT(perLine, 300u);
    const int pages = pageCount(pdf.path);
    ASSERT_GT(pages, 2);
    EXPECT_EQ(log.count("StartPage: 1"), pages - 1);

    std::vector<std::string> all;
    std::vector<size_t> perPage;
    for (int k = 1; k <= pages; ++k) {
        const std::vector<std::string> lines = pageLines(pdf.path, k);
        perPage.push_back(lines.size());
        all.insert(all.end(), lines.begin(), lines.end());
    }
    ASSERT_GE(all.size(), 3u);
    EXPECT_TRUE(std::regex_match(all[0], std::regex("From: +Alice <a@example.org>"))) << all[0];
    EXPECT_TRUE(std::regex_match(all[1], std::regex("Subject: +Long one"))) << all[1];
    // Every full page holds as many lines; only the last may hold fewer.
    for (int k = 1; k + 1 < pages; ++k)
        EXPECT_EQ(perPage[k], perPage[0]) << "page " << k + 1;
    EXPECT_LE(perPage.back(), perPage[0]);

    // Each source line in order, nothing lost or repeated at page breaks:
    // the wide word cut hard into lines of the estimate, the sentence at
    // blanks, no carriage return anywhere.
    std::vector<std::vector<std::string>> printed;
    for (size_t i = 2; i < all.size(); ++i) {
        EXPECT_EQ(all[i].find('\r'), std::string::npos);
        if (all[i].rfind(numbered(int(printed.size()) + 1), 0) == 0) printed.emplace_back();
        ASSERT_FALSE(printed.empty()) << all[i];
        printed.back().push_back(all[i]);
    }
    ASSERT_EQ(printed.size(), source.size()) << pdf.path;
    for (size_t i = 0; i < source.size(); ++i) {
        std::vector<std::string> want;
        if (i == 4) {
            for (size_t at = 0; at < source[i].size(); at += perLine)
                want.push_back(source[i].substr(at, perLine));
        } else if (i == 6) {
            std::string joined;
            for (const std::string& piece : printed[i]) {
                EXPECT_LE(piece.size(), perLine);
                joined += (joined.empty() ? "" : " ") + piece;
            }
            EXPECT_GT(printed[i].size(), 1u);
            EXPECT_EQ(joined, source[i]);
            continue;
        } else {
            want = {source[i]};
        }
        EXPECT_EQ(printed[i], want) << "line " << i + 1;
    }
}

TEST(Print, SelectionIsOfferedOnlyWhenThereIsOneAndPrintsOnlyWhenChosen) {
    const std::string heading = "Subject:\t\tPicked";
    QPlainTextEdit plain;
    plain.setPlainText("first line\nsecond line\nthird line");
    QTextEdit rich;
    rich.setPlainText("first line\nsecond line\nthird line");
    for (QWidget* field : {static_cast<QWidget*>(&plain), static_cast<QWidget*>(&rich)}) {
        {
            PdfPrinter pdf(true);
            Print_WindowText(&heading, field);
            EXPECT_FALSE(pdf.offered);
            EXPECT_EQ(pageLines(pdf.path, 1).size(), 4u);
        }
        // "cond line\nthir": a selection across a line end.
        auto select = [](QTextCursor c) {
            c.setPosition(13);
            c.setPosition(27, QTextCursor::KeepAnchor);
            return c;
        };
        if (auto* p = qobject_cast<QPlainTextEdit*>(field))
            p->setTextCursor(select(p->textCursor()));
        else
            rich.setTextCursor(select(rich.textCursor()));
        {
            PdfPrinter pdf(false);
            Print_WindowText(&heading, field);
            EXPECT_TRUE(pdf.offered);
            EXPECT_EQ(pageLines(pdf.path, 1).size(), 4u);
        }
        PdfPrinter pdf(true);
        Print_WindowText(&heading, field);
        const std::vector<std::string> lines = pageLines(pdf.path, 1);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_TRUE(std::regex_match(lines[0], std::regex("Subject: +Picked"))) << lines[0];
        EXPECT_EQ(lines[1], "cond line");
        EXPECT_EQ(lines[2], "thir");
    }
}

TEST(Print, CancelStopsBeforeTheNextPageAndLeavesNoDocument) {
    PdfPrinter pdf;
    PrintLog log;
    QPlainTextEdit field;
    std::string body;
    for (int i = 0; i < 2000; ++i)
        body += numbered(i) + "\n";
    field.setPlainText(QString::fromStdString(body));

    int pagesAtCancel = -1;
    bool fieldEnabledWhilePrinting = true;
    QTimer::singleShot(0, qApp, [&] {
        QWidget* window = Print_CancelWindow();
        ASSERT_NE(window, nullptr);
        fieldEnabledWhilePrinting = field.isEnabled();
        pagesAtCancel = log.count("StartPage");
        window->findChild<QPushButton*>("cancel")->click();
    });
    Print_WindowText(nullptr, &field);

    EXPECT_FALSE(fieldEnabledWhilePrinting);
    EXPECT_TRUE(field.isEnabled());
    EXPECT_EQ(pagesAtCancel, 0);
    EXPECT_EQ(log.count("StartPage"), pagesAtCancel);
    EXPECT_EQ(log.count("PRN:----------> Printing is ABORTED\n"), 1);
    EXPECT_EQ(log.count("PRN:***** Print Window Text is ABORTED ***\n"), 1);
    EXPECT_EQ(log.count("is Done"), 0);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(pdf.path)));
    QApplication::processEvents();
    EXPECT_EQ(Print_CancelWindow(), nullptr);
}

} // namespace

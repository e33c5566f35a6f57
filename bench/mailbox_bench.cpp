// SPDX-License-Identifier: GPL-3.0-or-later
// The MailBox window at the size of large boxes: filling the list from a
// box of 50,000 records, sorting it by each column, finding a text in its
// last row, and opening the window on 10 accounts of 10,000 records; first
// the view model alone, then the window with its widgets (offscreen).
#include "settings/account.h"
#include "settings/msgbox.h"
#include "ui/mailbox/mailbox_model.h"
#include "ui/mailbox/mailbox_window.h"

#include <QApplication>
#include <QHeaderView>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <cstdlib>

#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kBig = 50000;

// An account with `count` records in shuffled order, with varied texts,
// sizes and dates, as a long-kept box looks.
ACCOUNT* makeAccount(const std::string& name, int count, uint32_t seed) {
    ACCOUNT* acc = Account_Get(name.c_str(), -1);
    if (acc) return acc;
    acc = Account_Add(name, nullptr);
    std::mt19937 rng(seed);
    for (int i = 0; i < count; ++i) {
        const int n = static_cast<int>(rng() % 100000);
        MSG_RECORD r = MsgRecord_Empty();
        r.SetText(MSGF_ID, name + "-uidl-" + std::to_string(i));
        r.SetText(MSGF_FROM,
                  "Sender " + std::to_string(n) + " <s" + std::to_string(n) + "@example.invalid>");
        r.SetText(MSGF_TO, "me" + std::to_string(n % 7) + "@example.invalid");
        r.SetText(MSGF_SUBJECT, "Re: subject of message number " + std::to_string(n) + " (" +
                                    std::to_string(i) + ")");
        r.Size = static_cast<int32_t>(rng() % 5000000);
        r.SetText(MSGF_SIZETEXT, MsgRecord_SizeKB(r.Size));
        r.Date = DATETIME{static_cast<uint16_t>(2000 + rng() % 25),
                          static_cast<uint16_t>(1 + rng() % 12),
                          0,
                          static_cast<uint16_t>(1 + rng() % 28),
                          static_cast<uint16_t>(rng() % 24),
                          static_cast<uint16_t>(rng() % 60),
                          static_cast<uint16_t>(rng() % 60),
                          0};
        r.Status = i % 10 == 0 ? MSG_UNREAD : MSG_OLD;
        MsgBox_AddMsg(&acc->hMsgBox, &r, acc, 0);
    }
    MsgBox_Recount(acc->hMsgBox, acc);
    return acc;
}

void bigBox() {
    Account_FreeAll();
    makeAccount("big", kBig, 1);
}

void BM_Fill(benchmark::State& state) {
    bigBox();
    MailBoxModel model;
    model.Open("");
    for (auto _ : state) {
        state.PauseTiming();
        model.SelectNode(0);
        state.ResumeTiming();
        model.SelectNode(1);
    }
    if (model.List().Count() != kBig) state.SkipWithError("rows missing");
}
BENCHMARK(BM_Fill)->Unit(benchmark::kMillisecond);

void BM_Sort(benchmark::State& state) {
    bigBox();
    MailBoxModel model;
    model.Open("");
    const int column = static_cast<int>(state.range(0));
    for (auto _ : state)
        model.ClickHeader(column); // each click sorts, in turn up and down
    state.SetLabel(model.List().HeaderText(column));
}
BENCHMARK(BM_Sort)->DenseRange(MBCOL_FROM, MBCOL_DATE)->Unit(benchmark::kMillisecond);

void BM_FindInLastRow(benchmark::State& state) {
    bigBox();
    MailBoxModel model;
    model.Open("");
    const std::string& subject = model.List().Row(kBig - 1).subject;
    const std::string text = subject.substr(subject.rfind('(')); // in this row only
    const bool matchCase = state.range(0) != 0;
    for (auto _ : state) {
        model.SetSelection({0}, 0);
        const MAILBOX_OUTCOME out = model.Find(text, matchCase, true);
        if (out.notice) state.SkipWithError("not found");
    }
    state.SetLabel(matchCase ? "match case" : "any case");
}
BENCHMARK(BM_FindInLastRow)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// What a steady check does once per message on the server: every id of
// the big box looked up in its index.
void BM_LookUpEveryId(benchmark::State& state) {
    bigBox();
    ACCOUNT* acc = Account_Get("big", -1);
    std::vector<std::string> ids;
    for (int i = 0; i < kBig; ++i)
        ids.push_back("big-uidl-" + std::to_string(i));
    int found = 0;
    for (auto _ : state)
        for (const std::string& id : ids)
            found += MsgBox_FindMsg(acc->hMsgBox, id.c_str(), nullptr) != nullptr;
    if (found != kBig * static_cast<int>(state.iterations())) state.SkipWithError("ids missing");
}
BENCHMARK(BM_LookUpEveryId)->Unit(benchmark::kMillisecond);

void BM_Open10x10k(benchmark::State& state) {
    Account_FreeAll();
    for (int a = 0; a < 10; ++a)
        makeAccount("account" + std::to_string(a), 10000, static_cast<uint32_t>(a + 7));
    for (auto _ : state) {
        MailBoxModel model;
        model.Open("Default");
        benchmark::DoNotOptimize(model.List().Count());
    }
}
BENCHMARK(BM_Open10x10k)->Unit(benchmark::kMillisecond);

// ---- The window: the model above plus the tree, the list and the texts ------

void closeWindow(MailBoxWindow* w) {
    w->CloseNow();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void BM_WindowOpen10x10k(benchmark::State& state) {
    Account_FreeAll();
    for (int a = 0; a < 10; ++a)
        makeAccount("account" + std::to_string(a), 10000, static_cast<uint32_t>(a + 7));
    for (auto _ : state) {
        MailBoxWindow* w = MailBox_Open({});
        QCoreApplication::processEvents(); // laid out and drawn once
        state.PauseTiming();
        closeWindow(w);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WindowOpen10x10k)->Unit(benchmark::kMillisecond);

void BM_WindowSortByHeader(benchmark::State& state) {
    bigBox();
    MailBoxWindow* w = MailBox_Open({});
    QCoreApplication::processEvents();
    const int column = static_cast<int>(state.range(0));
    for (auto _ : state) {
        emit w->List()->header()->sectionClicked(column); // as a click does
        QCoreApplication::processEvents();
    }
    if (w->List()->model()->rowCount() != kBig) state.SkipWithError("rows missing");
    closeWindow(w);
}
BENCHMARK(BM_WindowSortByHeader)->DenseRange(MBCOL_FROM, MBCOL_DATE)->Unit(benchmark::kMillisecond);

void BM_WindowSelectAll(benchmark::State& state) {
    bigBox();
    MailBoxWindow* w = MailBox_Open({});
    QCoreApplication::processEvents();
    for (auto _ : state) {
        w->Command(MBC_SELECT_ALL);
        QCoreApplication::processEvents();
    }
    closeWindow(w);
}
BENCHMARK(BM_WindowSelectAll)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/status.h"
#include "ui/newmail_popup.h"
#include "ui/progress.h"
#include "ui/windows.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

// Runs `fn` on the UI thread once the modal loop that follows has started.
void later(int ms, std::function<void()> fn) {
    QTimer::singleShot(ms, qApp, std::move(fn));
}

QString label(QWidget* w, const char* name) {
    auto* l = w ? w->findChild<QLabel*>(QString::fromLatin1(name)) : nullptr;
    return l ? l->text() : QString("<none>");
}

void click(QWidget* w, const char* name) {
    auto* b = w->findChild<QPushButton*>(QString::fromLatin1(name));
    ASSERT_NE(b, nullptr) << name;
    b->click();
}

void pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(DownloadBox, OperationThatEndsBeforeOrDuringTheBoxNeverLeavesItWaiting) {
    // Finished before the box exists: the worker's close came too early to
    // reach it, the record still tells.
    auto early = std::make_shared<CHECK_COMPLETION>();
    early->Finish(ERR_OPERATION, false);
    Progress_Close();
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(Progress_StartMessage(nullptr, early), 1);
    EXPECT_LT(t.elapsed(), 1000);

    // Finished on the worker while the box runs, with no close at all.
    auto during = std::make_shared<CHECK_COMPLETION>();
    std::thread worker([during] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        during->Finish(0, true);
    });
    t.restart();
    EXPECT_EQ(Progress_StartMessage(nullptr, during), 1);
    worker.join();
    EXPECT_LT(t.elapsed(), 5000);
}

TEST(DownloadBox, StaleCloseIsIgnoredAndCancelAbortsTheCheck) {
    std::vector<uint32_t> aborts;
    Progress_SetAbortHandler([&](uint32_t code) { aborts.push_back(code); });
    auto c = std::make_shared<CHECK_COMPLETION>();
    bool stillOpenAfterClose = false;
    later(50, [] { Progress_Close(); }); // left over from an earlier operation
    later(300, [&] {
        stillOpenAfterClose = Progress_Window() != nullptr;
        if (Progress_Window()) click(Progress_Window(), "cancel");
    });
    EXPECT_EQ(Progress_StartMessage(nullptr, c), 2);
    EXPECT_TRUE(stillOpenAfterClose);
    EXPECT_EQ(aborts, std::vector<uint32_t>{ERR_CANCELLED});
    Progress_SetAbortHandler(nullptr);
}

TEST(SendBox, StatusFromTheSendThreadArrivesAndTheEndClosesIt) {
    auto c = std::make_shared<CHECK_COMPLETION>();
    QString seen;
    std::thread sender([c] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::string text = "Sending DATA";
        SendProgress_SetStatus(text);
        text.assign(20, 'x'); // the box must show its own copy
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        c->Finish(0, true);
        SendProgress_Close();
    });
    later(200, [&] { seen = label(Progress_Window(), "text1711"); });
    EXPECT_EQ(SendProgress_Run(nullptr, "", c, [] {}), 1);
    sender.join();
    EXPECT_EQ(seen, "Sending DATA");
}

TEST(CheckWindow, HideKeepsThePlaceAndTextsCancelWaitsForTheWorker) {
    std::vector<uint32_t> aborts;
    Progress_SetAbortHandler([&](uint32_t code) { aborts.push_back(code); });
    Progress_Start(true);
    QWidget* w = Progress_Window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(label(w, "text1709"), "Initializing...");
    // 90 bytes of two-byte characters: kept as 39 whole characters (78 bytes).
    std::string longName;
    for (int i = 0; i < 45; ++i)
        longName += "\xC3\xA9";
    Progress_SetAccount(longName);
    Progress_SetStatus("Connecting...");
    EXPECT_EQ(Progress_KeptAccount().size(), 78u);
    EXPECT_EQ(label(w, "text1711"), "Connecting...");

    w->move(140, 90);
    const QPoint at = w->pos();
    click(w, "hide");
    pump(50);
    EXPECT_EQ(Progress_Window(), nullptr);
    Progress_Start(true);
    w = Progress_Window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->pos(), at);
    EXPECT_EQ(label(w, "text1709").toUtf8().toStdString(), Progress_KeptAccount());
    EXPECT_EQ(label(w, "text1711"), "Connecting...");

    click(w, "skip");
    click(w, "cancel");
    EXPECT_EQ(Progress_Window(), w) << "Cancel leaves the window to the worker's close";
    EXPECT_EQ(aborts, (std::vector<uint32_t>{ERR_SKIPPED, ERR_CANCELLED}));

    Progress_Close();
    pump(50);
    EXPECT_EQ(Progress_Window(), nullptr);
    EXPECT_EQ(Progress_KeptAccount(), "");
    EXPECT_EQ(Progress_KeptStatus(), "");
    Progress_SetAbortHandler(nullptr);
}

TEST(NewMailPopup, SecondAnnouncementUpdatesTheCountAndButtonsAct) {
    int later = 0, ignored = 0;
    NewMail_SetActions({nullptr, nullptr, [&] { ++ignored; }, [&] { ++later; }});
    NewMail_Popup(3);
    QWidget* p = NewMail_Window();
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(label(p, "text1718"), "You have 3 new message(s).");
    NewMail_Popup(5);
    EXPECT_EQ(NewMail_Window(), p);
    EXPECT_EQ(label(p, "text1718"), "You have 5 new message(s).");
    click(p, "remindLater");
    pump(20);
    EXPECT_EQ(NewMail_Window(), nullptr);
    EXPECT_EQ(later, 1);

    NewMail_Popup(1);
    click(NewMail_Window(), "ignore");
    pump(20);
    EXPECT_EQ(ignored, 1);

    NewMail_Popup(2);
    NewMail_Popup(0);
    pump(20);
    EXPECT_EQ(NewMail_Window(), nullptr);
    EXPECT_EQ(later, 1);
    NewMail_SetActions({});
}

// At shutdown nothing that shows records may outlive the save: a dialog in
// its own loop ends, and the other windows close.
TEST(UiWindows, CloseAllLeavesNoWindowOpen) {
    UiWindows windows;
    windows.ProgressStart(true);
    NewMail_Popup(2);
    QDialog dialog;
    bool closed = false;
    later(20, [&] {
        windows.CloseAll();
        closed = !dialog.isVisible();
        dialog.reject(); // ends the loop whatever CloseAll did
    });
    dialog.exec();
    EXPECT_TRUE(closed);
    pump(20);
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible()) << w->metaObject()->className();
    EXPECT_EQ(Progress_Window(), nullptr);
    EXPECT_EQ(NewMail_Window(), nullptr);
}

} // namespace

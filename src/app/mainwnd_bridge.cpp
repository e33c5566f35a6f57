// SPDX-License-Identifier: GPL-3.0-or-later
// ENGINE_UI: the worker's calls carried to the UI thread, posted or sent
// with a limit on the wait.
#include "app/mainwnd.h"
#include "app/mainwnd_internal.h"
#include "app/network_watch.h"

#include "app/translation.h"
#include "app/tray.h"
#include "common/status.h"
#include "engine/dialup.h"
#include "platform/log.h"
#include "platform/sound.h"
#include "platform/user_message.h"
#include "settings/account.h"

#include <QAction>
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>

using namespace iwmainwnd;

namespace {

// Blocking sends from the worker: the shared record outlives a waiter that
// gave up, so a late run on the UI thread writes into live memory.
struct Pending {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    bool abandoned = false;
};

} // namespace

bool MainWnd::sendAndWait(std::function<void()> fn, int timeoutMs) {
    if (onUiThread()) {
        fn();
        return true;
    }
    if (unblocked_) return false;
    auto p = std::make_shared<Pending>();
    QMetaObject::invokeMethod(
        this,
        [p, fn = std::move(fn)] {
            {
                std::lock_guard<std::mutex> g(p->m);
                if (p->abandoned) return;
            }
            fn();
            {
                std::lock_guard<std::mutex> g(p->m);
                p->done = true;
            }
            p->cv.notify_all();
        },
        Qt::QueuedConnection);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> g(p->m);
    while (!p->done && !unblocked_) {
        if (p->cv.wait_until(g, std::min(end, std::chrono::steady_clock::now() +
                                                  std::chrono::milliseconds(50))) ==
                std::cv_status::timeout &&
            std::chrono::steady_clock::now() >= end)
            break;
    }
    if (!p->done) p->abandoned = true;
    return p->done;
}

void MainWnd::UnblockWorker(bool on) {
    unblocked_ = on;
    if (on) Sound_CancelAll(); // a sound the worker waits for is a blocking call too
}

void MainWnd::BringSettingsDialogToFront() {
    QApplication::beep();
    QWidget* dialog = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && (w->objectName() == QLatin1String("settingsDialog") ||
                               w->objectName() == QLatin1String("profilesDialog")))
            dialog = w;
    // A box the dialog asks comes first.
    if (QWidget* modal = QApplication::activeModalWidget()) dialog = modal;
    if (dialog) {
        dialog->showNormal();
        dialog->raise();
        dialog->activateWindow();
    }
}

bool MainWnd::NetworkUsable() {
    // Unknown counts as present: only a network known to be gone holds a
    // check back.
    return DialUp_ConnectionUsable(!network_ || network_->State() != NETWORK_STATE::Disconnected);
}

int MainWnd::ShowBox(std::string_view caption, std::string_view text, unsigned flags) {
    if (!windows_) return UserMsg_DefaultAnswer(flags);
    auto answer = std::make_shared<int>(UserMsg_DefaultAnswer(flags));
    sendAndWait([this, answer, c = std::string(caption), t = std::string(text),
                 flags] { *answer = windows_->MessageBox(c, t, flags); },
                INT_MAX);
    return *answer;
}

void MainWnd::ProgressStart() {
    if (windows_) windows_->ProgressStart(true);
}

void MainWnd::ProgressSetAccount(std::string_view accountName) {
    QMetaObject::invokeMethod(
        this,
        [this, t = std::string(accountName)] {
            if (windows_) windows_->ProgressSetAccount(t);
        },
        Qt::QueuedConnection);
}

void MainWnd::ProgressSetStatus(std::string_view accountName, std::string_view text) {
    QMetaObject::invokeMethod(
        this,
        [this, a = std::string(accountName), t = Translation_Shown(text)] {
            if (windows_) windows_->ProgressSetStatus(t);
            SetTip(a + ": " + t);
        },
        Qt::QueuedConnection);
}

void MainWnd::ProgressClose() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (windows_) windows_->ProgressClose();
        },
        Qt::QueuedConnection);
}

int MainWnd::ProgressDownload(std::shared_ptr<CHECK_COMPLETION> completion) {
    if (!windows_) {
        // No window to wait in: wait for the worker itself.
        std::unique_lock<std::mutex> g(completion->lock);
        completion->changed.wait(g, [&] { return completion->done; });
        return 1;
    }
    return windows_->ProgressDownload(std::move(completion));
}

void MainWnd::SetCancelCheckEnabled(bool enabled) {
    QMetaObject::invokeMethod(
        this,
        [this, enabled] {
            cancelEnabled_ = enabled;
            if (QAction* a = MenuAction(CMD_CANCEL_CHECK)) a->setEnabled(enabled && loaded_);
        },
        Qt::QueuedConnection);
}

void MainWnd::SetCheckAnimation(bool on) {
    if (on) {
        KillTimer(TIMER_BLINK);
        SetTimer(TIMER_ANIMATION, 1000, 1000);
    } else {
        KillTimer(TIMER_ANIMATION);
    }
}

void MainWnd::SetNewMailBlink(bool on) {
    if (on) {
        SetTimer(TIMER_BLINK, 1000, 1000);
        return;
    }
    KillTimer(TIMER_BLINK);
    // Stopping the blink on its second frame leaves the new-mail icon.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (iconShown_ == ICON_BLINK2) setTrayIcon(ICON_NEWMAIL);
        },
        Qt::QueuedConnection);
}

void MainWnd::TrayUpdateSummary() {
    sendAndWait([this] { UpdateSummary(nullptr, nullptr, nullptr); }, 5000);
}

void MainWnd::AccountChecked(uint32_t result, ACCOUNT* account) {
    sendAndWait(
        [this, result, account] {
            if (windows_) windows_->MailBoxAccountChecked(result, account);
        },
        60000);
}

void MainWnd::MailBoxRefresh(ACCOUNT* account) {
    sendAndWait(
        [this, account] {
            if (windows_) windows_->MailBoxRefresh(account);
        },
        60000);
}

void MainWnd::ShowMailBoxes() {
    Post(WM_SHOW_MAILBOXES);
}

void MainWnd::NewMailPopup(int count) {
    sendAndWait([this, count] { HandleMessage(WM_NEWMAIL_POPUP, 0, count); }, 60000);
}

bool MainWnd::FilterShowMessage(ACCOUNT* account, std::string_view id, std::string_view text) {
    if (!windows_ || !account) return false;
    DebugLog_Write("WM_FILTER_SHOW_MSG: %s \"%.128s\"\n", account->Name.c_str(),
                   std::string(id).c_str());
    auto shown = std::make_shared<bool>(false);
    // The worker waits at most 10 s; the text is copied for the UI thread
    // because the worker's buffer does not outlive a time-out.
    if (!sendAndWait([this, shown, name = account->Name,
                      copy = std::string(text)] { *shown = windows_->ShowMessage(name, copy); },
                     10000))
        return false;
    return *shown;
}

uint32_t MainWnd::AskPassword(const ACCOUNT& account, std::string* password) {
    if (!windows_) return ERR_NOT_READY;
    struct Answer {
        uint32_t rc = ERR_NOT_READY;
        std::string typed;
    };
    auto answer = std::make_shared<Answer>();
    // The prompt waits for the user, however long; shutdown unblocks it.
    if (!sendAndWait(
            [this, answer, name = account.Name, login = account.ChkLogin] {
                answer->rc = windows_->AskPassword(name, login, &answer->typed);
            },
            INT_MAX))
        return ERR_NOT_READY;
    if (answer->rc == 0) *password = answer->typed;
    return answer->rc;
}

void MainWnd::PlaySound(std::string_view file, bool sync) {
    if (file.empty())
        Sound_PlayNewMail(sync);
    else
        Sound_PlayFile(std::string(file), sync);
    // New mail may come once a day: the sound service is not kept meanwhile.
    QMetaObject::invokeMethod(
        this, [this] { releaseSoundLater(); }, Qt::QueuedConnection);
}

void MainWnd::releaseSoundLater(int tries) {
    QTimer::singleShot(10000, this, [this, tries] {
        // A long sound still plays; one that never reports its end is let
        // be after five minutes.
        if (!Sound_ReleaseIfIdle() && tries < 30) releaseSoundLater(tries + 1);
    });
}

bool MainWnd::LaunchMailClient(ACCOUNT* account) {
    auto started = std::make_shared<bool>(false);
    sendAndWait([started, account] { *started = MailClient_Launch(account) != 0; }, 60000);
    return *started;
}

void MainWnd::RequestShutdown() {
    Post(WM_APP_SHUTDOWN);
}

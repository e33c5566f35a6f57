// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's windows and timers for a run without a display (the command
// line): there is no UI thread, so every "blocking" call is carried out on
// the worker itself. Nothing is shown; the per-account results are kept for
// the caller, and a password is asked through the given callback.
#pragma once

#include "engine/engine_ui.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct HEADLESS_RESULT {
    std::string account; // the account's name
    uint32_t result = 0; // Pop3Acc_Check's result
};

class HEADLESS_UI : public ENGINE_UI {
  public:
    // Answers the account check's password prompt: 0 and *password, or a
    // status (ERR_NOT_READY: nobody to ask). Called on the worker.
    using PasswordFn = std::function<uint32_t(const ACCOUNT& account, std::string* password)>;
    explicit HEADLESS_UI(PasswordFn askPassword) : askPassword_(std::move(askPassword)) {}

    // The accounts checked so far, in order, with their results.
    std::vector<HEADLESS_RESULT> Results();

    void UnblockWorker(bool) override {}
    bool IsSettingsDialogOpen() override { return false; }
    void BringSettingsDialogToFront() override {}
    // Reported open so that the engine hands over every account's result
    // (AccountChecked); it also keeps announcements to the ones that suit a
    // terminal: none.
    bool IsMailBoxOpen() override { return true; }
    bool IsComposeOpen() override { return false; }
    // No system network state to ask; a dial-up line in mode 2 still counts.
    bool NetworkUsable() override;
    void ProgressStart() override {}
    void ProgressSetAccount(std::string_view) override {}
    void ProgressSetStatus(std::string_view, std::string_view) override {}
    void ProgressClose() override {}
    int ProgressDownload(std::shared_ptr<CHECK_COMPLETION> completion) override;
    void SetCancelCheckEnabled(bool) override {}
    void SetCheckAnimation(bool) override {}
    void SetNewMailBlink(bool) override {}
    void TrayUpdateSummary() override {}
    void AccountChecked(uint32_t result, ACCOUNT* account) override;
    void MailBoxRefresh(ACCOUNT*) override {}
    void ShowMailBoxes() override {}
    void NewMailPopup(int) override {}
    bool FilterShowMessage(ACCOUNT*, std::string_view, std::string_view) override { return false; }
    uint32_t AskPassword(const ACCOUNT& account, std::string* password) override;
    void PlaySound(std::string_view, bool) override {}
    bool LaunchMailClient(ACCOUNT*) override { return false; }
    void RequestShutdown() override {}

  private:
    PasswordFn askPassword_;
    std::mutex mu_;
    std::vector<HEADLESS_RESULT> results_;
};

// Timers that never fire (a command-line run checks once and ends) and the
// system clock.
class HEADLESS_TIMERS : public ENGINE_TIMERS {
  public:
    bool SetTimer(int, int64_t, int64_t) override { return true; }
    void KillTimer(int) override {}
    DATETIME Now() override { return DateTime_Now(); }
};

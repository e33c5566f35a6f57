// SPDX-License-Identifier: GPL-3.0-or-later
// A recording ENGINE_UI and a fake clock with timers for the engine and
// scheduler tests. The test thread plays the UI thread: it runs a
// QCoreApplication event loop, and the worker's blocking calls reach it as
// queued calls with a timed wait, as they reach the tray program's window.
#pragma once

#include "common/datetime.h"
#include "common/status.h"
#include "engine/engine_ui.h"
#include "engine/mailcheck.h"
#include "engine/schedule.h"
#include "settings/account.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace iwtest {

class RecordingUi : public ENGINE_UI {
  public:
    // Every call of interest, in order ("account a1", "popup 3", ...).
    std::vector<std::string> Events() {
        std::lock_guard lock(mu_);
        return events_;
    }
    std::vector<std::string> EventsStartingWith(const std::string& prefix) {
        std::vector<std::string> out;
        for (auto& e : Events())
            if (e.rfind(prefix, 0) == 0) out.push_back(e);
        return out;
    }
    void ClearEvents() {
        std::lock_guard lock(mu_);
        events_.clear();
    }

    std::atomic<bool> settingsOpen{false}, mailBoxOpen{false}, network{true};
    // Called (on the UI thread) when the worker asks for a password.
    std::function<uint32_t(const ACCOUNT&, std::string*)> onPassword;
    std::function<void()> onSound;           // on the worker, as a synchronous sound plays
    std::function<void(ACCOUNT*)> onRefresh; // on the worker, as the run's end recounts
    // Blocking calls that reach the UI thread; false: they stay queued.
    std::atomic<bool> serving{true};

    void UnblockWorker(bool on) override {
        std::lock_guard lock(mu_);
        unblocked_ = on;
        events_.push_back(on ? "unblock on" : "unblock off");
    }
    bool IsSettingsDialogOpen() override { return settingsOpen; }
    void BringSettingsDialogToFront() override { Record("dialog front"); }
    bool IsMailBoxOpen() override { return mailBoxOpen; }
    bool IsComposeOpen() override { return false; }
    bool NetworkUsable() override { return network; }
    void ProgressStart() override { Record("progress start"); }
    void ProgressSetAccount(std::string_view name) override {
        Record("account " + std::string(name));
    }
    void ProgressSetStatus(std::string_view, std::string_view) override {}
    void ProgressClose() override { Record("progress close"); }
    // How long the download box takes to appear (a slow UI thread).
    std::atomic<int> downloadBoxDelayMs{0};
    int ProgressDownload(std::shared_ptr<CHECK_COMPLETION> completion) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(downloadBoxDelayMs.load()));
        Record(completion->IsDone() ? "download box: already done" : "download box");
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!completion->IsDone() && std::chrono::steady_clock::now() < end)
            Pump();
        return completion->IsDone() ? 1 : 2;
    }
    void SetCancelCheckEnabled(bool on) override { Record(on ? "cancel on" : "cancel off"); }
    void SetCheckAnimation(bool on) override { Record(on ? "animation on" : "animation off"); }
    void SetNewMailBlink(bool on) override { Record(on ? "blink on" : "blink off"); }
    void TrayUpdateSummary() override {
        Blocking([this] { Record("summary"); }, 5000);
    }
    void AccountChecked(uint32_t, ACCOUNT* acc) override {
        Blocking([this, name = acc->Name] { Record("checked " + name); }, 60000);
    }
    void MailBoxRefresh(ACCOUNT* acc) override {
        if (onRefresh) onRefresh(acc);
    }
    void ShowMailBoxes() override { Record("mailboxes"); }
    void NewMailPopup(int count) override {
        Blocking([this, count] { Record("popup " + std::to_string(count)); }, 60000);
    }
    bool FilterShowMessage(ACCOUNT*, std::string_view, std::string_view) override { return false; }
    uint32_t AskPassword(const ACCOUNT& acc, std::string* pw) override {
        // The queued call may outlive this frame when the wait is cut short.
        auto answer = std::make_shared<std::pair<uint32_t, std::string>>(ERR_NOT_READY, "");
        const ACCOUNT* a = &acc;
        if (!Blocking(
                [this, answer, a] {
                    answer->first = onPassword ? onPassword(*a, &answer->second) : ERR_NOT_READY;
                },
                60000))
            return ERR_NOT_READY;
        *pw = answer->second;
        return answer->first;
    }
    void PlaySound(std::string_view file, bool) override {
        Record("sound " + std::string(file));
        if (onSound) onSound();
    }
    bool LaunchMailClient(ACCOUNT* acc) override {
        Record("client " + (acc ? acc->Name : std::string("-")));
        return true;
    }
    void RequestShutdown() override { Record("shutdown"); }

    void Record(const std::string& e) {
        std::lock_guard lock(mu_);
        events_.push_back(e);
    }

    // Runs the UI thread's queued calls for a moment.
    static void Pump() {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

  private:
    // The main window's pattern: a queued call to the UI thread and a timed
    // wait that ends at once while unblocked. A call given up on is dropped
    // when it comes round, so it never runs after its caller has gone.
    bool Blocking(std::function<void()> fn, int timeoutMs) {
        struct State {
            std::mutex m;
            std::condition_variable cv;
            bool done = false, abandoned = false;
        };
        auto state = std::make_shared<State>();
        {
            std::lock_guard lock(mu_);
            if (unblocked_) return false;
        }
        if (serving)
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [fn, state] {
                    std::unique_lock lock(state->m);
                    if (state->abandoned) return;
                    fn();
                    state->done = true;
                    state->cv.notify_all();
                },
                Qt::QueuedConnection);
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::unique_lock lock(state->m);
        while (!state->done && std::chrono::steady_clock::now() < end) {
            {
                std::lock_guard guard(mu_);
                if (unblocked_) break;
            }
            state->cv.wait_for(lock, std::chrono::milliseconds(10));
        }
        if (!state->done) state->abandoned = true;
        return state->done;
    }

    std::mutex mu_;
    bool unblocked_ = false;
    std::vector<std::string> events_;
};

// A clock that moves only when told, and timers that fire on it.
class FakeTimers : public ENGINE_TIMERS {
  public:
    explicit FakeTimers(DATETIME start)
        : now_(DateTime_ToTime(start) * 1000 + start.wMilliseconds) {}

    bool SetTimer(int id, int64_t firstMs, int64_t periodMs) override {
        std::lock_guard lock(mu_);
        timers_[id] = {now_ + firstMs, periodMs, firstMs};
        return true;
    }
    void KillTimer(int id) override {
        std::lock_guard lock(mu_);
        timers_.erase(id);
    }
    DATETIME Now() override {
        std::lock_guard lock(mu_);
        DATETIME d = DateTime_FromTime(static_cast<time_t>(now_ / 1000));
        d.wMilliseconds = static_cast<uint16_t>(now_ % 1000);
        return d;
    }
    bool Running(int id) {
        std::lock_guard lock(mu_);
        return timers_.count(id) != 0;
    }
    // The delay the timer was last set with (-1 when not running).
    int64_t FirstDelay(int id) {
        std::lock_guard lock(mu_);
        auto it = timers_.find(id);
        return it == timers_.end() ? -1 : it->second.first;
    }
    // Moves the clock, firing every timer that falls due on the way in time
    // order (ids 151 and 152 belong to the tray: only moved on).
    void Advance(int64_t ms) {
        const int64_t end = [&] {
            std::lock_guard lock(mu_);
            return now_ + ms;
        }();
        for (;;) {
            int id = -1;
            {
                std::lock_guard lock(mu_);
                int64_t best = end + 1;
                for (auto& [tid, t] : timers_)
                    if (t.due < best) {
                        best = t.due;
                        id = tid;
                    }
                if (id < 0) {
                    now_ = end;
                    return;
                }
                now_ = best;
                timers_[id].due += timers_[id].period;
            }
            if (id != TIMER_ANIMATION && id != TIMER_BLINK) Timers_OnTimer(id);
        }
    }

  private:
    struct Timer {
        int64_t due, period, first;
    };
    std::mutex mu_;
    int64_t now_; // ms since the epoch
    std::map<int, Timer> timers_;
};

inline DATETIME LocalTime(int year, int month, int day, int hour, int minute, int second = 0,
                          int ms = 0) {
    const auto u = [](int v) { return static_cast<uint16_t>(v); };
    return DATETIME{u(year), u(month), 0, u(day), u(hour), u(minute), u(second), u(ms)};
}

// Pumps the UI thread's events until the worker has ended (at most 60 s).
inline bool WaitForCheck() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (MailCheck_IsRunning()) {
        if (std::chrono::steady_clock::now() > end) return false;
        RecordingUi::Pump();
    }
    MailCheck_Wait();
    return true;
}

} // namespace iwtest

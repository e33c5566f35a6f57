// SPDX-License-Identifier: GPL-3.0-or-later
// ENGINE_TIMERS: the main window's timers and what each one does.
#include "app/mainwnd.h"
#include "app/mainwnd_internal.h"

#include "app/tray.h"
#include "engine/schedule.h"
#include "platform/log.h"
#include "settings/globaldata.h"

#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <climits>

using namespace iwmainwnd;

bool MainWnd::SetTimer(int id, int64_t firstMs, int64_t periodMs) {
    if (!onUiThread()) {
        QMetaObject::invokeMethod(
            this, [this, id, firstMs, periodMs] { SetTimer(id, firstMs, periodMs); },
            Qt::QueuedConnection);
        return true;
    }
    QTimer*& t = timers_[id];
    if (!t) {
        t = new QTimer(this);
        t->setTimerType(Qt::CoarseTimer);
        connect(t, &QTimer::timeout, this, [this, id] { onTimer(id); });
    }
    t->stop();
    const auto clamp = [](int64_t ms) { return int(std::clamp<int64_t>(ms, 0, INT_MAX)); };
    t->setProperty("period", clamp(periodMs));
    t->setSingleShot(true);
    t->start(clamp(firstMs));
    return true;
}

void MainWnd::KillTimer(int id) {
    if (!onUiThread()) {
        QMetaObject::invokeMethod(
            this, [this, id] { KillTimer(id); }, Qt::QueuedConnection);
        return;
    }
    auto it = timers_.find(id);
    if (it != timers_.end()) it->second->stop();
}

bool MainWnd::TimerRunning(int id) const {
    auto it = timers_.find(id);
    return it != timers_.end() && it->second->isActive();
}

DATETIME MainWnd::Now() {
    return DateTime_Now();
}

void MainWnd::onTimer(int id) {
    QTimer* t = timers_[id];
    const int period = t->property("period").toInt();
    if (period > 0) t->start(period);
    switch (id) {
    case TIMER_CLICK: {
        t->stop();
        const int cmd = _globalInt(GD_SNGLCLICKMENU, 0);
        if (cmd > 0) Command(cmd);
        return;
    }
    case TIMER_ANIMATION:
        animFrame_ = iconShown_ == ICON_NORMAL ? ICON_CHECK2 : ICON_NORMAL;
        setTrayIcon(animFrame_);
        return;
    case TIMER_BLINK:
        blinkFrame_ = iconShown_ == ICON_BLINK2 ? ICON_NEWMAIL : ICON_BLINK2;
        setTrayIcon(blinkFrame_);
        return;
    default:
        Timers_OnTimer(id);
    }
}

void MainWnd::Wake(const char* why) {
    if (!loaded_) return;
    DebugLog_Write("MAIN: %s: catching up on missed checks\n", why);
    const int queued = Schedule_OnWake();
    DebugLog_Write("MAIN: %d account(s) queued after the wake-up\n", queued);
}

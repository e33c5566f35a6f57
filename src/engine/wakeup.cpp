// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/wakeup.h"

#include <ctime>

namespace {

int64_t _clockMs(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace

WAKE_CLOCKS WakeDetector::Read() {
    return {_clockMs(CLOCK_BOOTTIME), _clockMs(CLOCK_MONOTONIC)};
}

bool WakeDetector::Resumed(WAKE_CLOCKS now, int64_t* sleptMs) {
    const int64_t slept = (now.bootMs - last_.bootMs) - (now.monoMs - last_.monoMs);
    last_ = now;
    if (sleptMs) *sleptMs = slept > 0 ? slept : 0;
    return slept >= WAKE_MIN_SLEEP_MS;
}

bool WakeDetector::NetworkChanged(bool online) {
    const bool back = online && !online_;
    online_ = online;
    return back;
}

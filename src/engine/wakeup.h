// SPDX-License-Identifier: GPL-3.0-or-later
// Notices that the machine was away: a resume from suspend, or the network
// coming back. Either way timers may have missed their checks, and the
// scheduler catches up (Schedule_OnWake).
//
// A suspend shows as CLOCK_BOOTTIME running ahead of CLOCK_MONOTONIC, which
// stops while the machine sleeps; polling the two every few seconds needs no
// system service. Plain C++: the caller feeds it the readings, so tests can
// hand it any history.
#pragma once

#include <cstdint>

struct WAKE_CLOCKS {
    int64_t bootMs = 0; // CLOCK_BOOTTIME
    int64_t monoMs = 0; // CLOCK_MONOTONIC
};

// Sleeps shorter than this are scheduling noise, not a suspend.
inline constexpr int64_t WAKE_MIN_SLEEP_MS = 5000;

class WakeDetector {
  public:
    explicit WakeDetector(WAKE_CLOCKS start, bool online = false) : last_(start), online_(online) {}

    // The clocks now.
    static WAKE_CLOCKS Read();

    // True when the machine slept at least WAKE_MIN_SLEEP_MS since the last
    // reading; *sleptMs (optional) receives the time slept.
    bool Resumed(WAKE_CLOCKS now, int64_t* sleptMs = nullptr);

    // True when the network went from not usable (or unknown) to usable.
    bool NetworkChanged(bool online);

  private:
    WAKE_CLOCKS last_;
    bool online_;
};

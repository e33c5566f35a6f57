// SPDX-License-Identifier: GPL-3.0-or-later
// A pause of the leak check that sanitizer builds run at exit: what is
// allocated while a LeakCheckPause lives is never reported. Only for what a
// library makes for the process's life and may fail to free in time: Qt's
// D-Bus thread can end after the exit's check has begun, and its thread data
// would then be reported as leaked. Nothing at all in other builds.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

class LeakCheckPause {
  public:
#if defined(__SANITIZE_ADDRESS__)
    LeakCheckPause() {
        __lsan_disable();
    }
    ~LeakCheckPause() {
        __lsan_enable();
    }
#else
    LeakCheckPause() = default;
    ~LeakCheckPause() {} // user-provided: a pause is no unused variable
#endif
    LeakCheckPause(const LeakCheckPause&) = delete;
    LeakCheckPause& operator=(const LeakCheckPause&) = delete;
};

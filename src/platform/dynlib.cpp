// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/dynlib.h"
#include "platform/log.h"

#include <cstring>
#include <dlfcn.h>

bool DynLib_Load(const char* soname, const char* what,
                 std::initializer_list<DYNLIB_SYMBOL> symbols) {
    void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        DebugLog_Write("%s: no %s (%s)\n", what, soname, dlerror());
        return false;
    }
    for (const DYNLIB_SYMBOL& s : symbols) {
        void* fn = dlsym(handle, s.name);
        if (!fn) {
            DebugLog_Write("%s: %s lacks %s\n", what, soname, s.name);
            return false;
        }
        // A function pointer's bytes, as POSIX gives them through void*.
        std::memcpy(s.slot, &fn, sizeof fn);
    }
    return true;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/tls_lib.h"
#include "platform/log.h"

#include <dlfcn.h>

const TLS_LIB* Tls_Lib() {
    static const TLS_LIB* const loaded = []() -> const TLS_LIB* {
        // Never unloaded: OpenSSL keeps per-thread state until the process ends.
        void* handle = dlopen("libssl.so.3", RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            DebugLog_Write("TLS: no libssl (%s)\n", dlerror());
            return nullptr;
        }
        static TLS_LIB l;
        bool complete = true;
#define IW_TLS_RESOLVE(name)                                                                       \
    l.name = reinterpret_cast<decltype(l.name)>(dlsym(handle, #name));                             \
    complete = complete && l.name;
        IW_TLS_FUNCTIONS(IW_TLS_RESOLVE)
#undef IW_TLS_RESOLVE
        if (!complete) {
            DebugLog_Write("TLS: libssl lacks a function it should have\n");
            return nullptr;
        }
        return &l;
    }();
    return loaded;
}

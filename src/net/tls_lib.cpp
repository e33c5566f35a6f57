// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/tls_lib.h"
#include "platform/dynlib.h"

const TLS_LIB* Tls_Lib() {
    static const TLS_LIB* const loaded = []() -> const TLS_LIB* {
        static TLS_LIB l;
#define IW_TLS_SYMBOL(name) DYNLIB_SYMBOL_OF(l, name),
        return DynLib_Load("libssl.so.3", "TLS", {IW_TLS_FUNCTIONS(IW_TLS_SYMBOL)}) ? &l : nullptr;
#undef IW_TLS_SYMBOL
    }();
    return loaded;
}

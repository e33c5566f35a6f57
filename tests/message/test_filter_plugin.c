// SPDX-License-Identifier: GPL-3.0-or-later
/* A filter plug-in for the tests: the action for a message is the hex number
 * of its "X-Test-Action:" line, else the number stored as "TestAction" under
 * the filter's key. It counts its calls without a lock of its own, so a
 * count that comes out right shows that the program serialises them. */
#include "message/iwfilter.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct iwf_filter {
    char key_path[1024];
    uint32_t default_action;
    int32_t calls;
    const IWF_STORE* store;
};

#ifndef IWF_TEST_ABI
#define IWF_TEST_ABI IWFILTER_ABI_VERSION
#endif

uint32_t Filter_AbiVersion(void) {
    return IWF_TEST_ABI;
}

uint32_t Filter_Initialize(const IWF_STORE* store, const char* display_name, const char* key_path,
                           const char* filter_file, IWF_HANDLE* out) {
    struct iwf_filter* f = calloc(1, sizeof *f);
    if (!f) return 0xF0000001u;
    snprintf(f->key_path, sizeof f->key_path, "%s", key_path);
    f->store = store;
    uint32_t type = 0, value = 0, len = sizeof value;
    if (store->get_value(store->ctx, key_path, "TestAction", &type, &value, &len) == 0 &&
        type == IWF_TYPE_NUMBER)
        f->default_action = value;
    /* Leave a trace of what the program handed over. */
    store->set_value(store->ctx, key_path, "TestDisplayName", IWF_TYPE_STRING, display_name,
                     (uint32_t)strlen(display_name) + 1);
    if (filter_file)
        store->set_value(store->ctx, key_path, "TestFilterFile", IWF_TYPE_STRING, filter_file,
                         (uint32_t)strlen(filter_file) + 1);
    *out = f;
    return 0;
}

uint32_t Filter_ChangePath(IWF_HANDLE h, const IWF_STORE* store, const char* account_name,
                           const char* new_key_path, const char* value) {
    (void)store, (void)account_name, (void)value;
    snprintf(h->key_path, sizeof h->key_path, "%s", new_key_path);
    return 0;
}

uint32_t Filter_GetMsgAction(IWF_HANDLE h, const char* text) {
    /* A deliberately unsynchronised read-modify-write. */
    int32_t calls = h->calls;
    for (volatile int spin = 0; spin < 50; ++spin) {
    }
    h->calls = calls + 1;
    const char* tag = strstr(text, "X-Test-Action: 0x");
    if (tag) return (uint32_t)strtoul(tag + 17, NULL, 16);
    return h->default_action;
}

#ifndef IWF_TEST_NO_CLOSE
uint32_t Filter_Close(IWF_HANDLE h) {
    free(h);
    return 0;
}
#endif

int32_t Filter_GetCount(IWF_HANDLE h) {
    return h->calls;
}

int32_t Filter_IsEmpty(IWF_HANDLE h) {
    return h->default_action == 0;
}

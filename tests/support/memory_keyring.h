// SPDX-License-Identifier: GPL-3.0-or-later
// A keyring in memory for the tests of the rules above the Secret Service:
// install it with Keyring_SetBackend. `fail` makes every call fail with it,
// `calls` counts them.
#pragma once

#include "common/status.h"
#include "platform/keyring.h"

#include <vector>

namespace iwtest {

class MemoryKeyring final : public KEYRING_BACKEND {
  public:
    uint32_t Lookup(const KEYRING_ITEM& item, std::string* secret) override {
        ++calls;
        if (fail) return fail;
        for (const KEYRING_ENTRY& e : entries)
            if (e.item == item) {
                *secret = e.secret;
                return 0;
            }
        return ERR_NOT_FOUND;
    }
    uint32_t Store(const KEYRING_ITEM& item, std::string_view secret) override {
        ++calls;
        if (fail) return fail;
        Remove(item);
        entries.push_back({item, std::string(secret)});
        return 0;
    }
    uint32_t Remove(const KEYRING_ITEM& item) override {
        ++calls;
        if (fail) return fail;
        std::erase_if(entries, [&](const KEYRING_ENTRY& e) { return e.item == item; });
        return 0;
    }
    uint32_t List(std::string_view account, std::vector<KEYRING_ENTRY>* out) override {
        ++calls;
        if (fail) return fail;
        out->clear();
        for (const KEYRING_ENTRY& e : entries)
            if (e.item.account == account) out->push_back(e);
        return 0;
    }
    std::vector<KEYRING_ENTRY> entries;
    uint32_t fail = 0;
    int calls = 0;
};

} // namespace iwtest

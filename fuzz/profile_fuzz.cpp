// SPDX-License-Identifier: GPL-3.0-or-later
// Profile files come from other machines, editors and old versions; message
// values come back from them. Neither may crash the reader, write outside
// the program's key, or read back differently after being written again.
#include "common/text.h"
#include "platform/registry.h"
#include "platform/user_message.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"
#include "settings/profile.h"
#include "settings/reg.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

// Opened on first use: a static initialiser would run before the store's own.
bool ready() {
    static const std::string path = "/tmp/iw-profile-fuzz-" + std::to_string(getpid()) + ".db";
    static const bool ok = [] {
        std::atexit([] {
            for (const char* tail : {"", "-wal", "-shm"})
                unlink((path + tail).c_str());
        });
        UserMsg_SetHandler([](std::string_view, std::string_view, unsigned) { return 1; });
        return RegStore_Open(path) == REGSTORE_OK;
    }();
    return ok;
}

void checkValue(std::string_view text) {
    MSG_RECORD r = MsgRecord_Empty();
    if (!MsgRecord_FromValue(text, &r)) return;
    MSG_RECORD back = MsgRecord_Empty();
    if (!MsgRecord_FromValue(MsgRecord_ToValue(r), &back)) std::abort();
    const char* a[] = {r.From(), r.ReplyTo(), r.To(), r.Subject()};
    const char* b[] = {back.From(), back.ReplyTo(), back.To(), back.Subject()};
    for (int i = 0; i < 4; ++i)
        if (std::strlen(a[i]) != std::strlen(b[i])) std::abort();
    if (r.Size != back.Size || r.Status != back.Status || r.HasAttach != back.HasAttach ||
        std::memcmp(&r.Date, &back.Date, sizeof r.Date) != 0)
        std::abort();
}

using Values = std::vector<std::tuple<std::string, uint32_t, std::string>>;

// Read without the store, the message sections give each box the values the
// import stored, in the same order.
void checkRead(std::string_view in) {
    MSG_VALUES read;
    Profile_ReadMessages(in, REG_ROOT_PATH,
                         [&](HREGKEY account, std::string_view name, uint32_t type,
                             std::string_view data) { read.Add(account, name, type, data); });
    HREGKEY root;
    if (RegStore_OpenKey(HREGKEY_USER, REG_ROOT_PATH, &root) != REGSTORE_OK) return;
    for (uint32_t i = 0;; ++i) {
        std::string name;
        if (RegStore_EnumKey(root, i, &name) != REGSTORE_OK) break;
        HREGKEY account, box;
        if (RegStore_OpenKey(root, name, &account) != REGSTORE_OK) std::abort();
        Values stored, got;
        const auto into = [](Values* v) {
            return [v](std::string_view n, uint32_t t, std::string_view d) {
                v->emplace_back(n, t, d);
                return true;
            };
        };
        if (RegStore_OpenKey(account, "MsgBox", &box) == REGSTORE_OK)
            RegStore_ForEachValue(box, into(&stored));
        read.ForEach(account, into(&got));
        if (stored != got) std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!ready()) std::abort();
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    RegStore_DeleteTree(HREGKEY_USER, "Software");
    Profile_ImportText(in, false, PROFILE_MAGIC, PROFILE_ROOT_NAME, REG_ROOT_PATH);
    Profile_ImportText(in, true, PROFILE_MAGIC, PROFILE_ROOT_NAME, REG_ROOT_PATH);
    // Nothing but the program's own key may have been written; the store
    // folds ASCII case in key names, so "SofTware" is that key as well.
    for (uint32_t i = 0;; ++i) {
        std::string name;
        if (RegStore_EnumKey(HREGKEY_USER, i, &name) != REGSTORE_OK) break;
        if (!name.empty() && !Text_EqualsNoCase(name, "Software")) {
            HREGKEY k;
            if (RegStore_OpenKey(HREGKEY_USER, name, &k) == REGSTORE_OK) std::abort();
        }
    }
    HREGKEY vendor;
    if (RegStore_OpenKey(HREGKEY_USER, REG_VENDOR_PATH, &vendor) == REGSTORE_OK) {
        uint32_t values = 0;
        RegStore_QueryInfoKey(vendor, nullptr, nullptr, &values, nullptr, nullptr);
        if (values != 0) std::abort();
    }
    checkRead(in);
    checkValue(in);
    return 0;
}

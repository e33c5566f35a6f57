// SPDX-License-Identifier: GPL-3.0-or-later
// Message records as a large box stores them, for the benchmarks that need a
// full store: `count` old messages with realistic header texts, written as
// values "<prefix><n>" of the box key (the caller groups them in a batch).
#pragma once

#include "platform/registry.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"

#include <string>
#include <string_view>

inline void Bench_StoreRecords(HREGKEY box, const std::string& prefix, int count) {
    for (int i = 0; i < count; ++i) {
        MSG_RECORD r = MsgRecord_Empty();
        r.SetText(MSGF_FROM, "Sender " + std::to_string(i) + " <sender@example.invalid>");
        r.SetText(MSGF_TO, "me@example.invalid");
        r.SetText(MSGF_SUBJECT, "Subject of message number " + std::to_string(i));
        r.Size = 12345 + i;
        r.Date = DATETIME{2024, 1, 1, 1, 10, 0, 0, 0};
        r.Status = MSG_OLD;
        const std::string v = MsgRecord_ToValue(r);
        RegStore_SetValue(box, prefix + std::to_string(i), REGTYPE_SZ,
                          std::string_view(v.c_str(), v.size() + 1));
    }
}

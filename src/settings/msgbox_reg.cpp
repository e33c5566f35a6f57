// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/msgbox_reg.h"
#include "platform/log.h"
#include "settings/account.h"

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace {

std::mutex g_mu; // the root handle below is shared by the worker and the UI thread
REGKEY* g_root = nullptr;
REGKEY* g_ownRoot = nullptr;
// The first failed record write not yet taken, and how many followed it.
std::string g_failure;
int g_failuresAfter = 0;
std::atomic<void (*)()> g_beforeWrite{nullptr};

// Values longer than the reader's buffers had room for are foreign: the
// writer never makes them.
constexpr size_t kMaxNameBytes = 1024;
constexpr size_t kMaxDataBytes = 2048;

constexpr std::string_view kMarkers[] = {";Fm=;", ";Rt=;", ";To=;", ";Sj=;", ";Sz=;", ";DS=;"};

REGKEY* rootKey() {
    if (g_root) return g_root;
    DebugLog_WriteText("Inboxwarden root registry key IS NULL:\n");
    DebugLog_WriteText("Re-opening Inboxwarden root registry key\n");
    if (Reg_OpenRoot(&g_ownRoot, REG_ROOT_PATH) != 0) {
        DebugLog_Write("Failed to open Inboxwarden root registry key:\r\n\r\n%u - %s\n",
                       REGSTORE_E_ACCESS, RegStore_ErrorText(REGSTORE_E_ACCESS));
        return nullptr;
    }
    if (const uint32_t rc = RegStore_Flush(g_ownRoot->key); rc != REGSTORE_OK)
        DebugLog_Write("Failed to flush registry keys:\r\n\r\n%u - %s\n", rc,
                       RegStore_ErrorText(rc));
    g_root = g_ownRoot;
    return g_root;
}

std::string failureText(const char* lead, const std::string& where, uint32_t rc) {
    return std::string(lead) + where + "\r\n\r\n" + std::to_string(rc) + " - " +
           RegStore_ErrorText(rc);
}

} // namespace

void Reg_SetMsgRootKey(REGKEY* root) {
    MsgBox_SetWriter(Reg_UpdateMsgStatus);
    std::lock_guard lock(g_mu);
    g_root = root;
    if (g_ownRoot && g_ownRoot != root) {
        Reg_Close(g_ownRoot);
        g_ownRoot = nullptr;
    }
}

namespace {

constexpr std::string_view kAllMarkers[] = {";Fm=;", ";Rt=;", ";To=;", ";Sj=;",
                                            ";Sz=;", ";DS=;", ";A=;",  ";En=;"};

// Appends a header text so that no marker can be read out of it: every
// marker that overlaps the text (also one made with the ';' of a marker
// around it) gets a character inside the text changed, its ';' to ',' or,
// when its only ';'s are the ones around the text, its '=' to '-'.
void appendText(std::string& v, const char* text) {
    const size_t len = std::strlen(text);
    if (len == 0) return;
    if (!std::memchr(text, '=', len)) { // no marker without '=': the common case
        v.append(text, len);
        return;
    }
    std::string s;
    s.reserve(len + 2);
    s += ';';
    s.append(text, len);
    s += ';';
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != ';') continue;
        for (std::string_view m : kAllMarkers) {
            if (s.compare(i, m.size(), m) != 0) continue;
            const size_t last = i + m.size() - 1;
            if (i > 0) {
                s[i] = ',';
            } else if (last < s.size() - 1) {
                s[last] = ',';
            } else {
                s[m.find('=')] = '-';
            }
            break;
        }
    }
    v.append(s, 1, len);
}

} // namespace

std::string MsgRecord_ToValue(const MSG_RECORD& r) {
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, " %d %d %d %d %d %d %d %d ", r.Date.wYear, r.Date.wMonth,
                  r.Date.wDayOfWeek, r.Date.wDay, r.Date.wHour, r.Date.wMinute, r.Date.wSecond,
                  r.Status);
    std::string v;
    v.reserve(128 + r.From().view().size() + r.ReplyTo().view().size() + r.To().view().size() +
              r.Subject().view().size());
    v.append(";Fm=;");
    appendText(v, r.From());
    v.append(";Rt=;");
    appendText(v, r.ReplyTo());
    v.append(";To=;");
    appendText(v, r.To());
    v.append(";Sj=;");
    appendText(v, r.Subject());
    v.append(";Sz=;").append(std::to_string(r.Size));
    v.append(";DS=;").append(numbers);
    v.append(";A=;").append(r.HasAttach ? "1" : "0");
    v.append(";En=;");
    return v;
}

bool MsgRecord_FromValue(std::string_view value, MSG_RECORD* r) {
    // The numbers come from the tail after the last ";Sz=;", so that a
    // header text of a value written before the texts were guarded cannot
    // supply them; the texts run from marker to marker, left to right.
    const size_t sz = value.rfind(kMarkers[4]);
    if (sz == std::string_view::npos) return false;
    std::string_view fields[5];
    size_t pos = value.find(kMarkers[0]);
    if (pos == std::string_view::npos || pos > sz) return false;
    for (size_t i = 0; i < 3; ++i) {
        const size_t start = pos + kMarkers[i].size();
        const size_t next = value.find(kMarkers[i + 1], start);
        if (next == std::string_view::npos || next > sz) return false;
        fields[i] = value.substr(start, next - start);
        pos = next;
    }
    fields[3] = value.substr(pos + kMarkers[3].size(), sz - pos - kMarkers[3].size());
    const size_t szStart = sz + kMarkers[4].size();
    const size_t ds = value.find(kMarkers[5], szStart);
    if (ds == std::string_view::npos) return false;
    fields[4] = value.substr(szStart, ds - szStart);
    const size_t dsEnd = ds + kMarkers[5].size();
    // The reader's limits are one byte short of the fields' own.
    // The size as stored: at most 23 bytes, as the reader always took.
    std::string_view sizeText = MsgRecord_CutText(fields[4], 23);
    while (!sizeText.empty() && (sizeText.front() == ' ' || sizeText.front() == '\t'))
        sizeText.remove_prefix(1);
    int64_t size = 0;
    std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), size);
    r->Size = static_cast<int32_t>(static_cast<uint32_t>(size));
    const std::string kb = r->Size != 0 ? MsgRecord_SizeKB(r->Size) : std::string();
    r->SetTexts({r->MsgId(), MsgRecord_CutText(fields[0], 127), MsgRecord_CutText(fields[1], 127),
                 MsgRecord_CutText(fields[2], 255), MsgRecord_CutText(fields[3], 127),
                 r->Size != 0 ? std::string_view(kb) : MsgRecord_CutText(fields[4], 23)});

    // Eight numbers: the date's fields and the status. A value with fewer
    // keeps the defaults for the rest.
    int64_t nums[8] = {DATETIME_YEAR_MISSING, 0, 0, 0, 0, 0, 0, MSG_NEW};
    const char* p = value.data() + dsEnd;
    const char* end = value.data() + value.size();
    for (int64_t& n : nums) {
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
        int64_t v = 0;
        const auto res = std::from_chars(p, end, v);
        if (res.ec != std::errc()) break;
        n = v;
        p = res.ptr;
    }
    const auto u16 = [](int64_t v) { return static_cast<uint16_t>(v < 0 || v > 65535 ? 0 : v); };
    r->Date = DATETIME{u16(nums[0]), u16(nums[1]), u16(nums[2]), u16(nums[3]),
                       u16(nums[4]), u16(nums[5]), u16(nums[6]), 0};
    r->Status =
        nums[7] >= MSG_NEW && nums[7] <= MSG_DELETED ? static_cast<int32_t>(nums[7]) : MSG_NEW;
    const size_t attach = value.find(";A=;", dsEnd);
    r->HasAttach =
        attach != std::string_view::npos && attach + 4 < value.size() && value[attach + 4] == '1'
            ? 1
            : 0;
    return true;
}

void Reg_SetBeforeRecordWrite(void (*fn)()) {
    g_beforeWrite = fn;
}

uint32_t Reg_UpdateMsgStatus(ACCOUNT* account, const MSG_RECORD* record) {
    if (!account || !record) return 0;
    if (auto before = g_beforeWrite.load()) before();
    std::string boxText;
    {
        std::lock_guard lock(g_mu);
        REGKEY* root = rootKey();
        if (!root) return 0;
        const std::string path = account->Name + "\\MsgBox";
        const std::string where = path + "\\" + record->MsgId().c_str();
        // A late write for an account deleted or renamed meanwhile must not
        // bring its key back: it would load as a ghost account next start.
        HREGKEY accountKey = HREGKEY_NONE;
        HREGKEY box = HREGKEY_NONE;
        const uint32_t orc = RegStore_OpenKey(root->key, account->Name, &accountKey);
        if (orc == REGSTORE_E_NOT_FOUND || orc == REGSTORE_E_KEY_DELETED) {
            DebugLog_Write("Reg_UpdateMsgStatus: account \"%s\" is gone, record %s not written\n",
                           account->Name.c_str(), record->MsgId().c_str());
            return 0;
        }
        uint32_t rc = orc;
        if (rc == REGSTORE_OK) rc = RegStore_CreateKey(accountKey, "MsgBox", &box);
        if (rc != REGSTORE_OK) {
            boxText = failureText("Failed to open registry key for message:\r\n", where, rc);
        } else if (record->Status == MSG_DELETED) {
            const uint32_t drc = RegStore_DeleteValue(box, record->MsgId());
            if (drc != REGSTORE_OK && drc != REGSTORE_E_NOT_FOUND)
                DebugLog_Write(
                    "Reg_UpdateMsgStatus: %s\n",
                    failureText("Failed to delete registry value for message:\r\n\r\n", where, drc)
                        .c_str());
        } else {
            const std::string value = MsgRecord_ToValue(*record);
            const uint32_t src =
                RegStore_SetValue(box, record->MsgId(), REGTYPE_SZ,
                                  std::string_view(value.c_str(), value.size() + 1));
            if (src != REGSTORE_OK)
                boxText =
                    failureText("Failed to update registry key for message:\r\n\r\n", where, src);
        }
    }
    if (!boxText.empty()) {
        DebugLog_Write("Reg_UpdateMsgStatus: %s\n", boxText.c_str());
        std::lock_guard lock(g_mu);
        if (g_failure.empty())
            g_failure = std::move(boxText);
        else
            ++g_failuresAfter;
    }
    return 0;
}

void Reg_TakeWriteFailureNotice(NOTICES* into) {
    int more = 0;
    std::string text = Reg_TakeWriteFailure(&more);
    if (text.empty()) return;
    if (more > 0) DebugLog_Write("%d more record writes failed\n", more);
    into->push_back({"Reg_UpdateMsgStatus", std::move(text)});
}

std::string Reg_TakeWriteFailure(int* more) {
    std::lock_guard lock(g_mu);
    if (more) *more = g_failuresAfter;
    g_failuresAfter = 0;
    return std::exchange(g_failure, {});
}

void MSG_VALUES::Add(HREGKEY account, std::string_view name, uint32_t type, std::string_view data) {
    Box& box = boxes_[account];
    if (auto it = box.at.find(name); it != box.at.end()) {
        Value& v = box.values[it->second];
        v.type = type;
        v.data.assign(data);
        return;
    }
    const Value& v = box.values.emplace_back(Value{std::string(name), type, std::string(data)});
    box.at.emplace(v.name, box.values.size() - 1);
}

void MSG_VALUES::ForEach(HREGKEY account, const RegValueFn& fn) const {
    if (auto it = boxes_.find(account); it != boxes_.end())
        for (const Value& v : it->second.values)
            if (!fn(v.name, v.type, v.data)) return;
}

uint32_t Account_GetMessages(REGKEY* root, bool storeUnread, std::string* errorText,
                             const MSG_VALUES* values) {
    DebugLog_WriteText("Starting Account_GetMessages to read messages from registry\n");
    if (!root) return ERR_NOT_READY;
    // One report for the whole load, whatever the number of accounts.
    auto fail = [&](const std::string& text) {
        DebugLog_Write("Account_GetMessages: %s\n", text.c_str());
        if (errorText && errorText->empty()) *errorText = text;
    };
    for (int i = 0; i < Account_GetCount(); ++i) {
        ACCOUNT* a = Account_Get(nullptr, i);
        DebugLog_Write("%s\n", a->Name.c_str());
        const std::string path = a->Name + "\\MsgBox";
        HREGKEY key = HREGKEY_NONE;
        // Values from memory are filed under their account's key: the box's
        // own key is left for the store to make when the records go in.
        if (const uint32_t rc = values ? RegStore_OpenKey(root->key, a->Name, &key)
                                       : RegStore_CreateKey(root->key, path, &key);
            rc != REGSTORE_OK) {
            const std::string text = "Failed to open registry key for MsgBox:\r\n\r\n" + path +
                                     "\r\n\r\n" + RegStore_ErrorText(rc);
            fail(text);
            continue;
        }
        int enumerated = 0;
        uint32_t failed = 0;
        std::vector<int> announced; // indexes of records to be rewritten as unread
        const auto take = [&](std::string_view name, uint32_t type, std::string_view data) {
            ++enumerated;
            // Numeric UIDLs are often one or two characters: only the
            // empty name and the id of a message without Message-ID are
            // no messages.
            if (name.empty() || name == " ") return true;
            if (name.size() >= kMaxNameBytes || data.size() >= kMaxDataBytes ||
                type != REGTYPE_SZ) {
                DebugLog_Write("Account_GetMessages: value \"%.*s\" skipped (%zu bytes)\n",
                               static_cast<int>(std::min<size_t>(name.size(), 128)), name.data(),
                               data.size());
                return true;
            }
            MSG_RECORD rec = MsgRecord_Empty();
            rec.SetText(MSGF_ID, name);
            const std::string_view text = data.substr(0, data.find('\0'));
            if (!MsgRecord_FromValue(text, &rec)) return true;
            const bool wasNew = rec.Status == MSG_NEW || rec.Status == MSG_NOTIFIED;
            if (wasNew) rec.Status = MSG_UNREAD;
            if (const uint32_t arc = MsgBox_AddMsg(&a->hMsgBox, std::move(rec), a, 0); arc != 0) {
                failed = arc;
                return arc != ERR_NOMEM;
            }
            if (wasNew) announced.push_back(MsgBox_GetCount(a->hMsgBox) - 1);
            return true;
        };
        uint32_t rc = REGSTORE_OK;
        if (values)
            values->ForEach(key, take);
        else
            rc = RegStore_ForEachValue(key, take);
        if (rc != REGSTORE_OK) {
            const std::string text = std::string("Call to RegEnumValue Failed:\r\n\r\n") + path +
                                     "\r\n\r\n" + RegStore_ErrorText(rc);
            fail(text);
        }
        if (storeUnread && !announced.empty()) {
            // Messages announced in an earlier run are only unread now.
            RegStoreBatch batch;
            for (int at : announced)
                Reg_UpdateMsgStatus(a, MsgBox_GetMsg(a->hMsgBox, at));
        }
        DebugLog_Write("   wrote %d messages from registry to internal table\n", enumerated);
        a->CheckResult = CR_NOT_CHECKED;
        if (enumerated != 0) MsgBox_EndCheck(a->hMsgBox, 1, a);
        if (failed == ERR_NOMEM) return ERR_NOMEM;
    }
    DebugLog_WriteText("End of Account_GetMessages\r\n");
    return 0;
}

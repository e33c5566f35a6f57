#include "settings/msgbox_reg.h"
#include "platform/log.h"
#include "platform/user_message.h"
#include "settings/account.h"

#include <charconv>
#include <cstdio>
#include <mutex>

namespace {

std::mutex g_mu; // the root handle below is shared by the worker and the UI thread
REGKEY* g_root = nullptr;
REGKEY* g_ownRoot = nullptr;

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
    std::lock_guard lock(g_mu);
    g_root = root;
    if (g_ownRoot && g_ownRoot != root) {
        Reg_Close(g_ownRoot);
        g_ownRoot = nullptr;
    }
}

std::string MsgRecord_ToValue(const MSG_RECORD& r) {
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, " %d %d %d %d %d %d %d %d ", r.Date.wYear, r.Date.wMonth,
                  r.Date.wDayOfWeek, r.Date.wDay, r.Date.wHour, r.Date.wMinute, r.Date.wSecond,
                  r.Status);
    std::string v;
    v.reserve(128 + sizeof r.From + sizeof r.ReplyTo + sizeof r.To + sizeof r.Subject);
    v.append(";Fm=;").append(r.From);
    v.append(";Rt=;").append(r.ReplyTo);
    v.append(";To=;").append(r.To);
    v.append(";Sj=;").append(r.Subject);
    v.append(";Sz=;").append(std::to_string(r.Size));
    v.append(";DS=;").append(numbers);
    v.append(";A=;").append(r.HasAttach ? "1" : "0");
    v.append(";En=;");
    return v;
}

bool MsgRecord_FromValue(std::string_view value, MSG_RECORD* r) {
    // Each field runs from its marker to the next one, searched left to right.
    std::string_view fields[5];
    size_t pos = value.find(kMarkers[0]);
    if (pos == std::string_view::npos) return false;
    size_t dsEnd = 0;
    for (size_t i = 0; i < 5; ++i) {
        const size_t start = pos + kMarkers[i].size();
        const size_t next = value.find(kMarkers[i + 1], start);
        if (next == std::string_view::npos) return false;
        fields[i] = value.substr(start, next - start);
        pos = next;
        dsEnd = next + kMarkers[i + 1].size();
    }
    MsgRecord_SetTextN(r->From, 128, fields[0]);
    MsgRecord_SetTextN(r->ReplyTo, 128, fields[1]);
    MsgRecord_SetTextN(r->To, 256, fields[2]);
    MsgRecord_SetTextN(r->Subject, 128, fields[3]);
    MsgRecord_SetTextN(r->SizeText, 24, fields[4]);

    std::string_view sizeText(r->SizeText);
    while (!sizeText.empty() && (sizeText.front() == ' ' || sizeText.front() == '\t'))
        sizeText.remove_prefix(1);
    int64_t size = 0;
    std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), size);
    r->Size = static_cast<int32_t>(static_cast<uint32_t>(size));
    if (r->Size != 0) MsgRecord_SetText(r->SizeText, MsgRecord_SizeKB(r->Size));

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

uint32_t Reg_UpdateMsgStatus(ACCOUNT* account, const MSG_RECORD* record) {
    if (!account || !record) return 0;
    // The box is shown after the lock is released: showing may wait for the
    // UI thread, which may itself be about to write a record.
    std::string boxText;
    {
        std::lock_guard lock(g_mu);
        REGKEY* root = rootKey();
        if (!root) return 0;
        const std::string path = account->Name + "\\MsgBox";
        const std::string where = path + "\\" + record->MsgId;
        HREGKEY box = HREGKEY_NONE;
        if (const uint32_t rc = RegStore_CreateKey(root->key, path, &box); rc != REGSTORE_OK) {
            boxText = failureText("Failed to open registry key for message:\r\n", where, rc);
        } else if (record->Status == MSG_DELETED) {
            const uint32_t drc = RegStore_DeleteValue(box, record->MsgId);
            if (drc != REGSTORE_OK && drc != REGSTORE_E_NOT_FOUND)
                DebugLog_Write(
                    "Reg_UpdateMsgStatus: %s\n",
                    failureText("Failed to delete registry value for message:\r\n\r\n", where, drc)
                        .c_str());
        } else {
            const std::string value = MsgRecord_ToValue(*record);
            const uint32_t src = RegStore_SetValue(
                box, record->MsgId, REGTYPE_SZ, std::string_view(value.c_str(), value.size() + 1));
            if (src != REGSTORE_OK)
                boxText =
                    failureText("Failed to update registry key for message:\r\n\r\n", where, src);
        }
    }
    if (!boxText.empty()) {
        DebugLog_Write("Reg_UpdateMsgStatus: %s\n", boxText.c_str());
        UserMsg_Show("Reg_UpdateMsgStatus", boxText, UM_OK | UM_ICONERROR);
    }
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/msgbox.h"
#include "common/text.h"
#include "platform/log.h"
#include "platform/registry.h"

#include <atomic>
#include <charconv>
#include <cstring>
#include <new>

namespace {

std::atomic<MsgBoxWriter> g_writer{nullptr};

void _write(ACCOUNT* account, const MSG_RECORD* record) {
    if (const MsgBoxWriter w = g_writer.load()) w(account, record);
}

} // namespace

void MsgBox_SetWriter(MsgBoxWriter writer) {
    g_writer = writer;
}

namespace {

// The status a record held before a check made it pending; any other stays.
int32_t settledStatus(int32_t status) {
    switch (status) {
    case MSG_UNREAD_PENDING:
        return MSG_UNREAD;
    case MSG_OLD_PENDING:
        return MSG_OLD;
    case MSG_QUIET_PENDING:
        return MSG_QUIET;
    case MSG_NOTIFIED_PENDING:
        return MSG_NOTIFIED;
    default:
        return status;
    }
}

int resolveIndex(MSGBOX* box, MSG_RECORD* record, int index) {
    if (!box) return -1;
    if (record) return box->MsgArray.FindObject(record);
    return index >= 0 && index < box->MsgArray.Count() ? index : -1;
}

size_t idSlot(const MSGBOX* box, std::string_view id) {
    return std::hash<std::string_view>{}(id) & (box->IdIndex.size() - 1);
}

// Puts record `at` into the index unless a lower index holds its id.
void indexPut(MSGBOX* box, int at) {
    const std::string_view id = box->MsgArray.At(at)->MsgId().view();
    for (size_t i = idSlot(box, id);; i = (i + 1) & (box->IdIndex.size() - 1)) {
        int32_t& slot = box->IdIndex[i];
        if (slot < 0) {
            slot = at;
            ++box->IdIndexUsed;
            return;
        }
        if (box->MsgArray.At(slot)->MsgId().view() == id) return;
    }
}

void rebuildIdIndex(MSGBOX* box) {
    const size_t count = static_cast<size_t>(box->MsgArray.Count());
    size_t size = 16;
    while (size < count * 4)
        size *= 2;
    box->IdIndex.assign(size, -1);
    box->IdIndexUsed = 0;
    for (int i = 0; i < box->MsgArray.Count(); ++i)
        indexPut(box, i);
    box->IdIndexValid = true;
}

int indexFind(const MSGBOX* box, std::string_view id) {
    if (box->IdIndex.empty()) return -1;
    for (size_t i = idSlot(box, id);; i = (i + 1) & (box->IdIndex.size() - 1)) {
        const int32_t slot = box->IdIndex[i];
        if (slot < 0) return -1;
        if (box->MsgArray.At(slot)->MsgId().view() == id) return slot;
    }
}

bool isPendingOrMarked(int32_t status) {
    return status == MSG_TO_DELETE || status == MSG_UNREAD_PENDING || status == MSG_OLD_PENDING ||
           status == MSG_QUIET_PENDING || status == MSG_NOTIFIED_PENDING;
}

} // namespace

MSG_RECORD::MSG_RECORD(const MSG_RECORD& o)
    : Size(o.Size), HasAttach(o.HasAttach), Date(o.Date), Status(o.Status) {
    if (!o.texts_) return;
    // Out of memory: a copy without its texts, as a failed SetText leaves them.
    texts_ = static_cast<char*>(std::malloc(o.end_[MSGF_COUNT - 1]));
    if (!texts_) return;
    std::memcpy(texts_, o.texts_, o.end_[MSGF_COUNT - 1]);
    std::memcpy(end_, o.end_, sizeof end_);
}

MSG_RECORD::MSG_RECORD(MSG_RECORD&& o) noexcept
    : Size(o.Size), HasAttach(o.HasAttach), Date(o.Date), Status(o.Status),
      texts_(std::exchange(o.texts_, nullptr)) {
    std::memcpy(end_, o.end_, sizeof end_);
}

MSG_RECORD& MSG_RECORD::operator=(const MSG_RECORD& o) {
    if (this != &o) *this = MSG_RECORD(o);
    return *this;
}

MSG_RECORD& MSG_RECORD::operator=(MSG_RECORD&& o) noexcept {
    std::swap(texts_, o.texts_);
    std::swap(end_, o.end_);
    Size = o.Size;
    HasAttach = o.HasAttach;
    Date = o.Date;
    Status = o.Status;
    return *this;
}

MsgTextView MSG_RECORD::Text(MSG_FIELD field) const {
    if (!texts_) return {};
    const size_t begin = field == 0 ? 0 : end_[field - 1];
    return {texts_ + begin, end_[field] - begin - 1u};
}

void MSG_RECORD::assign(const std::string_view (&texts)[MSGF_COUNT]) {
    size_t total = 0;
    for (std::string_view t : texts)
        total += t.size() + 1;
    if (total == MSGF_COUNT) {
        std::free(std::exchange(texts_, nullptr));
        std::memset(end_, 0, sizeof end_);
        return;
    }
    // Built beside the old block: the texts may come from it.
    char* block = static_cast<char*>(std::malloc(total));
    if (!block) return;
    size_t at = 0;
    for (int k = 0; k < MSGF_COUNT; ++k) {
        if (!texts[k].empty()) std::memcpy(block + at, texts[k].data(), texts[k].size());
        at += texts[k].size();
        block[at++] = '\0';
        end_[k] = static_cast<uint16_t>(at);
    }
    std::free(texts_);
    texts_ = block;
}

void MSG_RECORD::SetText(MSG_FIELD field, std::string_view text) {
    std::string_view texts[MSGF_COUNT];
    for (int k = 0; k < MSGF_COUNT; ++k)
        texts[k] = Text(static_cast<MSG_FIELD>(k));
    texts[field] = MsgRecord_CutText(text, kMsgFieldMax[field]);
    assign(texts);
}

void MSG_RECORD::SetTexts(const std::string_view (&texts)[MSGF_COUNT]) {
    std::string_view cut[MSGF_COUNT];
    for (int k = 0; k < MSGF_COUNT; ++k)
        cut[k] = MsgRecord_CutText(texts[k], kMsgFieldMax[k]);
    assign(cut);
}

MSG_RECORD MsgRecord_Empty() {
    MSG_RECORD r;
    r.Date = DateTime_Missing();
    r.Status = MSG_NEW;
    return r;
}

std::string_view MsgRecord_CutText(std::string_view text, size_t max) {
    return Text_CutUtf8(text.substr(0, text.find('\0')), max);
}

void MsgRecord_SetTextN(char* field, size_t size, std::string_view text) {
    if (size == 0) return;
    const std::string_view cut = MsgRecord_CutText(text, size - 1);
    std::memcpy(field, cut.data(), cut.size());
    field[cut.size()] = '\0';
}

std::string MsgRecord_SizeKB(int32_t size) {
    // size / 1024 to one decimal, rounded half to even as printf rounds the
    // exact quotient, in integers: every record loaded goes through here.
    const uint64_t tenths = static_cast<uint64_t>(static_cast<uint32_t>(size)) * 10;
    uint64_t q = tenths / 1024;
    const uint64_t r = tenths % 1024;
    if (r > 512 || (r == 512 && (q & 1))) ++q;
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, q / 10);
    *res.ptr++ = '.';
    *res.ptr++ = static_cast<char>('0' + q % 10);
    return std::string(buf, res.ptr) + "KB";
}

MSGBOX* MsgBox_Create() {
    return new (std::nothrow) MSGBOX;
}

uint32_t MsgBox_Destroy(MSGBOX_HANDLE* handle) {
    if (!handle) return ERR_BADARG;
    delete *handle;
    *handle = nullptr;
    return 0;
}

namespace {

uint32_t addRecord(MSGBOX_HANDLE* handle, std::unique_ptr<MSG_RECORD> copy, ACCOUNT* account,
                   int persist) {
    if (!copy) return ERR_NOMEM;
    if (!*handle) {
        *handle = MsgBox_Create();
        if (!*handle) {
            DebugLog_WriteText("MsgBox_AddMsg: Call to MsgBox_Create failed\n");
            return ERR_NOMEM;
        }
    }
    MSGBOX* box = *handle;
    if (copy->Status < MSG_NEW || copy->Status > MSG_DELETED) copy->Status = MSG_NEW;
    int at = -1;
    if (const uint32_t rc = box->MsgArray.Add(std::nullopt, std::move(copy), &at); rc != 0) {
        DebugLog_WriteText("MsgBox_AddMsg: Failed to add message to p_box->MsgArray\n");
        return rc;
    }
    if (box->IdIndexValid) {
        try {
            if (static_cast<size_t>(box->IdIndexUsed + 1) * 2 > box->IdIndex.size())
                rebuildIdIndex(box);
            else
                indexPut(box, at);
        } catch (const std::bad_alloc&) {
            box->IdIndexValid = false; // rebuilt at the next lookup
        }
    }
    if (persist == 1) _write(account, box->MsgArray.At(at));
    return 0;
}

uint32_t checkHandle(MSGBOX_HANDLE* handle) {
    if (handle) return 0;
    DebugLog_WriteText("MsgBox_AddMsg: MSGBOX_HANDLE = NULL\n");
    return ERR_BADARG;
}

} // namespace

uint32_t MsgBox_AddMsg(MSGBOX_HANDLE* handle, const MSG_RECORD* record, ACCOUNT* account,
                       int persist) {
    if (const uint32_t rc = checkHandle(handle); rc) return rc;
    if (!record) return ERR_BADARG;
    return addRecord(handle, std::unique_ptr<MSG_RECORD>(new (std::nothrow) MSG_RECORD(*record)),
                     account, persist);
}

uint32_t MsgBox_AddMsg(MSGBOX_HANDLE* handle, MSG_RECORD&& record, ACCOUNT* account, int persist) {
    if (const uint32_t rc = checkHandle(handle); rc) return rc;
    return addRecord(handle,
                     std::unique_ptr<MSG_RECORD>(new (std::nothrow) MSG_RECORD(std::move(record))),
                     account, persist);
}

MSG_RECORD* MsgBox_FindMsg(MSGBOX* box, const char* id, int* index) {
    if (!box || !id) return nullptr;
    if (!box->IdIndexValid) rebuildIdIndex(box);
    const int at = indexFind(box, id);
    if (index) *index = at;
    return at < 0 ? nullptr : box->MsgArray.At(at);
}

int MsgBox_GetCount(const MSGBOX* box) {
    return box ? box->MsgArray.Count() : 0;
}

const MSGBOX_COUNTS* MsgBox_GetCounts(const MSGBOX* box) {
    return box ? &box->Counts : nullptr;
}

MSG_RECORD* MsgBox_GetMsg(MSGBOX* box, int index) {
    return box ? box->MsgArray.At(index) : nullptr;
}

uint32_t MsgBox_DeleteMsg(MSGBOX* box, MSG_RECORD* record, int index) {
    const int at = resolveIndex(box, record, index);
    if (at < 0) return ERR_NOT_FOUND;
    box->MsgArray.Delete(at);
    box->IdIndexValid = false;
    return 0;
}

void MsgBox_SetStatus(MSGBOX* box, MSG_RECORD* record, int index, int32_t status,
                      ACCOUNT* account) {
    const int at = resolveIndex(box, record, index);
    if (at < 0) return;
    MSG_RECORD* r = box->MsgArray.At(at);
    r->Status = status;
    _write(account, r);
}

void MsgBox_ConfirmMsg(MSGBOX* box, MSG_RECORD* record, int index) {
    const int at = resolveIndex(box, record, index);
    if (at < 0) return;
    MSG_RECORD* r = box->MsgArray.At(at);
    switch (r->Status) {
    case MSG_NEW:
    case MSG_UNREAD:
    case MSG_QUIET:
    case MSG_NOTIFIED:
        r->Status = MSG_OLD;
        break;
    default:
        r->Status = settledStatus(r->Status); // MSG_OLD, MSG_TO_DELETE, MSG_DELETED stay
        break;
    }
}

int MsgBox_BeginCheck(MSGBOX* box, int keepOld, ACCOUNT* account) {
    if (!box) return 0;
    RegStoreBatch pass; // one transaction for the pass
    box->KeepMarked.clear();
    int marked = 0;
    for (int i = 0; i < box->MsgArray.Count(); ++i) {
        MSG_RECORD* r = box->MsgArray.At(i);
        switch (r->Status) {
        case MSG_NEW:
        case MSG_NOTIFIED:
            if (keepOld) {
                if (r->Status == MSG_NOTIFIED) break;
                r->Status = MSG_NOTIFIED;
                _write(account, r);
            } else {
                r->Status = MSG_NOTIFIED_PENDING;
            }
            break;
        case MSG_UNREAD:
            if (!keepOld) r->Status = MSG_UNREAD_PENDING;
            break;
        case MSG_OLD:
            if (!keepOld) r->Status = MSG_OLD_PENDING;
            break;
        case MSG_QUIET:
            r->Status = MSG_QUIET_PENDING;
            break;
        case MSG_TO_DELETE:
        case MSG_DELETED:
            ++marked;
            break;
        default:
            break;
        }
    }
    return marked;
}

void MsgBox_KeepMarked(MSGBOX* box, const MSG_RECORD* record) {
    if (box && record) box->KeepMarked.insert(record);
}

void MsgBox_RollbackCheck(MSGBOX* box) {
    if (!box) return;
    for (int i = 0; i < box->MsgArray.Count(); ++i) {
        MSG_RECORD* r = box->MsgArray.At(i);
        r->Status = settledStatus(r->Status);
    }
}

void MsgBox_EndCheck(MSGBOX* box, int result, ACCOUNT* account) {
    if (!box) return;
    RegStoreBatch pass; // one transaction for the pass
    MSGBOX_COUNTS c{};
    const int dropped = box->MsgArray.EraseIf([&](MSG_RECORD& r) {
        switch (r.Status) {
        case MSG_NEW:
            ++c.New;
            break;
        case MSG_NOTIFIED:
            ++c.Notified;
            break;
        case MSG_UNREAD:
            ++c.Unread;
            break;
        case MSG_QUIET:
            ++c.Quiet;
            break;
        case MSG_OLD:
            ++c.Old;
            break;
        case MSG_DELETED:
            break;
        default:
            if (result == 0 && isPendingOrMarked(r.Status) &&
                !(r.Status == MSG_TO_DELETE && box->KeepMarked.count(&r))) {
                // Not listed by a complete check: gone from the server.
                r.Status = MSG_DELETED;
                _write(account, &r);
                return true;
            }
            ++c.Old;
            break;
        }
        c.Size += static_cast<uint32_t>(r.Size);
        return false;
    });
    if (dropped > 0) box->IdIndexValid = false;
    box->KeepMarked.clear();
    box->Counts = c;
}

void MsgBox_Recount(MSGBOX* box, ACCOUNT* account) {
    MsgBox_EndCheck(box, -1, account);
}

int MsgBox_DropMsgs(MSGBOX* box, const std::vector<std::string>& ids, ACCOUNT* account) {
    if (!box || ids.empty()) return 0;
    const std::unordered_set<std::string_view> gone(ids.begin(), ids.end());
    int dropped = 0;
    {
        RegStoreBatch pass; // one transaction for the pass
        dropped = box->MsgArray.EraseIf([&](MSG_RECORD& r) {
            if (!gone.count(r.MsgId().view())) return false;
            r.Status = MSG_DELETED;
            _write(account, &r);
            return true;
        });
    }
    if (dropped > 0) box->IdIndexValid = false;
    MsgBox_Recount(box, account);
    return dropped;
}

void MsgBox_SetAllStatus(MSGBOX* box, int32_t status, int keepMarked, ACCOUNT* account) {
    if (!box) return;
    RegStoreBatch pass; // one transaction for the pass
    MSGBOX_COUNTS c{};
    const int count = box->MsgArray.Count();
    for (int i = 0; i < count; ++i) {
        MSG_RECORD* r = box->MsgArray.At(i);
        c.Size += static_cast<uint32_t>(r->Size);
        if (status == MSG_LOOKED_AT) {
            switch (r->Status) {
            case MSG_NEW:
            case MSG_UNREAD:
            case MSG_QUIET:
            case MSG_NOTIFIED:
                r->Status = MSG_UNREAD;
                _write(account, r);
                ++c.Unread;
                break;
            case MSG_TO_DELETE:
                ++c.Old;
                break;
            case MSG_DELETED:
                break;
            default:
                r->Status = MSG_OLD;
                _write(account, r);
                ++c.Old;
                break;
            }
            continue;
        }
        if ((keepMarked & 1) && r->Status == MSG_TO_DELETE) {
            ++c.Old;
            continue;
        }
        r->Status = status;
        _write(account, r);
    }
    if (status != MSG_LOOKED_AT) {
        const int n = count - c.Old;
        switch (status) {
        case MSG_NEW:
            c.New = n;
            break;
        case MSG_NOTIFIED:
            c.Notified = n;
            break;
        case MSG_UNREAD:
        case MSG_UNREAD_PENDING:
            c.Unread = n;
            break;
        case MSG_QUIET_PENDING:
        case MSG_QUIET:
            c.Quiet = n;
            break;
        default:
            c.Old = count;
            break;
        }
    }
    box->Counts = c;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mailbox/mailbox_model.h"
#include "ui/mailbox/mailbox_internal.h"

#include "common/translate.h"
#include "engine/schedule.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"

#include <cstdio>
#include <unordered_map>

using namespace mailbox;

namespace {

// The window's values among the global geometry settings.
constexpr int kSliderPos = GD_GEOMETRY_FIRST + 0;  // MsgDlgSliderPos
constexpr int kFirstWidth = GD_GEOMETRY_FIRST + 1; // MsgDlgFromWidth .. MsgDlgDateWidth
constexpr int kRectX = GD_GEOMETRY_FIRST + 6;      // MsgDlg_X, _Y, _Width, _Height
constexpr int kSort = GD_GEOMETRY_FIRST + 10;      // MsgDlgSort

constexpr int kDefaultWidths[MBCOL_COUNT] = {26, 129, 125, 129, 44, 44};

int nodeImage(const ACCOUNT* account) {
    if (account->CheckResult == CR_FAILED) return MBIMG_FAILED;
    const MSGBOX_COUNTS* c = MsgBox_GetCounts(account->hMsgBox);
    if (!c) return MBIMG_NONE;
    if (c->New || c->Quiet) return MBIMG_NEW;
    if (c->Notified) return MBIMG_NOTIFIED;
    if (c->Unread) return MBIMG_UNREAD;
    if (c->Old) return MBIMG_OLD;
    return MBIMG_NONE;
}

std::string nodeText(const ACCOUNT* account, bool withCount) {
    std::string text = account->Name.empty() ? "<NO NAME>" : account->Name;
    const int n = MsgBox_GetCount(account->hMsgBox);
    if (withCount && n > 0) text += " (" + std::to_string(n) + ")";
    return text;
}

std::string clock(const char* lead, const DATETIME& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %.2d:%.2d:%.2d", lead, t.wHour, t.wMinute, t.wSecond);
    return buf;
}

} // namespace

// ---- Opening and closing ----------------------------------------------------

void MailBoxModel::Open(std::string profileName) {
    profileName_ = std::move(profileName);
    for (int c = 0; c < MBCOL_COUNT; ++c)
        widths_[c] = c == MBCOL_ATTACH
                         ? (GlobalData_GetNumber(GD_ATTACHCHECK) > 0 ? 26 : 0)
                         : static_cast<int>(Param(kFirstWidth + c - 1).value_or(kDefaultWidths[c]));
    const std::optional<int64_t> sort = Param(kSort);
    list_.SetSortWord(sort ? static_cast<uint32_t>(*sort) : MBSORT_DEFAULT);
    nodes_.clear();
    selected_ = 0;
    FillTree();
    changes_ |= MBCH_HEADER;
}

std::optional<MAILBOX_RECT> MailBoxModel::SavedRect() const {
    const auto x = Param(kRectX), y = Param(kRectX + 1), w = Param(kRectX + 2),
               h = Param(kRectX + 3);
    if (!x || !y || !w || !h) return std::nullopt;
    return MAILBOX_RECT{static_cast<int>(*x), static_cast<int>(*y), static_cast<int>(*w),
                        static_cast<int>(*h)};
}

std::optional<int> MailBoxModel::SavedSplitter() const {
    const auto v = Param(kSliderPos);
    return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
}

void MailBoxModel::SaveLayout(int splitter, const MAILBOX_RECT& rect) {
    GlobalData_SetParam(kSliderPos, splitter);
    for (int c = MBCOL_FROM; c < MBCOL_COUNT; ++c)
        GlobalData_SetParam(kFirstWidth + c - 1, widths_[c]);
    GlobalData_SetParam(kRectX, rect.x);
    GlobalData_SetParam(kRectX + 1, rect.y);
    GlobalData_SetParam(kRectX + 2, rect.width);
    GlobalData_SetParam(kRectX + 3, rect.height);
    // The word is stored as the 32-bit value it is; the top bit is the direction.
    GlobalData_SetParam(kSort, static_cast<intptr_t>(static_cast<int32_t>(list_.SortWord())));
}

// ---- Tree -------------------------------------------------------------------

bool MailBoxModel::readable(const ACCOUNT* account) const {
    if (workerWaits_) return true;
    QueueHold hold;
    return !BeingChecked(hold, AccountIndex(account));
}

void MailBoxModel::FillTree() {
    QueueHold hold; // no account moves on to its check while the tree reads the boxes
    // The first fill picks a node by the rule below; later fills keep the
    // node that was selected, the root included, while it exists.
    const bool first = nodes_.empty();
    const std::string before = first ? std::string() : nodes_[selected_].account;
    std::unordered_map<std::string, NODE> old;
    for (NODE& n : nodes_)
        if (!n.account.empty()) old.emplace(n.account, std::move(n));
    nodes_.clear();
    nodes_.push_back({"", RootText(), MBIMG_ROOT});
    int keep = 0, withNew = 0, withUnread = 0, withOld = 0;
    for (int i = 0; i < Account_GetCount(); ++i) {
        const ACCOUNT* acc = Account_Get(nullptr, i);
        if (!acc) continue;
        const int node = static_cast<int>(nodes_.size());
        if (!readable(acc)) {
            // Its box is changing under the check: what was shown stands
            // until the check reports.
            const auto it = old.find(acc->Name);
            nodes_.push_back(it != old.end() ? it->second
                                             : NODE{acc->Name, nodeText(acc, false), MBIMG_NONE});
        } else {
            nodes_.push_back({acc->Name, nodeText(acc, true), nodeImage(acc)});
            if (const MSGBOX_COUNTS* c = MsgBox_GetCounts(acc->hMsgBox)) {
                if (!withNew && (c->New || c->Notified || c->Quiet)) withNew = node;
                if (!withUnread && c->Unread) withUnread = node;
                if (!withOld && c->Old) withOld = node;
            }
        }
        if (!before.empty() && acc->Name == before) keep = node;
    }
    if (!first && before.empty())
        selected_ = 0;
    else
        selected_ = keep ? keep : withNew ? withNew : withUnread ? withUnread : withOld;
    changes_ |= MBCH_TREE;
    fillList(keep != 0);
}

void MailBoxModel::SelectNode(int node) {
    if (node < 0 || node >= static_cast<int>(nodes_.size()) || node == selected_) return;
    selected_ = node;
    changes_ |= MBCH_TREE;
    fillList(false);
}

ACCOUNT* MailBoxModel::SelectedAccount() const {
    if (selected_ <= 0 || selected_ >= static_cast<int>(nodes_.size())) return nullptr;
    return Account_Get(nodes_[selected_].account.c_str(), -1);
}

void MailBoxModel::refreshNode(const ACCOUNT* account) {
    if (!account || !readable(account)) return;
    for (NODE& n : nodes_)
        if (n.account == account->Name) {
            n.text = nodeText(account, true);
            n.image = nodeImage(account);
            changes_ |= MBCH_TREE;
        }
}

std::string MailBoxModel::RootText() const {
    return profileName_.empty() ? Iw_Translate("Inboxwarden", "MailBoxes")
                                : Iw_Translate("Inboxwarden", "Profile: ") + profileName_;
}

// ---- List -------------------------------------------------------------------

void MailBoxModel::fillList(bool keepSelection) {
    changes_ |= MBCH_ROWS | MBCH_SELECTION | MBCH_TEXTS | MBCH_SCROLL;
    ACCOUNT* acc = SelectedAccount();
    if (!acc) {
        title_ = Iw_Translate("Inboxwarden", "MailBox ");
        list_.Clear();
        listAccount_.clear();
        errorLine_.clear();
        statusLine_.clear();
        sizeLine_.clear();
        return;
    }
    title_ = Iw_Translate("Inboxwarden", "MailBox: ") + acc->Name;
    const bool same = keepSelection && listAccount_ == acc->Name;
    listAccount_ = acc->Name;
    QueueHold hold; // the account stays out of the worker's hands while its rows are read
    if (!readable(acc)) {
        list_.Clear();
        refreshTexts();
        return;
    }
    list_.Fill(acc->hMsgBox, same);
    if (list_.SelectedCount() == 0) {
        list_.SelectOnly(list_.Count() > 0 ? 0 : -1);
    } else if (list_.Focus() < 0) {
        list_.SetFocus(list_.Selected().front());
    }
    refreshTexts();
}

void MailBoxModel::refreshTexts() {
    changes_ |= MBCH_TEXTS;
    errorLine_.clear();
    errorLineWarns_ = false;
    statusLine_.clear();
    sizeLine_.clear();
    ACCOUNT* acc = SelectedAccount();
    if (!acc) return;
    QueueHold hold;
    if (!readable(acc)) {
        errorLine_ = BusyNotice().text;
        errorLineWarns_ = true;
        return;
    }
    errorLine_ = acc->StatusText;
    errorLineWarns_ = acc->CheckResult == CR_TIMEOUT || acc->CheckResult == CR_FAILED;
    if (acc->CheckResult == CR_NOT_CHECKED || acc->CheckResult == CR_TIMEOUT ||
        DateTime_IsMissing(acc->LastCheck))
        statusLine_ = Iw_Translate("Inboxwarden", "Checked at N/A. ");
    else
        statusLine_ = clock(Iw_Translate("Inboxwarden", "Checked at"), acc->LastCheck) + ". ";
    DATETIME next{};
    if (hold.ok() && acc->TimerState == TS_QUEUED)
        statusLine_ += Iw_Translate("Inboxwarden", "Next check: pending...");
    else if (!acc->CheckIt || GlobalData_GetNumber(GD_ENABLED) == 0 || NextCheckTime(acc, &next))
        statusLine_ += Iw_Translate("Inboxwarden", "Next check: N/A");
    else
        statusLine_ += clock(Iw_Translate("Inboxwarden", "Next check:"), next);
    const MSGBOX_COUNTS* c = MsgBox_GetCounts(acc->hMsgBox);
    char size[64];
    std::snprintf(size, sizeof size, Iw_Translate("Inboxwarden", "Size : %.1fKB"),
                  c ? static_cast<double>(static_cast<uint64_t>(c->Size)) / 1024.0 : 0.0);
    sizeLine_ = size;
}

int MailBoxModel::ColumnWidth(int column) const {
    return column >= 0 && column < MBCOL_COUNT ? widths_[column] : 0;
}

bool MailBoxModel::ColumnWidthKept(int column) const {
    return column > MBCOL_ATTACH && column < MBCOL_COUNT && Param(kFirstWidth + column - 1);
}

void MailBoxModel::SetColumnWidth(int column, int width) {
    if (column >= 0 && column < MBCOL_COUNT && width >= 0) widths_[column] = width;
}

void MailBoxModel::ClickHeader(int column) {
    list_.ClickHeader(column);
    changes_ |= MBCH_ROWS | MBCH_HEADER | MBCH_SCROLL;
}

void MailBoxModel::SetSelection(const std::vector<int>& positions, int focus) {
    list_.ClearSelection();
    for (int p : positions)
        list_.Select(p, true);
    list_.SetFocus(focus);
    changes_ |= MBCH_SELECTION;
}

void MailBoxModel::SelectAll() {
    list_.SelectAll();
    changes_ |= MBCH_SELECTION;
}

std::string MailBoxModel::OpenFirstCaption() const {
    const int64_t lines = Param(GD_NLINESDWNLOAD).value_or(10);
    return "Open &First " + std::to_string(lines) + " Lines";
}

// ---- Command state ----------------------------------------------------------

bool MailBoxModel::IsEnabled(int command) const {
    ACCOUNT* acc = SelectedAccount();
    const bool rows = acc && list_.SelectedCount() > 0;
    switch (command) {
    case MBC_CHECK_CURRENT:
    case MBC_MARK_BOX_READ:
    case MBC_MARK_BOX_UNREAD:
    case MBC_CLEAR_LOG:
        return acc != nullptr;
    case MBC_MARK_DELETE:
    case MBC_MARK_READ:
    case MBC_MARK_UNREAD:
    case MBC_OPEN:
    case MBC_OPEN_FIRST:
    case MBC_REPLY:
    case MBC_FORWARD:
    case MBC_RETURN_ERROR:
    case MBC_ADD_FILTER:
        return rows;
    case MBC_DELETE_NOW: {
        if (rows) return true;
        if (!acc) return false;
        QueueHold hold;
        return readable(acc) && pendingDeletes(acc->hMsgBox) > 0;
    }
    case MBC_FIND_NEXT:
    case MBC_FIND_PREV:
    case MBC_SELECT_ALL:
        return list_.Count() > 0;
    case MBC_CHECK_ALL:
    case MBC_CHECK_ALL_BUTTON:
    case MBC_CHECK_INCLUDED:
    case MBC_MARK_ALL_READ:
    case MBC_MARK_ALL_UNREAD:
    case MBC_CLEAR_ALL_LOGS:
        return Account_GetCount() > 0;
    case MBC_MAIL_CLIENT:
        return !GlobalData_GetText(GD_MAILREADER).empty() || (acc && !acc->MailClnt.empty());
    case MBC_LARGE_LOGO:
        return GlobalData_GetNumber(GD_BUTTONSIZE) == 2;
    default:
        return true;
    }
}

bool MailBoxModel::IsChecked(int command) const {
    const bool largeButtons = GlobalData_GetNumber(GD_BUTTONSIZE) == 2;
    const bool largeLogo = largeButtons && GlobalData_GetNumber(GD_LOGOSIZE) == 2;
    switch (command) {
    case MBC_AUTO_CHECK:
        return GlobalData_GetNumber(GD_ENABLED) != 0;
    case MBC_PROGRESS_WINDOW:
        return GlobalData_GetNumber(GD_SHOWPROGRESSWINDOW) != 0;
    case MBC_SMALL_ICONS:
        return !largeButtons;
    case MBC_LARGE_ICONS:
        return largeButtons;
    case MBC_SMALL_LOGO:
        return !largeLogo;
    case MBC_LARGE_LOGO:
        return largeLogo;
    default:
        return false;
    }
}

void MailBoxModel::ToggleProgressWindow() {
    GlobalData_SetParam(GD_SHOWPROGRESSWINDOW,
                        GlobalData_GetNumber(GD_SHOWPROGRESSWINDOW) != 0 ? 0 : 1);
}

unsigned MailBoxModel::TakeChanges() {
    const unsigned c = changes_;
    changes_ = 0;
    return c;
}

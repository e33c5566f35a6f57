// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mailbox/mailbox_list.h"

#include "common/text.h"
#include "common/translate.h"
#include "settings/msgbox.h"

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

namespace {

// The date compared as year, month, day, hour, minute and second. A
// message without a date is older than every dated one, as DateTime_Compare
// orders them elsewhere in the program.
uint64_t dateKey(const DATETIME& d) {
    if (DateTime_IsMissing(d)) return 0;
    return (uint64_t{d.wYear} << 40 | uint64_t{d.wMonth} << 32 | uint64_t{d.wDay} << 24 |
            uint64_t{d.wHour} << 16 | uint64_t{d.wMinute} << 8 | uint64_t{d.wSecond}) +
           1;
}

// Bytes compared unsigned, case-sensitive (char_traits<char> compares as
// unsigned char).
int compareBytes(const std::string& a, const std::string& b) {
    return a.compare(b);
}

// Sizes are "%.1fKB" texts: the shorter one is the smaller number.
int compareSize(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return (c & 0x80) == 0; });
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A text to find, prepared once for a whole pass over the list.
class Needle {
  public:
    Needle(std::string_view text, bool matchCase)
        : text_(text), matchCase_(matchCase), ascii_(isAscii(text)), folded_(Text_FoldAscii(text)),
          wide_(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))) {}

    bool In(std::string_view hay) const {
        if (matchCase_) return hay.find(text_) != std::string_view::npos;
        // Most header texts are ASCII: fold bytes there, Unicode elsewhere.
        if (ascii_ && isAscii(hay)) return findAscii(hay);
        return QString::fromUtf8(hay.data(), static_cast<qsizetype>(hay.size()))
            .contains(wide_, Qt::CaseInsensitive);
    }

  private:
    bool findAscii(std::string_view hay) const {
        const size_t m = folded_.size();
        if (m > hay.size()) return false;
        for (size_t i = 0; i + m <= hay.size(); ++i) {
            size_t k = 0;
            while (k < m && lowerAscii(hay[i + k]) == folded_[k])
                ++k;
            if (k == m) return true;
        }
        return false;
    }

    std::string_view text_;
    bool matchCase_;
    bool ascii_;
    std::string folded_;
    QString wide_;
};

// A message's key across refills: its id and which copy of that id it is.
std::string rowKey(std::string_view id, int dup) {
    std::string key(id);
    if (dup > 0) key.append(1, '\0').append(std::to_string(dup)); // ids hold no NUL
    return key;
}

} // namespace

MSG_RECORD* MailBoxList_FindRecord(MSGBOX* box, const MAILBOX_ROW& row, int* index) {
    int first = -1;
    MSG_RECORD* r = MsgBox_FindMsg(box, row.id.c_str(), &first);
    if (!r || row.dup == 0) {
        if (r && index) *index = first;
        return r;
    }
    // A later copy of the same id: rare, so walk the box from the first.
    int seen = 0;
    for (int i = first + 1; i < MsgBox_GetCount(box); ++i) {
        MSG_RECORD* m = MsgBox_GetMsg(box, i);
        if (row.id == m->MsgId().c_str() && ++seen == row.dup) {
            if (index) *index = i;
            return m;
        }
    }
    return nullptr;
}

int MailBoxList_StatusImage(int32_t status) {
    switch (status) {
    case MSG_NEW:
    case MSG_QUIET:
        return MBIMG_NEW;
    case MSG_UNREAD:
        return MBIMG_UNREAD;
    case MSG_OLD:
        return MBIMG_OLD;
    case MSG_TO_DELETE:
        return MBIMG_TO_DELETE;
    case MSG_NOTIFIED:
        return MBIMG_NOTIFIED;
    case MSG_DELETED:
        return MBIMG_DELETED;
    default:
        return MBIMG_NONE;
    }
}

std::string MailBoxList_DateText(const DATETIME& d) {
    if (DateTime_IsMissing(d) || !DateTime_IsValid(d)) return "<invalid date>";
    const QLocale locale;
    const QString text = locale.toString(QDate(d.wYear, d.wMonth, d.wDay), QLocale::ShortFormat) +
                         u' ' +
                         locale.toString(QTime(d.wHour, d.wMinute, std::min<int>(d.wSecond, 59)),
                                         QLocale::ShortFormat);
    return text.toStdString();
}

void MailBoxList::Fill(MSGBOX* box, bool keepSelection) {
    std::unordered_set<std::string> selected;
    std::string focusKey;
    if (keepSelection) {
        for (const MAILBOX_ROW& r : rows_)
            if (r.selected) selected.insert(rowKey(r.id, r.dup));
        if (focus_ >= 0) focusKey = rowKey(rows_[focus_].id, rows_[focus_].dup);
    }
    rows_.clear();
    focus_ = -1;
    selectedCount_ = 0;
    const int n = MsgBox_GetCount(box);
    rows_.reserve(static_cast<size_t>(n));
    std::unordered_map<std::string_view, int> copies; // ids met more than once
    for (int i = 0; i < n; ++i) {
        const MSG_RECORD* m = MsgBox_GetMsg(box, i);
        MAILBOX_ROW& r = rows_.emplace_back();
        r.id = m->MsgId();
        int first = i;
        MsgBox_FindMsg(box, m->MsgId(), &first);
        if (first != i) r.dup = ++copies[m->MsgId().view()];
        r.from = m->From();
        r.to = m->To();
        r.subject = m->Subject();
        r.sizeText = m->SizeText();
        r.date = m->Date;
        r.status = m->Status;
        r.attach = m->HasAttach == 1;
        if (!selected.empty() || !focusKey.empty()) {
            const std::string key = rowKey(r.id, r.dup);
            if (selected.count(key)) {
                r.selected = true;
                ++selectedCount_;
            }
            if (key == focusKey) focus_ = i;
        }
    }
    sortRows();
}

void MailBoxList::Clear() {
    rows_.clear();
    order_.clear();
    position_.clear();
    focus_ = -1;
    selectedCount_ = 0;
}

std::string MailBoxList::CellText(int pos, int column) const {
    const MAILBOX_ROW& r = Row(pos);
    switch (column) {
    case MBCOL_FROM:
        return r.from;
    case MBCOL_TO:
        return r.to;
    case MBCOL_SUBJECT:
        return r.subject;
    case MBCOL_SIZE:
        return r.sizeText;
    case MBCOL_DATE:
        return MailBoxList_DateText(r.date);
    default:
        return {};
    }
}

int MailBoxList::Position(std::string_view id, int dup) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].dup == dup && rows_[i].id == id) return position_[i];
    return -1;
}

void MailBoxList::SetSortWord(uint32_t word) {
    sort_ = word;
    sortRows();
}

void MailBoxList::ClickHeader(int column) {
    if (column < 1 || column >= MBCOL_COUNT) return;
    const uint32_t direction = sort_ & MBSORT_DESCENDING;
    if ((sort_ & 0xFFFF) == static_cast<uint32_t>(column))
        SetSortWord((direction ^ MBSORT_DESCENDING) | static_cast<uint32_t>(column));
    else
        SetSortWord(direction | static_cast<uint32_t>(column));
}

std::string MailBoxList::HeaderText(int column) const {
    static constexpr const char* kHeaders[MBCOL_COUNT] = {"",
                                                          IW_N_("Inboxwarden", "From "),
                                                          IW_N_("Inboxwarden", "To "),
                                                          IW_N_("Inboxwarden", "Subject "),
                                                          IW_N_("Inboxwarden", "Size "),
                                                          IW_N_("Inboxwarden", "Date ")};
    if (column < 0 || column >= MBCOL_COUNT) return {};
    std::string text = Iw_Translate(IW_TR_CONTEXT, kHeaders[column]);
    if (column > 0 && (sort_ & 0xFFFF) == static_cast<uint32_t>(column))
        text += (sort_ & MBSORT_DESCENDING) ? '>' : '<';
    return text;
}

void MailBoxList::sortRows() {
    order_.resize(rows_.size());
    std::iota(order_.begin(), order_.end(), 0);
    const int column = static_cast<int>(sort_ & 0xFFFF);
    const bool down = (sort_ & MBSORT_DESCENDING) != 0;
    // From box order each time, so rows that compare equal keep it.
    auto sortBy = [&](auto compare) {
        std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) {
            const int c = compare(rows_[static_cast<size_t>(a)], rows_[static_cast<size_t>(b)]);
            return down ? c > 0 : c < 0;
        });
    };
    switch (column) {
    case MBCOL_FROM:
        sortBy([](const MAILBOX_ROW& a, const MAILBOX_ROW& b) {
            return compareBytes(a.from, b.from);
        });
        break;
    case MBCOL_TO:
        sortBy([](const MAILBOX_ROW& a, const MAILBOX_ROW& b) { return compareBytes(a.to, b.to); });
        break;
    case MBCOL_SUBJECT:
        sortBy([](const MAILBOX_ROW& a, const MAILBOX_ROW& b) {
            return compareBytes(a.subject, b.subject);
        });
        break;
    case MBCOL_SIZE:
        sortBy([](const MAILBOX_ROW& a, const MAILBOX_ROW& b) {
            return compareSize(a.sizeText, b.sizeText);
        });
        break;
    case MBCOL_DATE: {
        std::vector<uint64_t> keys(rows_.size());
        for (size_t i = 0; i < rows_.size(); ++i)
            keys[i] = dateKey(rows_[i].date);
        std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) {
            const uint64_t ka = keys[static_cast<size_t>(a)], kb = keys[static_cast<size_t>(b)];
            return down ? ka > kb : ka < kb;
        });
        break;
    }
    default:
        break; // any other column: every row equal
    }
    position_.resize(order_.size());
    for (size_t p = 0; p < order_.size(); ++p)
        position_[static_cast<size_t>(order_[p])] = static_cast<int>(p);
}

std::vector<int> MailBoxList::Selected() const {
    std::vector<int> out;
    out.reserve(static_cast<size_t>(selectedCount_));
    for (size_t p = 0; p < order_.size() && out.size() < static_cast<size_t>(selectedCount_); ++p)
        if (rows_[static_cast<size_t>(order_[p])].selected) out.push_back(static_cast<int>(p));
    return out;
}

void MailBoxList::Select(int pos, bool on) {
    if (pos < 0 || pos >= Count()) return;
    MAILBOX_ROW& r = rows_[static_cast<size_t>(order_[pos])];
    if (r.selected != on) selectedCount_ += on ? 1 : -1;
    r.selected = on;
}

void MailBoxList::SelectOnly(int pos) {
    ClearSelection();
    Select(pos, true);
    SetFocus(pos);
}

void MailBoxList::SelectAll() {
    for (MAILBOX_ROW& r : rows_)
        r.selected = true;
    selectedCount_ = static_cast<int>(rows_.size());
}

void MailBoxList::ClearSelection() {
    for (MAILBOX_ROW& r : rows_)
        r.selected = false;
    selectedCount_ = 0;
}

int MailBoxList::Focus() const {
    return focus_ < 0 ? -1 : position_[static_cast<size_t>(focus_)];
}

void MailBoxList::SetFocus(int pos) {
    focus_ = pos < 0 || pos >= Count() ? -1 : order_[pos];
}

int MailBoxList::Find(std::string_view text, bool matchCase, bool forward, int from) const {
    if (text.empty()) return -1;
    const Needle needle(text, matchCase);
    const int n = Count();
    const int step = forward ? 1 : -1;
    int pos = from < 0 ? (forward ? 0 : n - 1) : from + step;
    for (; pos >= 0 && pos < n; pos += step) {
        const MAILBOX_ROW& r = Row(pos);
        if (needle.In(r.from) || needle.In(r.subject) || needle.In(r.to)) return pos;
    }
    return -1;
}

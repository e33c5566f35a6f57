// SPDX-License-Identifier: GPL-3.0-or-later
// The message list of the MailBox window without its widget: one row per
// record of the shown account's message box, in the order the user sorted
// them, with the selection and the focus.
//
// A row holds copies of the texts it shows and the message's id, never a
// pointer or an index into the box: the check worker drops records and the
// box compacts its array, so a pointer or index goes stale. Whoever acts on a
// row looks its record up again (MailBoxList_FindRecord) just before use.
#pragma once

#include "common/datetime.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct MSGBOX;
struct MSG_RECORD;

// List columns.
enum : int {
    MBCOL_ATTACH = 0, // attachment image, no text
    MBCOL_FROM = 1,   // also carries the status image
    MBCOL_TO = 2,
    MBCOL_SUBJECT = 3,
    MBCOL_SIZE = 4,
    MBCOL_DATE = 5,
    MBCOL_COUNT = 6,
};

// Images of the window's strip (rows, tree nodes, the attachment column).
enum : int {
    MBIMG_NONE = 0,
    MBIMG_NEW = 1,
    MBIMG_OLD = 2,
    MBIMG_FAILED = 4, // a tree node whose last check failed
    MBIMG_TO_DELETE = 4,
    MBIMG_UNREAD = 5,
    MBIMG_ROOT = 6,
    MBIMG_NOTIFIED = 7,
    MBIMG_ATTACH = 8,
    MBIMG_DELETED = 9,
};

// The sort word kept in MsgDlgSort: the column (1..5) in the low 16 bits,
// the top bit set for a descending sort. Any other column sorts nothing.
inline constexpr uint32_t MBSORT_DESCENDING = 0x80000000u;
inline constexpr uint32_t MBSORT_DEFAULT = MBCOL_DATE;

// One message as the list shows it.
struct MAILBOX_ROW {
    std::string id; // MsgId
    int dup = 0;    // records before this one in the box with the same id
    std::string from, to, subject, sizeText;
    DATETIME date{};
    int32_t status = 0;
    bool attach = false;
    bool selected = false;
};

// The row's record in `box` now, with its index; null (index untouched) when
// the box holds it no more.
MSG_RECORD* MailBoxList_FindRecord(MSGBOX* box, const MAILBOX_ROW& row, int* index);

// The status image of a row (column 1).
int MailBoxList_StatusImage(int32_t status);

// The date column's text: the date in the user's short date format, a blank
// and the time in the user's short time format; "<invalid date>" for a
// missing or impossible date.
std::string MailBoxList_DateText(const DATETIME& date);

class MailBoxList {
  public:
    // Replaces the rows with the records of `box` (null: none) in box order
    // and sorts them. Rows whose messages were selected before stay selected,
    // and the focus stays on its message, when `keepSelection` and the
    // messages are still there.
    void Fill(MSGBOX* box, bool keepSelection);
    void Clear();

    int Count() const { return static_cast<int>(order_.size()); }
    // The row at a list position (0 .. Count()-1).
    const MAILBOX_ROW& Row(int pos) const { return rows_[static_cast<size_t>(order_[pos])]; }
    void SetStatus(int pos, int32_t status) {
        rows_[static_cast<size_t>(order_[pos])].status = status;
    }
    // The text of a cell ("" for column 0).
    std::string CellText(int pos, int column) const;
    // The list position of the row of message `id` (its dup-th copy); -1.
    int Position(std::string_view id, int dup = 0) const;

    // ---- Sorting ----------------------------------------------------------
    uint32_t SortWord() const { return sort_; }
    // Takes a sort word and sorts by it.
    void SetSortWord(uint32_t word);
    // A click on a column header: the sort column reverses its direction,
    // another column becomes the sort column in the same direction.
    void ClickHeader(int column);
    // The header text, marked "<" (ascending) or ">" (descending) on the
    // sort column.
    std::string HeaderText(int column) const;

    // ---- Selection and focus (list positions) -----------------------------
    std::vector<int> Selected() const; // in list order
    int SelectedCount() const { return selectedCount_; }
    void Select(int pos, bool on);
    // Selects only `pos` and puts the focus on it (-1: nothing selected).
    void SelectOnly(int pos);
    void SelectAll();
    void ClearSelection();
    int Focus() const; // -1 when none
    void SetFocus(int pos);

    // ---- Find -------------------------------------------------------------
    // The first row after `from` (forward) or before it whose From, Subject
    // or To holds `text`; -1 when none up to the end of the list (no wrap).
    // `from` -1 starts at the first row (forward) or the last one. Without
    // matchCase letters match in any case (Unicode folding).
    int Find(std::string_view text, bool matchCase, bool forward, int from) const;

  private:
    void sortRows();

    std::vector<MAILBOX_ROW> rows_; // box order
    std::vector<int> order_;        // list position -> index into rows_
    std::vector<int> position_;     // index into rows_ -> list position
    uint32_t sort_ = MBSORT_DEFAULT;
    int focus_ = -1; // index into rows_
    int selectedCount_ = 0;
};

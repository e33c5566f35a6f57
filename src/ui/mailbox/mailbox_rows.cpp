// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mailbox/mailbox_rows.h"

#include "settings/msgbox.h"
#include "ui/mailbox/mailbox_images.h"
#include "ui/mailbox/mailbox_model.h"
#include "ui/qtext.h"

#include <QCoreApplication>

#include <array>

namespace {

// What a screen reader says for a row's status image.
QString statusWord(int32_t status) {
    switch (status) {
    case MSG_NEW:
        return QCoreApplication::translate("MailBox", "New");
    case MSG_QUIET:
        return QCoreApplication::translate("MailBox", "New (quiet)");
    case MSG_UNREAD:
        return QCoreApplication::translate("MailBox", "Unread");
    case MSG_OLD:
        return QCoreApplication::translate("MailBox", "Read");
    case MSG_TO_DELETE:
        return QCoreApplication::translate("MailBox", "Marked for deletion");
    case MSG_NOTIFIED:
        return QCoreApplication::translate("MailBox", "New, announced");
    case MSG_DELETED:
        return QCoreApplication::translate("MailBox", "Deleted");
    default:
        return {};
    }
}

// Built once: every row of one status shares its icon.
const QIcon& image(int which) {
    static std::array<QIcon, 10> icons;
    static bool made = false;
    if (!made) {
        for (int i = 0; i < static_cast<int>(icons.size()); ++i)
            icons[static_cast<size_t>(i)] = MailBoxImage(i);
        made = true;
    }
    return icons[static_cast<size_t>(which >= 0 && which < 10 ? which : 0)];
}

} // namespace

int MailBoxRows::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : model_.List().Count();
}

int MailBoxRows::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : MBCOL_COUNT;
}

QVariant MailBoxRows::data(const QModelIndex& index, int role) const {
    const MailBoxList& list = model_.List();
    if (!index.isValid() || index.row() >= list.Count()) return {};
    const int row = index.row(), column = index.column();
    const MAILBOX_ROW& r = list.Row(row);
    switch (role) {
    case Qt::DisplayRole:
        return column == MBCOL_ATTACH ? QVariant()
                                      : QVariant(QText_From(list.CellText(row, column)));
    case Qt::DecorationRole:
        if (column == MBCOL_ATTACH && r.attach) return image(MBIMG_ATTACH);
        if (column == MBCOL_FROM) return image(MailBoxList_StatusImage(r.status));
        return {};
    case Qt::ToolTipRole:
    case Qt::AccessibleDescriptionRole:
        if (column == MBCOL_FROM) return statusWord(r.status);
        if (column == MBCOL_ATTACH && r.attach)
            return QCoreApplication::translate("MailBox", "Has attachments");
        return {};
    case Qt::TextAlignmentRole:
        if (column == MBCOL_SIZE) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

QVariant MailBoxRows::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    switch (role) {
    case Qt::DisplayRole:
        return QText_From(model_.List().HeaderText(section));
    case Qt::DecorationRole:
        return section == MBCOL_ATTACH ? QVariant(image(MBIMG_ATTACH)) : QVariant();
    case Qt::AccessibleTextRole:
    case Qt::ToolTipRole:
        return section == MBCOL_ATTACH ? QCoreApplication::translate("MailBox", "Attachment")
                                       : QVariant();
    case Qt::TextAlignmentRole:
        if (section == MBCOL_SIZE) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

void MailBoxRows::Reset() {
    beginResetModel();
    endResetModel();
}

void MailBoxRows::RowsChanged() {
    const int n = model_.List().Count();
    if (n > 0) emit dataChanged(index(0, 0), index(n - 1, MBCOL_COUNT - 1));
}

void MailBoxRows::HeaderChanged() {
    emit headerDataChanged(Qt::Horizontal, 0, MBCOL_COUNT - 1);
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The message list's rows as Qt's item views read them: a table model over
// the view model's MailBoxList. Only the rows on screen are ever asked for,
// so a box of 50,000 messages costs no item per cell.
#pragma once

#include <QAbstractTableModel>

class MailBoxModel;

class MailBoxRows final : public QAbstractTableModel {
  public:
    explicit MailBoxRows(const MailBoxModel& model, QObject* parent = nullptr)
        : QAbstractTableModel(parent), model_(model) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // After the view model replaced or reordered its rows.
    void Reset();
    // After row statuses changed in place.
    void RowsChanged();
    // After the sort marker moved.
    void HeaderChanged();

  private:
    const MailBoxModel& model_;
};

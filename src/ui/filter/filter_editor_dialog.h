// SPDX-License-Identifier: GPL-3.0-or-later
// The built-in rule editor's dialog over FILTER_MODEL: the rule list with
// New, Delete, Move Up and Move Down, and the selected rule's field, match,
// text, case and actions. Edits go to the model as they are made; OK checks
// every rule and writes them through the plug-in. Exposed for the tests and
// the screenshots; callers use FilterEditor_Open.
#pragma once

#include "ui/filter/filter_model.h"

#include <QDialog>

#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class FilterEditorDialog : public QDialog {
  public:
    // `handle`: where OK writes (may be null in tests that never accept).
    FilterEditorDialog(QWidget* owner, const QString& title, FILTER_MODEL model,
                       FILTER_HANDLE handle, int selectRow);

    const FILTER_MODEL& Model() const { return model_; }
    void accept() override;

  private:
    void select(int row);
    void showRule();
    void takeForm();
    void syncButtons();

    FILTER_MODEL model_;
    FILTER_HANDLE handle_;
    int row_ = -1;
    bool filling_ = false;
    QListWidget* list_;
    QComboBox* field_;
    QComboBox* match_;
    QLineEdit* text_;
    QCheckBox* case_;
    std::vector<QCheckBox*> actions_;
    QLabel* problem_;
    QPushButton *new_, *delete_, *up_, *down_;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/filter/filter_editor.h"

#include "common/status.h"
#include "message/filter.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "ui/filter/filter_editor_dialog.h"
#include "ui/qtext.h"
#include "ui/windows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char* const kMatchLabels[] = {QT_TRANSLATE_NOOP("Filters", "contains"),
                                    QT_TRANSLATE_NOOP("Filters", "is exactly"),
                                    QT_TRANSLATE_NOOP("Filters", "starts with"),
                                    QT_TRANSLATE_NOOP("Filters", "matches the regular expression")};

QString fieldLabel(const char* field) {
    return *field ? QString::fromLatin1(field)
                  : QCoreApplication::translate("Filters", "(whole header)");
}

} // namespace

FilterEditorDialog::FilterEditorDialog(QWidget* owner, const QString& title, FILTER_MODEL model,
                                       FILTER_HANDLE handle, int selectRow)
    : QDialog(owner), model_(std::move(model)), handle_(handle) {
    setWindowTitle(title);
    setObjectName(QStringLiteral("filterEditor"));

    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("rules"));
    list_->setAccessibleName(
        QCoreApplication::translate("Filters", "Rules, the first that matches decides"));
    auto* listLabel = new QLabel(
        QCoreApplication::translate("Filters", "&Rules (the first that matches decides):"), this);
    listLabel->setBuddy(list_);
    new_ = new QPushButton(QCoreApplication::translate("Filters", "&New"), this);
    delete_ = new QPushButton(QCoreApplication::translate("Filters", "De&lete"), this);
    up_ = new QPushButton(QCoreApplication::translate("Filters", "Move &Up"), this);
    down_ = new QPushButton(QCoreApplication::translate("Filters", "Move D&own"), this);
    new_->setAccessibleName(QCoreApplication::translate("Filters", "New rule"));
    delete_->setAccessibleName(QCoreApplication::translate("Filters", "Delete rule"));
    up_->setAccessibleName(QCoreApplication::translate("Filters", "Move rule up"));
    down_->setAccessibleName(QCoreApplication::translate("Filters", "Move rule down"));

    field_ = new QComboBox(this);
    field_->setEditable(true);
    field_->setObjectName(QStringLiteral("field"));
    field_->setAccessibleName(QCoreApplication::translate("Filters", "Header field"));
    for (const char* f : FILTER_FIELD_CHOICES)
        field_->addItem(fieldLabel(f), QString::fromLatin1(f));
    match_ = new QComboBox(this);
    match_->setObjectName(QStringLiteral("match"));
    match_->setAccessibleName(QCoreApplication::translate("Filters", "How the field is compared"));
    for (const char* m : kMatchLabels)
        match_->addItem(QCoreApplication::translate("Filters", m));
    text_ = new QLineEdit(this);
    text_->setObjectName(QStringLiteral("pattern"));
    text_->setAccessibleName(QCoreApplication::translate("Filters", "Text or regular expression"));
    text_->setMaxLength(static_cast<int>(FREGEX_MAX_PATTERN));
    case_ = new QCheckBox(QCoreApplication::translate("Filters", "Match letter &case"), this);
    case_->setObjectName(QStringLiteral("matchCase"));

    auto* ruleBox = new QGroupBox(QCoreApplication::translate("Filters", "Rule"), this);
    auto* form = new QFormLayout;
    form->addRow(QCoreApplication::translate("Filters", "&Field:"), field_);
    form->addRow(QCoreApplication::translate("Filters", "&Match:"), match_);
    form->addRow(QCoreApplication::translate("Filters", "&Text:"), text_);
    form->addRow(QString(), case_);
    auto* actionBox = new QGroupBox(QCoreApplication::translate("Filters", "Actions"), this);
    auto* actionLayout = new QVBoxLayout(actionBox);
    for (const auto& a : FILTER_ACTION_CHOICES) {
        auto* box = new QCheckBox(QText_Shown(a.label), actionBox);
        box->setObjectName(QStringLiteral("action%1").arg(a.bit, 2, 16, QLatin1Char('0')));
        actionLayout->addWidget(box);
        actions_.push_back(box);
        connect(box, &QCheckBox::toggled, this, [this] { takeForm(); });
    }
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("problem"));
    problem_->setWordWrap(true);
    problem_->setTextFormat(Qt::PlainText);
    auto* ruleLayout = new QVBoxLayout(ruleBox);
    ruleLayout->addLayout(form);
    ruleLayout->addWidget(actionBox);
    ruleLayout->addWidget(problem_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &FilterEditorDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* rowButtons = new QHBoxLayout;
    for (QPushButton* b : {new_, delete_, up_, down_}) {
        b->setAutoDefault(false);
        rowButtons->addWidget(b);
    }
    auto* left = new QVBoxLayout;
    left->addWidget(listLabel);
    left->addWidget(list_, 1);
    left->addLayout(rowButtons);
    auto* top = new QHBoxLayout;
    top->addLayout(left, 3);
    top->addWidget(ruleBox, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(buttons);
    resize(900, 460);

    for (const auto& r : model_.Rules())
        list_->addItem(QText_From(FILTER_MODEL::Describe(r)));

    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) { select(row); });
    connect(new_, &QPushButton::clicked, this, [this] {
        FILTER_RULE r;
        r.field = "From";
        const int row = model_.Add(r);
        list_->addItem(QText_From(FILTER_MODEL::Describe(r)));
        list_->setCurrentRow(row);
        text_->setFocus();
    });
    connect(delete_, &QPushButton::clicked, this, [this] {
        const int row = row_;
        if (row < 0) return;
        model_.Remove(row);
        row_ = -1;
        delete list_->takeItem(row);
        list_->setCurrentRow(std::min(row, model_.Count() - 1));
        if (model_.Count() == 0) select(-1);
    });
    auto move = [this](int by) {
        const int from = row_, to = model_.Move(row_, by);
        if (to == from) return;
        list_->item(from)->setText(QText_From(FILTER_MODEL::Describe(model_.Rules()[from])));
        list_->item(to)->setText(QText_From(FILTER_MODEL::Describe(model_.Rules()[to])));
        list_->setCurrentRow(to);
    };
    connect(up_, &QPushButton::clicked, this, [move] { move(-1); });
    connect(down_, &QPushButton::clicked, this, [move] { move(+1); });
    connect(field_, &QComboBox::currentTextChanged, this, [this] { takeForm(); });
    connect(match_, &QComboBox::currentIndexChanged, this, [this] { takeForm(); });
    connect(text_, &QLineEdit::textChanged, this, [this] { takeForm(); });
    connect(case_, &QCheckBox::toggled, this, [this] { takeForm(); });

    if (model_.Count() > 0) {
        list_->setCurrentRow(std::clamp(selectRow, 0, model_.Count() - 1));
    } else {
        select(-1);
    }
    (model_.Count() > 0 && selectRow >= 0 ? static_cast<QWidget*>(text_) : list_)->setFocus();
}

void FilterEditorDialog::select(int row) {
    row_ = row;
    showRule();
    syncButtons();
}

void FilterEditorDialog::showRule() {
    filling_ = true;
    const bool any = row_ >= 0 && row_ < model_.Count();
    for (QWidget* w : {static_cast<QWidget*>(field_), static_cast<QWidget*>(match_),
                       static_cast<QWidget*>(text_), static_cast<QWidget*>(case_)})
        w->setEnabled(any);
    for (QCheckBox* b : actions_)
        b->setEnabled(any);
    if (any) {
        const FILTER_RULE& r = model_.Rules()[static_cast<size_t>(row_)];
        const int known = field_->findData(QText_From(r.field));
        if (known >= 0)
            field_->setCurrentIndex(known);
        else
            field_->setEditText(QText_From(r.field));
        match_->setCurrentIndex(static_cast<int>(r.match));
        text_->setText(QText_From(r.pattern));
        case_->setChecked(r.matchCase);
        for (size_t i = 0; i < actions_.size(); ++i)
            actions_[i]->setChecked(r.actions & FILTER_ACTION_CHOICES[i].bit);
    } else {
        text_->clear();
    }
    filling_ = false;
    takeForm();
}

// The form's values into the selected rule, and the rule's problem, if
// any, under the form.
void FilterEditorDialog::takeForm() {
    if (filling_ || row_ < 0 || row_ >= model_.Count()) {
        problem_->clear();
        return;
    }
    FILTER_RULE r = model_.Rules()[static_cast<size_t>(row_)];
    const int index = field_->findText(field_->currentText());
    const QString field = index >= 0 ? field_->itemData(index).toString() : field_->currentText();
    r.field = field.trimmed().toStdString();
    r.match = static_cast<FILTER_MATCH>(std::max(0, match_->currentIndex()));
    r.pattern = text_->text().toStdString();
    r.matchCase = case_->isChecked();
    uint32_t kept = r.actions & IWF_ACT_SAVE2; // not offered, kept
    for (size_t i = 0; i < actions_.size(); ++i)
        if (actions_[i]->isChecked()) kept |= FILTER_ACTION_CHOICES[i].bit;
    r.actions = kept;
    model_.Set(row_, r);
    if (QListWidgetItem* item = list_->item(row_))
        item->setText(QText_From(FILTER_MODEL::Describe(r)));
    std::string why;
    problem_->setText(FilterRules_Check(r, &why)
                          ? QString()
                          : QCoreApplication::translate("Filters", "This rule cannot be kept: ") +
                                QText_From(why) + QLatin1Char('.'));
}

void FilterEditorDialog::syncButtons() {
    delete_->setEnabled(row_ >= 0);
    up_->setEnabled(row_ > 0);
    down_->setEnabled(row_ >= 0 && row_ + 1 < model_.Count());
    new_->setEnabled(model_.Count() < static_cast<int>(FILTER_MAX_RULES));
}

void FilterEditorDialog::accept() {
    if (!model_.Changed()) {
        QDialog::accept();
        return;
    }
    int bad = -1;
    std::string why;
    const uint32_t rc = handle_ ? model_.Save(handle_, &bad, &why) : ERR_NOT_READY;
    if (rc == 0) {
        QDialog::accept();
        return;
    }
    UiBoxOwner owner(this);
    if (bad >= 0) {
        list_->setCurrentRow(bad);
        UserMsg_Show("Inboxwarden",
                     "Rule " + std::to_string(bad + 1) + " cannot be kept: " + why + ".",
                     UM_OK | UM_ICONERROR);
        text_->setFocus();
        return;
    }
    UserMsg_Show("Inboxwarden", "The rules could not be saved: " + why, UM_OK | UM_ICONERROR);
}

namespace {

// The filter of an account ("" for the global one), opened when it is not
// yet; null after telling the user why.
FILTER_HANDLE filterOf(const std::string& accountName) {
    if (Filter_Load() != 0) {
        UserMsg_Show("Inboxwarden", IW_N_("Inboxwarden", "The filter plug-in is not loaded."),
                     UM_OK | UM_ICONERROR);
        return nullptr;
    }
    if (accountName.empty()) {
        FILTER_HANDLE h = GlobalData_GetFilter();
        if (!h)
            UserMsg_Show("Inboxwarden", IW_N_("Inboxwarden", "Failed to initialize a filter (0)."),
                         UM_OK | UM_ICONERROR);
        return h;
    }
    ACCOUNT* acc = Account_Get(accountName.c_str(), -1);
    if (!acc) {
        UserMsg_Show("Inboxwarden", "There is no account \"" + accountName + "\".",
                     UM_OK | UM_ICONERROR);
        return nullptr;
    }
    if (!acc->FilterHandle) {
        if (const uint32_t rc = Filter_Open(acc->Name, nullptr, &acc->FilterHandle); rc != 0) {
            char text[64];
            std::snprintf(text, sizeof text, "Failed to initialize a filter (%d).",
                          static_cast<int>(rc));
            UserMsg_Show("Inboxwarden", text, UM_OK | UM_ICONERROR);
            return nullptr;
        }
        Filter_AssignVars(acc->FilterHandle, acc->ChkLogin.c_str(), acc->Email.c_str());
    }
    return acc->FilterHandle;
}

bool runEditor(QWidget* owner, const std::string& accountName, FILTER_HANDLE h,
               const FILTER_RULE* proposed) {
    FILTER_MODEL model;
    std::string why;
    if (model.Load(h, &why) != 0) {
        UiBoxOwner box(owner);
        UserMsg_Show("Inboxwarden", "The filter rules cannot be edited: " + why,
                     UM_OK | UM_ICONERROR);
        return false;
    }
    int row = -1;
    if (proposed) row = model.Add(*proposed);
    const QString title =
        accountName.empty()
            ? QCoreApplication::translate("Filters", "Global Filter Rules")
            : QCoreApplication::translate("Filters", "Filter Rules - ") + QText_From(accountName);
    FilterEditorDialog dialog(owner, title, std::move(model), h, row);
    return dialog.exec() == QDialog::Accepted && dialog.Model().Changed();
}

uintptr_t nativeOwner(QWidget* owner) {
    return owner ? static_cast<uintptr_t>(owner->window()->winId()) : 0;
}

} // namespace

bool FilterEditor_Open(QWidget* owner, const std::string& accountName) {
    UiBoxOwner box(owner);
    FILTER_HANDLE h = filterOf(accountName);
    if (!h) return false;
    const uint32_t rc = Filter_Modify(h, nativeOwner(owner));
    if (rc != IWF_NO_EDITOR) return rc == 0; // the plug-in's own editor ran
    return runEditor(owner, accountName, h, nullptr);
}

bool FilterEditor_AddRule(QWidget* owner, const std::string& accountName, const std::string& from,
                          const std::string& to, const std::string& subject) {
    UiBoxOwner box(owner);
    FILTER_HANDLE h = filterOf(accountName);
    if (!h) return false;
    const uint32_t rc =
        Filter_BlockMsgDlg(h, nativeOwner(owner), 0, from.c_str(), to.c_str(), subject.c_str());
    if (rc != IWF_NO_EDITOR) return rc == 0;
    const FILTER_RULE proposed = FILTER_MODEL::RuleFromMessage(from, subject);
    return runEditor(owner, accountName, h, &proposed);
}

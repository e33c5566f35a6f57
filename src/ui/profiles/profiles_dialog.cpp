// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/profiles/profiles_dialog.h"

#include "common/status.h"
#include "engine/mailcheck.h"
#include "engine/schedule.h"
#include "platform/user_message.h"
#include "settings/globaldata.h"
#include "ui/profiles/profiles_model.h"
#include "ui/qtext.h"
#include "ui/windows.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

class ProfilesDialog final : public QDialog {
  public:
    explicit ProfilesDialog(QWidget* owner);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPushButton* button(const char* text, const char* name, void (ProfilesDialog::*slot)());
    void fill();
    void apply(const PROFILES_OUTCOME& out);
    void onItemChanged(QTreeWidgetItem* item, int column);
    void chooseFolder();
    void createNew() { apply(model_.CreateNew()); }
    void copy() { apply(model_.Copy()); }
    void rename();
    void remove() { apply(model_.Delete()); }
    void setDefault() { apply(model_.SetDefault()); }
    void noDefault() { apply(model_.NoDefault()); }
    void activate();

    ProfilesModel model_;
    QLineEdit* folder_;
    QTreeWidget* list_;
    QButtonGroup* recovery_;
    bool filling_ = false;
};

QPointer<ProfilesDialog> g_dialog;
bool g_switched = false; // another profile was activated in this run of the dialog

PROFILES_HOOKS hooks() {
    PROFILES_HOOKS h;
    h.confirm = [](const std::string& text) {
        UiBoxOwner boxes(g_dialog);
        return UserMsg_Show("Inboxwarden", text, UM_YESNO | UM_ICONQUESTION) == UM_IDYES;
    };
    // The caller stopped the checks before the dialog opened; a check that
    // started since (the MailBox window is usable meanwhile) is stopped the
    // same way before a single account record goes away.
    h.beforeSwitch = [] {
        MailCheck_Abort(ERR_CANCELLED);
        MailCheck_WaitIdle([](int64_t) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        });
        Timers_KillAll();
        Queue_Clear();
    };
    h.afterSwitch = [] { UiWindows_SettingsChanged(); };
    return h;
}

} // namespace

ProfilesDialog::ProfilesDialog(QWidget* owner)
    : QDialog(owner), model_(hooks(), !GlobalData_ManagesLogon()) {
    setObjectName(QStringLiteral("profilesDialog"));
    setWindowTitle(QCoreApplication::translate("Profiles", "Profiles"));
    setWindowModality(Qt::NonModal);

    auto* folderLabel =
        new QLabel(QCoreApplication::translate("Profiles", "&Profiles folder:"), this);
    folder_ = new QLineEdit(this);
    folder_->setObjectName(QStringLiteral("folder"));
    folder_->setReadOnly(true);
    folderLabel->setBuddy(folder_);
    auto* browse = button("...", "chooseFolder", &ProfilesDialog::chooseFolder);
    browse->setAccessibleName(
        QCoreApplication::translate("Profiles", "Choose the profiles folder"));
    browse->setToolTip(browse->accessibleName());
    browse->setMaximumWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 32);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folderLabel);
    folderRow->addWidget(folder_, 1);
    folderRow->addWidget(browse);

    auto* listLabel = new QLabel(QCoreApplication::translate("Profiles", "&Saved profiles:"), this);
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("profiles"));
    list_->setAccessibleName(QCoreApplication::translate("Profiles", "Saved profiles"));
    list_->setColumnCount(2);
    list_->setHeaderLabels({QCoreApplication::translate("Profiles", "Name"),
                            QCoreApplication::translate("Profiles", "Status")});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list_->header()->setStretchLastSection(false);
    list_->header()->resizeSection(1, 140);
    list_->installEventFilter(this);
    listLabel->setBuddy(list_);
    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!filling_ && item) model_.Select(list_->indexOfTopLevelItem(item));
    });
    connect(list_, &QTreeWidget::itemChanged, this, &ProfilesDialog::onItemChanged);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(button(QT_TRANSLATE_NOOP("Profiles", "Create &New"), "createNew",
                              &ProfilesDialog::createNew));
    buttons->addWidget(
        button(QT_TRANSLATE_NOOP("Profiles", "&Copy"), "copy", &ProfilesDialog::copy));
    buttons->addWidget(
        button(QT_TRANSLATE_NOOP("Profiles", "&Rename"), "rename", &ProfilesDialog::rename));
    buttons->addWidget(
        button(QT_TRANSLATE_NOOP("Profiles", "&Delete"), "delete", &ProfilesDialog::remove));
    auto* def = button(QT_TRANSLATE_NOOP("Profiles", "Set as De&fault"), "setDefault",
                       &ProfilesDialog::setDefault);
    auto* noDef = button(QT_TRANSLATE_NOOP("Profiles", "No Defa&ult"), "noDefault",
                         &ProfilesDialog::noDefault);
    // Only the default profile's run manages the default.
    def->setVisible(model_.DefaultOffered());
    noDef->setVisible(model_.DefaultOffered());
    buttons->addWidget(def);
    buttons->addWidget(noDef);
    buttons->addStretch(1);
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(list_, 1);
    listRow->addLayout(buttons);

    auto* group = new QGroupBox(
        QCoreApplication::translate("Profiles", "Saving the settings after an unclean end"), this);
    recovery_ = new QButtonGroup(this);
    auto* groupRow = new QHBoxLayout(group);
    const struct {
        const char* text;
        const char* name;
        int mode;
    } choices[] = {{QT_TRANSLATE_NOOP("Profiles", "Al&ways"), "recoveryAlways", 1},
                   {QT_TRANSLATE_NOOP("Profiles", "Ne&ver"), "recoveryNever", 0},
                   {QT_TRANSLATE_NOOP("Profiles", "As&k"), "recoveryAsk", 2}};
    for (const auto& c : choices) {
        auto* r = new QRadioButton(QCoreApplication::translate("Profiles", c.text), group);
        r->setObjectName(QLatin1String(c.name));
        recovery_->addButton(r, c.mode);
        groupRow->addWidget(r);
        if (c.mode == model_.Recovery()) r->setChecked(true);
    }
    groupRow->addStretch(1);
    connect(recovery_, &QButtonGroup::idClicked, this, [this](int id) { model_.SetRecovery(id); });

    auto* activate =
        button(QT_TRANSLATE_NOOP("Profiles", "&Activate"), "activate", &ProfilesDialog::activate);
    activate->setDefault(true);
    auto* close = new QPushButton(QCoreApplication::translate("Profiles", "Close"), this);
    close->setObjectName(QStringLiteral("close"));
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(activate);
    bottom->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(folderRow);
    layout->addWidget(listLabel);
    layout->addLayout(listRow, 1);
    layout->addWidget(group);
    layout->addLayout(bottom);
    resize(560, 380);
    fill();
    list_->setFocus();
}

QPushButton* ProfilesDialog::button(const char* text, const char* name,
                                    void (ProfilesDialog::*slot)()) {
    auto* b = new QPushButton(QCoreApplication::translate("Profiles", text), this);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, slot);
    return b;
}

void ProfilesDialog::fill() {
    filling_ = true;
    folder_->setText(QText_From(model_.Folder()));
    list_->clear();
    for (int i = 0; i < model_.Count(); ++i) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QText_From(model_.Items()[i].name));
        item->setText(1, QText_From(model_.StatusText(i)));
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    }
    if (model_.Selected() >= 0) list_->setCurrentItem(list_->topLevelItem(model_.Selected()));
    filling_ = false;
}

void ProfilesDialog::apply(const PROFILES_OUTCOME& out) {
    fill();
    {
        UiBoxOwner boxes(this);
        UserMsg_ShowNotices(out.notices);
    }
    if (out.close) {
        accept();
        return;
    }
    if (out.editRow >= 0)
        if (QTreeWidgetItem* item = list_->topLevelItem(out.editRow)) list_->editItem(item, 0);
}

void ProfilesDialog::onItemChanged(QTreeWidgetItem* item, int column) {
    if (filling_ || column != 0) return;
    const int row = list_->indexOfTopLevelItem(item);
    const std::string name = item->text(0).toStdString();
    // The list is rebuilt after the rename: not while the editor that
    // changed the item is still closing.
    QMetaObject::invokeMethod(
        this, [this, row, name] { apply(model_.Rename(row, name)); }, Qt::QueuedConnection);
}

void ProfilesDialog::rename() {
    if (QTreeWidgetItem* item = list_->currentItem()) list_->editItem(item, 0);
}

void ProfilesDialog::chooseFolder() {
    const QString dir = QFileDialog::getExistingDirectory(
        this, QCoreApplication::translate("Profiles", "Profiles root directory"),
        QText_From(model_.Folder()));
    if (dir.isEmpty()) return;
    model_.SetFolder(dir.toStdString());
    fill();
}

void ProfilesDialog::activate() {
    setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const PROFILES_OUTCOME out = model_.Activate();
    g_switched = g_switched || model_.Switched();
    QApplication::restoreOverrideCursor();
    setEnabled(true);
    apply(out);
}

bool ProfilesDialog::eventFilter(QObject* watched, QEvent* event) {
    // While a name is edited the keys go to the editor, not to the list.
    if (watched == list_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        remove();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

namespace {

void waitForClose(QDialog* dialog) {
    QEventLoop loop;
    QObject::connect(dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    QObject::connect(dialog, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

bool ProfilesDialog_Run(QWidget* owner) {
    if (g_dialog) {
        g_dialog->raise();
        g_dialog->activateWindow();
        QApplication::beep();
        // A second caller also returns only once the dialog has closed:
        // it must not let checks start while the accounts may change.
        waitForClose(g_dialog);
        return false;
    }
    g_switched = false;
    // On the heap: an owner that goes away (shutdown closes everything)
    // takes the dialog with it, and the loop ends then too.
    g_dialog = new ProfilesDialog(owner);
    g_dialog->show();
    g_dialog->raise();
    g_dialog->activateWindow();
    waitForClose(g_dialog);
    delete g_dialog;
    return g_switched;
}

QWidget* ProfilesDialog_Window() {
    return g_dialog;
}

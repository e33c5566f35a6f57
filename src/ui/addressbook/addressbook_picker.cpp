// SPDX-License-Identifier: GPL-3.0-or-later
// The picker dialog: a thin view of AddressPickerModel.
#include "ui/addressbook/addressbook_picker.h"

#include "ui/addressbook/addressbook.h"
#include "ui/addressbook/addressbook_picker_model.h"
#include "ui/qtext.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

class PickerDialog final : public QDialog {
  public:
    PickerDialog(QWidget* owner, const ADDRESSBOOK& book, const ADDRESS_LINES& lines)
        : QDialog(owner), model_(book.contacts, lines) {
        setObjectName(QStringLiteral("addressBook"));
        setWindowTitle(QCoreApplication::translate("AddressBook", "Address Book"));

        auto* contactsLabel =
            new QLabel(QCoreApplication::translate("AddressBook", "Co&ntacts:"), this);
        tree_ = new QTreeWidget(this);
        tree_->setObjectName(QStringLiteral("contacts"));
        tree_->setAccessibleName(QCoreApplication::translate("AddressBook", "Contacts"));
        tree_->setHeaderHidden(true);
        tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
        contactsLabel->setBuddy(tree_);
        fillTree();

        static constexpr const char* kButtons[PICK_LISTS] = {
            QT_TRANSLATE_NOOP("AddressBook", "T&o ->"), QT_TRANSLATE_NOOP("AddressBook", "&Cc ->"),
            QT_TRANSLATE_NOOP("AddressBook", "&Bcc ->")};
        static constexpr const char* kNames[PICK_LISTS] = {"To", "Cc", "Bcc"};
        auto* buttons = new QVBoxLayout;
        buttons->addStretch();
        auto* lists = new QVBoxLayout;
        for (int l = 0; l < PICK_LISTS; ++l) {
            auto* addButton =
                new QPushButton(QCoreApplication::translate("AddressBook", kButtons[l]), this);
            addButton->setObjectName(QStringLiteral("add%1").arg(QLatin1String(kNames[l])));
            addButton->setAccessibleName(QCoreApplication::translate("AddressBook", "Add to %1")
                                             .arg(QLatin1String(kNames[l])));
            addButton->setAutoDefault(false);
            connect(addButton, &QPushButton::clicked, this, [this, l] { add(l); });
            buttons->addWidget(addButton);
            auto* label = new QLabel(QStringLiteral("%1:").arg(QLatin1String(kNames[l])), this);
            lists_[l] = new QListWidget(this);
            lists_[l]->setObjectName(QStringLiteral("list%1").arg(QLatin1String(kNames[l])));
            lists_[l]->setAccessibleName(QLatin1String(kNames[l]));
            lists_[l]->setAccessibleDescription(
                QCoreApplication::translate("AddressBook", "Delete removes the selected entry"));
            lists_[l]->installEventFilter(this);
            label->setBuddy(lists_[l]);
            lists->addWidget(label);
            lists->addWidget(lists_[l], 1);
            fillList(l);
        }
        remove_ = new QPushButton(QCoreApplication::translate("AddressBook", "&Remove"), this);
        remove_->setObjectName(QStringLiteral("remove"));
        remove_->setAutoDefault(false);
        connect(remove_, &QPushButton::clicked, this, [this] { removeSelected(lastList_); });
        buttons->addSpacing(12);
        buttons->addWidget(remove_);
        buttons->addStretch();
        connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this] { add(PICK_TO); });

        auto* grid = new QGridLayout(this);
        grid->addWidget(contactsLabel, 0, 0);
        grid->addWidget(tree_, 1, 0);
        grid->addLayout(buttons, 1, 1);
        grid->addLayout(lists, 0, 2, 2, 1);
        grid->setColumnStretch(0, 1);
        grid->setColumnStretch(2, 1);
        int row = 2;
        if (const QString note = problems(book); !note.isEmpty()) {
            auto* status = new QLabel(note, this);
            status->setObjectName(QStringLiteral("status"));
            status->setWordWrap(true);
            status->setTextFormat(Qt::PlainText);
            grid->addWidget(status, row++, 0, 1, 3);
        }
        auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
        grid->addWidget(box, row, 0, 1, 3);
        resize(760, 440);
        tree_->setFocus();
        if (tree_->topLevelItemCount() > 0) tree_->setCurrentItem(tree_->topLevelItem(0));
    }

    const AddressPickerModel& Model() const { return model_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        for (int l = 0; l < PICK_LISTS; ++l) {
            if (watched != lists_[l]) continue;
            if (event->type() == QEvent::FocusIn) lastList_ = l;
            if (event->type() == QEvent::KeyPress &&
                static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
                removeSelected(l);
                return true;
            }
        }
        return QDialog::eventFilter(watched, event);
    }

  private:
    static QString problems(const ADDRESSBOOK& book) {
        QStringList bad;
        for (const ADDRESSBOOK_SOURCE& s : book.sources)
            if (AddressBook_Failed(s))
                bad << QStringLiteral("%1 (%2)").arg(QText_From(s.path), QText_From(s.error));
        if (bad.isEmpty()) return {};
        return QCoreApplication::translate("AddressBook", "Not read: %1")
            .arg(bad.join(QStringLiteral("; ")));
    }

    void fillTree() {
        std::vector<QTreeWidgetItem*> items;
        for (size_t i = 0; i < model_.Nodes().size(); ++i) {
            const AddressPickerModel::NODE& n = model_.Nodes()[i];
            auto* item = n.parent < 0 ? new QTreeWidgetItem(tree_)
                                      : new QTreeWidgetItem(items[static_cast<size_t>(n.parent)]);
            item->setText(0, QText_From(n.text));
            item->setData(0, Qt::UserRole, static_cast<int>(i));
            items.push_back(item);
        }
        if (items.empty()) {
            auto* none = new QTreeWidgetItem(tree_);
            none->setText(0, QCoreApplication::translate("AddressBook", "(no contacts)"));
            none->setFlags(Qt::NoItemFlags);
        }
    }

    void fillList(int l) {
        lists_[l]->clear();
        for (const std::string& e : model_.List(l))
            lists_[l]->addItem(QText_From(e));
    }

    void add(int l) {
        for (QTreeWidgetItem* item : tree_->selectedItems()) {
            const QVariant node = item->data(0, Qt::UserRole);
            if (node.isValid()) model_.Add(l, node.toInt());
        }
        fillList(l);
        lists_[l]->setCurrentRow(lists_[l]->count() - 1);
    }

    void removeSelected(int l) {
        const int row = lists_[l]->currentRow();
        if (row < 0) return;
        model_.Remove(l, row);
        fillList(l);
        lists_[l]->setCurrentRow(std::min(row, lists_[l]->count() - 1));
    }

    AddressPickerModel model_;
    QTreeWidget* tree_ = nullptr;
    QListWidget* lists_[PICK_LISTS] = {};
    QPushButton* remove_ = nullptr;
    int lastList_ = PICK_TO;
};

} // namespace

bool AddressBook_Pick(QWidget* owner, ADDRESS_LINES* lines) {
    if (!lines) return false;
    const ADDRESSBOOK book = AddressBook_Load(AddressBook_Files());
    PickerDialog dialog(owner, book, *lines);
    if (dialog.exec() != QDialog::Accepted) return false;
    *lines = dialog.Model().Lines();
    return true;
}

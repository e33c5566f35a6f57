// SPDX-License-Identifier: GPL-3.0-or-later
// The picker dialog driven from the keyboard, as a user without a mouse
// drives it: every control named, the contacts reached by keys, Delete
// removing an entry, OK writing the lists back and Cancel leaving them.
#include "../../support/temp_env.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "settings/globaldata.h"
#include "settings/reg.h"
#include "ui/addressbook/addressbook_picker.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

namespace {

class PickerDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("pick") + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        ASSERT_EQ(GlobalData_Load(root_), 0u);
        ASSERT_EQ(Paths_EnsureDir(Paths_DataDir()), 0);
        iwtest::WriteFile(Paths_DataDir() + "/contacts.vcf",
                          "BEGIN:VCARD\nFN:Ann\nEMAIL:ann@x.example\nEND:VCARD\n"
                          "BEGIN:VCARD\nFN:Bob\nEMAIL:bob@x.example\nEMAIL:bob@y.example\n"
                          "END:VCARD\n");
    }
    void TearDown() override {
        GlobalData_Free(0);
        Reg_Close(root_);
    }
    // Runs the picker; `drive` works the dialog once it is up.
    bool pick(ADDRESS_LINES* lines, const std::function<void(QDialog*)>& drive) {
        QTimer::singleShot(0, [&] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowActive(d));
            drive(d);
            if (d->isVisible()) d->reject();
        });
        return AddressBook_Pick(nullptr, lines);
    }
    // Alt+key on a button clicks it once its press animation is over.
    static void mnemonic(QDialog* d, Qt::Key key, const char* button) {
        auto* b = d->findChild<QPushButton*>(button);
        QTest::keyClick(QApplication::focusWidget(), key, Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([b] { return !b->isDown(); })) << button;
    }
    REGKEY* root_ = nullptr;
};

TEST_F(PickerDialogTest, KeysChooseAddressesDeleteRemovesAndOnlyOkWrites) {
    ADDRESS_LINES lines{"old@x.example", "", "hidden@x.example"};
    std::vector<std::string> unnamed;
    const bool ok = pick(&lines, [&](QDialog* d) {
        for (QWidget* w : d->findChildren<QWidget*>())
            if (w->focusPolicy() & Qt::TabFocus && w->accessibleName().isEmpty() &&
                !qobject_cast<QPushButton*>(w))
                unnamed.push_back(w->metaObject()->className());
        auto* tree = d->findChild<QTreeWidget*>("contacts");
        EXPECT_EQ(QApplication::focusWidget(), tree);
        QTest::keyClick(tree, Qt::Key_Down); // Bob, with both addresses
        mnemonic(d, Qt::Key_O, "addTo");
        mnemonic(d, Qt::Key_C, "addCc");
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_Up); // Ann
        mnemonic(d, Qt::Key_C, "addCc");
        auto* to = d->findChild<QListWidget*>("listTo");
        to->setFocus();
        to->setCurrentRow(0);
        QTest::keyClick(to, Qt::Key_Delete); // old@x.example goes
        d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    EXPECT_TRUE(ok);
    EXPECT_EQ(unnamed, std::vector<std::string>{});
    EXPECT_EQ(lines.to, "Bob <bob@x.example>, Bob <bob@y.example>");
    EXPECT_EQ(lines.cc, "Bob <bob@x.example>, Bob <bob@y.example>, Ann <ann@x.example>");
    EXPECT_EQ(lines.bcc, "hidden@x.example");

    const ADDRESS_LINES before = lines;
    EXPECT_FALSE(pick(&lines, [](QDialog* d) {
        mnemonic(d, Qt::Key_B, "addBcc");
        QTest::keyClick(d, Qt::Key_Escape);
    }));
    EXPECT_EQ(lines.bcc, before.bcc);
}

} // namespace

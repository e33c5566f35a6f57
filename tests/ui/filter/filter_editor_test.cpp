// SPDX-License-Identifier: GPL-3.0-or-later
// The built-in rule editor over the shipped plug-in: what it reads and
// writes goes through the plug-in's interface into the real store.
#include "../../support/temp_env.h"
#include "common/status.h"
#include "message/filter.h"
#include "platform/registry.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/reg.h"
#include "ui/filter/filter_editor.h"
#include "ui/filter/filter_editor_dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSet>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace {

const std::string kRules = std::string(FILTER_FILE_MAGIC) +
                           "\nFrom\tcontains\tnocase\tdelete\t@ads.example\n"
                           "Subject\tequals\tcase\tquiet,save-copy\tNewsletter\n";

class FilterEditor : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = iwtest::MakeTempDir("fed");
        ASSERT_EQ(RegStore_Open(dir_ + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        ASSERT_EQ(GlobalData_Load(root_), 0u);
        Filter_Unload();
        setenv("INBOXWARDEN_PLUGIN_DIR", IW_SHIPPED_FILTER_DIR, 1);
        UserMsg_SetHandler([this](std::string_view, std::string_view text, unsigned) {
            boxes_.emplace_back(text);
            return UM_IDOK;
        });
        acc_ = Account_Add("Work", nullptr);
        ASSERT_TRUE(acc_);
        ASSERT_EQ(Filter_Open("Work", nullptr, &acc_->FilterHandle), 0u);
        iwtest::WriteFile(dir_ + "/r.iwfl", kRules);
        ASSERT_EQ(Filter_Import(acc_->FilterHandle, (dir_ + "/r.iwfl").c_str()), 0u);
    }
    void TearDown() override {
        if (acc_) Filter_Close(&acc_->FilterHandle); // no filter ops here to close it
        Account_FreeAll();
        GlobalData_Free(0);
        Reg_Close(root_);
        Filter_Unload();
        UserMsg_SetHandler(nullptr);
    }
    // Runs `inside` on the modal dialog once it is shown.
    static void whenShown(std::function<void(FilterEditorDialog*)> inside) {
        QTimer::singleShot(0, [inside] {
            auto* d = dynamic_cast<FilterEditorDialog*>(QApplication::activeModalWidget());
            ASSERT_TRUE(d);
            inside(d);
        });
    }
    uint32_t action(const char* header) const {
        return Filter_GetMsgAction(acc_->FilterHandle, header);
    }
    std::string dir_;
    REGKEY* root_ = nullptr;
    ACCOUNT* acc_ = nullptr;
    std::vector<std::string> boxes_;
};

TEST_F(FilterEditor, ModelReadsAndWritesThroughThePlugin) {
    FILTER_MODEL m;
    std::string why;
    ASSERT_EQ(m.Load(acc_->FilterHandle, &why), 0u) << why;
    ASSERT_EQ(m.Count(), 2);
    EXPECT_EQ(m.Rules()[1].actions, IWF_ACT_QUIET | IWF_ACT_SAVE2);
    EXPECT_EQ(FILTER_MODEL::Describe(m.Rules()[1]),
              "Subject is \"Newsletter\" (case) \u2192 save-copy, quiet");
    EXPECT_EQ(m.Move(1, -1), 0);
    EXPECT_EQ(m.Move(0, -1), 0); // the top stays
    EXPECT_TRUE(m.Changed());
    int bad = 0;
    ASSERT_EQ(m.Save(acc_->FilterHandle, &bad, &why), 0u) << why;
    EXPECT_EQ(action("Subject: Newsletter\r\nFrom: x@ads.example\r\n\r\n"),
              IWF_ACT_QUIET | IWF_ACT_SAVE2); // the moved rule now comes first

    // A faulty rule writes nothing and names its row.
    FILTER_RULE broken = m.Rules()[0];
    broken.match = FILTER_MATCH::Regex;
    broken.pattern = "(unclosed";
    m.Set(1, broken);
    EXPECT_EQ(m.Save(acc_->FilterHandle, &bad, &why), ERR_BADARG);
    EXPECT_EQ(bad, 1);
    EXPECT_EQ(why, "bad regular expression: unbalanced parenthesis at 10");
    EXPECT_EQ(action("From: x@ads.example\r\n\r\n"), IWF_ACT_DELETE);
}

TEST_F(FilterEditor, RuleProposedForAMessage) {
    struct Case {
        const char* from;
        const char* field;
        const char* pattern;
    } cases[] = {
        {"\"Deals\" <deals@ads.example>", "From", "deals@ads.example"},
        {"bare@ads.example", "From", "bare@ads.example"},
        {" \"Only a name\" ", "From", "Only a name"},
        {"", "Subject", "Win now"},
    };
    for (const auto& c : cases) {
        const FILTER_RULE r = FILTER_MODEL::RuleFromMessage(c.from, "Win now");
        EXPECT_EQ(r.field, c.field) << c.from;
        EXPECT_EQ(r.pattern, c.pattern) << c.from;
        EXPECT_EQ(r.actions, IWF_ACT_DELETE | IWF_ACT_SPAM);
    }
}

TEST_F(FilterEditor, AddFilterProposesTheSenderAndOkStoresIt) {
    whenShown([](FilterEditorDialog* d) {
        auto* pattern = d->findChild<QLineEdit*>(QStringLiteral("pattern"));
        EXPECT_EQ(pattern->text(), QStringLiteral("spam@lists.example"));
        EXPECT_TRUE(pattern->hasFocus() || !QApplication::focusWidget());
        EXPECT_EQ(d->findChild<QListWidget*>(QStringLiteral("rules"))->currentRow(), 2);
        d->findChild<QCheckBox*>(QStringLiteral("action40"))->setChecked(true); // quiet too
        d->accept();
    });
    ASSERT_TRUE(FilterEditor_AddRule(nullptr, "work", "Lists <spam@lists.example>", "me@x", "Hi"));
    EXPECT_EQ(action("From: Lists <SPAM@lists.example>\r\n\r\n"),
              IWF_ACT_DELETE | IWF_ACT_SPAM | IWF_ACT_QUIET);
    EXPECT_EQ(Filter_GetCount(acc_->FilterHandle), 3);

    // Cancel keeps the rules as they were.
    whenShown([](FilterEditorDialog* d) { d->reject(); });
    EXPECT_FALSE(FilterEditor_AddRule(nullptr, "Work", "other@x", "", ""));
    EXPECT_EQ(Filter_GetCount(acc_->FilterHandle), 3);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(FilterEditor, AFaultyRuleKeepsTheDialogOpenOnIt) {
    bool stillOpen = false;
    whenShown([&stillOpen](FilterEditorDialog* d) {
        auto* list = d->findChild<QListWidget*>(QStringLiteral("rules"));
        list->setCurrentRow(0);
        d->findChild<QComboBox*>(QStringLiteral("match"))->setCurrentIndex(3);
        d->findChild<QLineEdit*>(QStringLiteral("pattern"))->setText(QStringLiteral("a{9,2}"));
        EXPECT_TRUE(d->findChild<QLabel*>(QStringLiteral("problem"))
                        ->text()
                        .startsWith(QStringLiteral("This rule cannot be kept: bad regular")));
        list->setCurrentRow(1);
        d->accept();
        stillOpen = d->isVisible() && list->currentRow() == 0;
        d->reject();
    });
    EXPECT_FALSE(FilterEditor_Open(nullptr, "Work"));
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0], "Rule 1 cannot be kept: bad regular expression: repetition range out "
                         "of order at 7.");
    EXPECT_EQ(action("From: x@ads.example\r\n\r\n"), IWF_ACT_DELETE);
}

// Every control takes the keyboard focus and has a name a screen reader
// can say: its own text, an accessible name, or a label that is its buddy.
TEST_F(FilterEditor, EveryControlIsReachableAndNamed) {
    FILTER_MODEL m;
    std::string why;
    ASSERT_EQ(m.Load(acc_->FilterHandle, &why), 0u);
    FilterEditorDialog d(nullptr, QStringLiteral("Filter Rules - Work"), std::move(m), nullptr, 0);
    d.show();
    QList<QWidget*> buddies;
    for (auto* label : d.findChildren<QLabel*>())
        if (label->buddy()) buddies << label->buddy();
    int controls = 0;
    for (auto* w : d.findChildren<QWidget*>()) {
        if (!w->isVisible() || w->focusPolicy() == Qt::NoFocus || qobject_cast<QLabel*>(w) ||
            w->parentWidget()->inherits("QComboBox"))
            continue;
        ++controls;
        EXPECT_TRUE(w->focusPolicy() & Qt::TabFocus) << w->metaObject()->className();
        const auto* button = qobject_cast<QAbstractButton*>(w);
        const bool named = !w->accessibleName().isEmpty() || buddies.contains(w) ||
                           (button && button->text().contains(QLatin1Char('&'))) ||
                           (button && !button->text().isEmpty() && w->inherits("QPushButton"));
        EXPECT_TRUE(named) << w->metaObject()->className() << " " << qPrintable(w->objectName());
    }
    EXPECT_GE(controls, 17); // list, 4 row buttons, 3 fields, case, 7 actions, OK, Cancel
    // Alt plus a letter reaches one control only.
    QStringList keys;
    auto take = [&keys](const QString& text) {
        const qsizetype amp = text.indexOf(QLatin1Char('&'));
        if (amp >= 0 && amp + 1 < text.size()) keys << text.mid(amp + 1, 1).toLower();
    };
    for (auto* b : d.findChildren<QAbstractButton*>())
        take(b->text());
    for (auto* l : d.findChildren<QLabel*>())
        take(l->text());
    EXPECT_EQ(keys.size(), QSet<QString>(keys.begin(), keys.end()).size())
        << qPrintable(keys.join(QLatin1Char(' ')));
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
// The manual opened from the windows: which page, from which installed copy,
// and F1 where a window has no help command of its own. The desktop's
// browser is stood in for by a URL handler for file: URLs.
#include "../support/temp_env.h"
#include "platform/paths.h"
#include "ui/help.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

class Browser : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> opened;
  public slots:
    void open(const QUrl& url) { opened.append(url); }
};

namespace {

void touch(const fs::path& p) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "<html></html>";
}

class HelpTest : public ::testing::Test {
  protected:
    void SetUp() override { QDesktopServices::setUrlHandler("file", &browser_, "open"); }
    void TearDown() override { QDesktopServices::unsetUrlHandler("file"); }
    Browser browser_;
};

TEST_F(HelpTest, DataFolderBesideTheProgramComesFirstAndNeedsTheIndex) {
    const fs::path root = iwtest::MakeTempDir("help");
    const std::string program = (root / "bin").string() + "/";
    fs::create_directories(root / "bin" / "inboxwarden-data" / "manual");
    // A folder without the manual's index is no manual.
    const std::string without = Help_DataDir(program);
    EXPECT_NE(without, program + "inboxwarden-data");
    touch(root / "bin" / IW_DATA_DIR_FROM_BIN / "manual" / "index.html");
    EXPECT_EQ(fs::weakly_canonical(Help_DataDir(program)),
              fs::weakly_canonical(root / "bin" / IW_DATA_DIR_FROM_BIN));
    touch(root / "bin" / "inboxwarden-data" / "manual" / "index.html");
    EXPECT_EQ(Help_DataDir(program), program + "inboxwarden-data");
}

TEST_F(HelpTest, F1OpensThePageOfTheWindowItIsPressedIn) {
    QWidget editor;
    editor.setObjectName(QStringLiteral("filterEditor"));
    // A sub-dialog without a page of its own is about the window it belongs to.
    QDialog question(&editor);
    auto* field = new QLineEdit(&question);
    (new QVBoxLayout(&question))->addWidget(field);
    Help_InstallKey();
    question.show();
    field->setFocus();
    QTest::keyClick(field, Qt::Key_F1);
    ASSERT_EQ(browser_.opened.size(), 1);
    EXPECT_TRUE(browser_.opened[0].isLocalFile());
    EXPECT_TRUE(browser_.opened[0].path().endsWith(QStringLiteral("/manual/filters.html")))
        << browser_.opened[0].toString().toStdString();
    EXPECT_TRUE(QFileInfo::exists(browser_.opened[0].toLocalFile()));

    // Shift+F1 is "What's This", not the manual.
    QTest::keyClick(field, Qt::Key_F1, Qt::ShiftModifier);
    EXPECT_EQ(browser_.opened.size(), 1);
}

TEST_F(HelpTest, AWindowWithAnF1CommandOfItsOwnOpensOnePageOnly) {
    QDialog settings;
    settings.setObjectName(QStringLiteral("settingsDialog"));
    auto* field = new QLineEdit(&settings);
    (new QVBoxLayout(&settings))->addWidget(field);
    int own = 0;
    auto* action = new QAction(&settings);
    action->setShortcut(Qt::Key_F1);
    settings.addAction(action);
    QObject::connect(action, &QAction::triggered, [&] {
        ++own;
        Help_Open(Help_PageFor(&settings), &settings);
    });
    Help_InstallKey();
    settings.show();
    QApplication::setActiveWindow(&settings);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_F1);
    EXPECT_EQ(own, 1);
    ASSERT_EQ(browser_.opened.size(), 1);
    EXPECT_TRUE(browser_.opened[0].path().endsWith(QStringLiteral("/manual/settings.html")));
}

TEST_F(HelpTest, EveryPageAWindowNamesIsInTheManual) {
    const std::string dir = Help_DataDir(Paths_ProgramDir());
    ASSERT_FALSE(dir.empty());
    for (const char* name :
         {"mailBoxWindow", "viewer", "composeWindow", "addressBook", "settingsDialog",
          "filterEditor", "profilesDialog", "savedFoldersWindow", "statusWindow", "aboutBox"}) {
        QWidget w;
        w.setObjectName(QLatin1String(name));
        const QString page = Help_PageFor(&w);
        EXPECT_TRUE(fs::exists(dir + "/manual/" + page.toStdString())) << name;
    }
    EXPECT_EQ(Help_PageFor(nullptr), QStringLiteral("index.html"));
}

TEST_F(HelpTest, TheAboutBoxLicenceShowsTheInstalledText) {
    QString shown;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box) return;
        if (auto* text = box->findChild<QPlainTextEdit*>(QStringLiteral("licenceText")))
            shown = text->toPlainText();
        box->close();
    });
    ASSERT_TRUE(Help_ShowLicence(nullptr));
    EXPECT_TRUE(shown.contains(QStringLiteral("GNU GENERAL PUBLIC LICENSE")));
    EXPECT_TRUE(shown.contains(QStringLiteral("Version 3")));
}

} // namespace

#include "help_test.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The message viewer window: the header fields, the text field, the
// attachment list, the menus, the toolbar and the Find box. The rules live
// in ViewerModel (viewer_model.h); this widget shows what the model holds,
// hands it the user's commands and shows the boxes it asks for, with the
// viewer as their parent.
//
// Each viewer is a top-level window without a parent. UI thread only.
#pragma once

#include "ui/viewer/viewer_model.h"

#include <QMainWindow>

#include <functional>
#include <memory>

class FindBox;
class APP_WINDOWS;
class QAction;
class QCheckBox;
class QDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QTextBrowser;
class QToolBar;
class QUrl;

// What the viewer hands to the desktop and asks of the user; tests put
// their own in. Empty members use the desktop's.
struct VIEWER_HOST {
    // The compose window, the about box and the help.
    APP_WINDOWS* windows = nullptr;
    // Opens a link or a file with the desktop's program for it.
    std::function<bool(const QUrl& url)> openUrl;
    // The save dialog: the chosen path, or "" when cancelled.
    std::function<QString(QWidget* parent, const QString& title, const QString& proposed,
                          const QString& extension)>
        askSavePath;
};

class ViewerWindow final : public QMainWindow {
  public:
    ViewerWindow(std::unique_ptr<ViewerModel> model, VIEWER_HOST host);
    ~ViewerWindow() override;

    // Carries out a command of the menus, the toolbar or a shortcut.
    void Command(int command);
    // The attachment list's commands on row `row`: open, save, save and open.
    void OpenRow(int row);
    void SaveRow(int row, bool thenOpen);
    // A box in front of the viewer; the answer.
    int ShowNotice(const VIEWER_NOTICE& notice) { return ask(notice); }

    // ---- For tests and screenshots ------------------------------------
    ViewerModel& Model() { return *model_; }
    QTextBrowser* TextField() const { return text_; }
    QListWidget* Attachments() const { return list_; }
    QToolBar* ToolBar() const { return toolBar_; }
    QAction* Action(int command) const;
    QDialog* FindBox() const;
    QLabel* HeaderValue(int field) const { return fields_[field]; } // 0 From .. 4 Subject

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QAction* addCommand(int command, const QString& text, const QKeySequence& key = {});
    void buildActions();
    void buildMenus();
    void buildToolBar();
    void buildCentre();
    void restorePlacement();
    void showText();
    void syncChecks();
    void showOutcome(const VIEWER_OUTCOME& outcome);
    int ask(const VIEWER_NOTICE& notice);
    void openLink(const QUrl& url);
    bool openFile(const std::string& path, const char* title);
    QString askSavePath(const QString& title, const std::string& proposed,
                        const std::string& extension);
    void saveMessage();
    void deleteMessage(bool now);
    void showFindBox();
    void find(bool forward);
    void textMenu(const QPoint& at);
    void listMenu(const QPoint& at);

    std::unique_ptr<ViewerModel> model_;
    VIEWER_HOST host_;
    QLabel* fields_[5] = {};
    QTextBrowser* text_ = nullptr;
    QLabel* listLabel_ = nullptr;
    QListWidget* list_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    ::FindBox* findBox_ = nullptr;
    std::string search_; // this viewer's search text and flag
    bool matchCase_ = false;
};

// How the viewers reach the desktop and the program's other windows (set
// by the program at start; tests set their own).
void Viewer_SetHost(VIEWER_HOST host);
// Every open viewer, oldest first (tests and screenshots).
std::vector<ViewerWindow*> Viewer_Windows();

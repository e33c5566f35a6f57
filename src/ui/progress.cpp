// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/progress.h"

#include "common/status.h"
#include "common/text.h"
#include "engine/mailsend.h"
#include "platform/log.h"
#include "ui/qtext.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace {

enum class Kind { Check, Download, Send, Delete };

// The record's done flag is polled as well as announced by the close call:
// the worker may finish (and post its close) at any moment relative to the
// box's creation, and a stale close from an earlier operation must not end
// a new box whose operation still runs.
constexpr int kPollMs = 100;

class ProgressDialog : public QDialog {
  public:
    ProgressDialog(Kind kind, QWidget* owner, bool hideAllowed,
                   std::shared_ptr<CHECK_COMPLETION> completion)
        : QDialog(owner), kind_(kind), completion_(std::move(completion)) {
        setWindowTitle(kind == Kind::Check
                           ? QCoreApplication::translate("Progress", "Check Mail Progress...")
                       : kind == Kind::Download
                           ? QCoreApplication::translate("Progress", "Downloading Message...")
                       : kind == Kind::Delete
                           ? QCoreApplication::translate("Progress", "Deleting Messages...")
                           : QCoreApplication::translate("Progress", "Send Mail Progress..."));
        setWindowIcon(QIcon(QStringLiteral(":/icons/tray-120-32.png")));
        account_ = new QLabel(QCoreApplication::translate("Progress", "Initializing..."), this);
        account_->setObjectName(QStringLiteral("text1709"));
        status_ = new QLabel(this);
        status_->setObjectName(QStringLiteral("text1711"));
        for (QLabel* l : {account_, status_}) {
            l->setMinimumWidth(320);
            l->setTextFormat(Qt::PlainText);
        }
        QFont bold = account_->font();
        bold.setBold(true);
        account_->setFont(bold);

        hide_ = new QPushButton(QCoreApplication::translate("Progress", "&Hide"), this);
        cancel_ = new QPushButton(QCoreApplication::translate("Progress", "&Cancel"), this);
        skip_ = new QPushButton(QCoreApplication::translate("Progress", "&Skip"), this);
        hide_->setObjectName(QStringLiteral("hide"));
        cancel_->setObjectName(QStringLiteral("cancel"));
        skip_->setObjectName(QStringLiteral("skip"));
        hide_->setEnabled(hideAllowed && kind == Kind::Check);
        skip_->setEnabled(kind == Kind::Check);
        if (kind != Kind::Check) {
            hide_->setVisible(kind == Kind::Send);
            skip_->setVisible(kind == Kind::Send);
        }
        if (kind == Kind::Delete)
            setAccessibleDescription(QCoreApplication::translate("Progress", "Delete now"));
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        buttons->addWidget(hide_);
        buttons->addWidget(cancel_);
        buttons->addWidget(skip_);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(account_);
        layout->addWidget(status_);
        layout->addSpacing(6);
        layout->addLayout(buttons);
        cancel_->setDefault(true);

        connect(hide_, &QPushButton::clicked, this, [this] { onHide(); });
        connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
        connect(skip_, &QPushButton::clicked, this, [this] { onSkip(); });
        if (completion_) {
            auto* poll = new QTimer(this);
            connect(poll, &QTimer::timeout, this, [this] { CloseIfDone(); });
            poll->start(kPollMs);
        }
    }

    // The delete box asks its operation instead of waiting for a record.
    void PollWith(std::function<bool()> done, std::function<std::string()> status) {
        pollDone_ = std::move(done);
        pollStatus_ = std::move(status);
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this] {
            if (const std::string t = pollStatus_ ? pollStatus_() : std::string(); !t.empty())
                SetStatus(QText_From(Text_CutUtf8(t, PROGRESS_TEXT_MAX)));
            CloseIfDone();
        });
        poll->start(kPollMs);
    }

    void SetAccount(const QString& t) { account_->setText(t); }
    void SetStatus(const QString& t) { status_->setText(t); }
    Kind kind() const { return kind_; }
    std::function<void()> onCancel;

    // The worker's close: ends a modal box only when its own operation is
    // done; the modeless window simply goes.
    void CloseIfDone() {
        if (completion_ && !completion_->IsDone()) return;
        if (pollDone_ && !pollDone_()) return;
        if (kind_ == Kind::Check) {
            deleteLater();
            hide();
        } else if (!closing_) {
            closing_ = true;
            if (kind_ == Kind::Download)
                DebugLog_Write("Progress Msg Box: User pressed OK (%d)\n", 1);
            done(1);
        }
    }

  protected:
    // Escape and Cancel: the check is cancelled; the window stays until the
    // worker closes it (the modal boxes end at once).
    void reject() override {
        switch (kind_) {
        case Kind::Check:
            DebugLog_Write("Progress Box: User pressed Cancel (%d)\n", 2);
            abort(ERR_CANCELLED);
            cancel_->setEnabled(false);
            skip_->setEnabled(false);
            return;
        case Kind::Download:
            DebugLog_Write("Progress Msg Box: User pressed Cancel (%d)\n", 2);
            abort(ERR_CANCELLED);
            break;
        case Kind::Send:
        case Kind::Delete:
            if (onCancel) onCancel();
            break;
        }
        closing_ = true;
        QDialog::done(2);
    }

    // The window's close button hides the check window like "Hide" does;
    // the check goes on.
    void closeEvent(QCloseEvent* e) override {
        if (kind_ == Kind::Check) {
            onHide();
            return;
        }
        QDialog::closeEvent(e);
    }

  private:
    static void abort(uint32_t code);
    void onHide();
    void onSkip() {
        DebugLog_Write("Progress Box: User pressed Skip (%d)\n", 3);
        abort(ERR_SKIPPED);
    }

    Kind kind_;
    std::shared_ptr<CHECK_COMPLETION> completion_;
    std::function<bool()> pollDone_;
    std::function<std::string()> pollStatus_;
    QLabel* account_;
    QLabel* status_;
    QPushButton* hide_;
    QPushButton* cancel_;
    QPushButton* skip_;
    bool closing_ = false;
};

// UI-thread state.
QPointer<ProgressDialog> g_window;
QPointer<ProgressDialog> g_deleteBox;
std::string g_account, g_status;
ProgressAbortFn g_abort;
// Where the modeless window was when hidden: the settings have no place for
// it, so it is kept for this run only.
QPoint g_hiddenAt;
bool g_hasHiddenAt = false;

void ProgressDialog::abort(uint32_t code) {
    if (g_abort) g_abort(code);
}

void ProgressDialog::onHide() {
    DebugLog_Write("Progress Box: User pressed OK (%d)\n", 1);
    g_hiddenAt = pos();
    g_hasHiddenAt = true;
    hide();
    deleteLater();
    g_window = nullptr;
}

// Runs `fn` on the UI thread: now when already there, else queued.
template <typename F> void _onUi(F fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    if (QThread::currentThread() == app->thread())
        fn();
    else
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void _placeAndFocus(QDialog* d) {
    d->show();
    d->raise();
    d->activateWindow();
}

} // namespace

void Progress_SetAbortHandler(ProgressAbortFn fn) {
    g_abort = std::move(fn);
}

void Progress_Start(bool hideAllowed) {
    _onUi([hideAllowed] {
        DebugLog_Write("Begin Progress_Start\n");
        if (g_window && g_window->kind() == Kind::Check) {
            _placeAndFocus(g_window);
            return;
        }
        DebugLog_Write("  Looks like we're not tied to a window\n");
        auto* d = new ProgressDialog(Kind::Check, nullptr, hideAllowed, nullptr);
        d->setAttribute(Qt::WA_DeleteOnClose);
        if (!g_account.empty()) d->SetAccount(QText_From(g_account));
        d->SetStatus(QText_From(g_status));
        if (g_hasHiddenAt) d->move(g_hiddenAt);
        g_window = d;
        _placeAndFocus(d);
    });
}

void Progress_SetAccount(std::string_view text) {
    _onUi([t = std::string(Text_CutUtf8(text, PROGRESS_TEXT_MAX))] {
        g_account = t;
        if (g_window) g_window->SetAccount(QText_From(t));
    });
}

void Progress_SetStatus(std::string_view text) {
    _onUi([t = std::string(Text_CutUtf8(text, PROGRESS_TEXT_MAX))] {
        g_status = t;
        if (g_window) g_window->SetStatus(QText_From(t));
    });
}

void Progress_Close() {
    _onUi([] {
        if (g_window) {
            ProgressDialog* d = g_window;
            if (d->kind() == Kind::Check) g_window = nullptr;
            d->CloseIfDone();
        }
        g_account.clear();
        g_status.clear();
    });
}

int Progress_StartMessage(QWidget* owner, std::shared_ptr<CHECK_COMPLETION> completion) {
    DebugLog_Write("Begin Progress_StartMessage\n");
    if (completion && completion->IsDone()) {
        // The download ended before the box could be shown.
        DebugLog_Write("  Call to DialogBox returned: OK (%d)\n", 1);
        return 1;
    }
    ProgressDialog box(Kind::Download, owner, false, completion);
    if (!g_account.empty()) box.SetAccount(QText_From(g_account));
    box.SetStatus(QText_From(g_status));
    QPointer<ProgressDialog> previous = g_window;
    g_window = &box;
    const int r = box.exec();
    g_window = previous;
    if (r == 1)
        DebugLog_Write("  Call to DialogBox returned: OK (%d)\n", r);
    else if (r == 2)
        DebugLog_Write("  Call to DialogBox returned: Cancel (%d)\n", r);
    else
        DebugLog_Write("  Call to DialogBox returned unexpected value: (%d)\n", r);
    return r == 1 ? 1 : 2;
}

int SendProgress_Run(QWidget* owner, std::string_view text,
                     std::shared_ptr<CHECK_COMPLETION> completion, std::function<void()> onCancel) {
    if (completion && completion->IsDone()) return 1;
    ProgressDialog box(Kind::Send, owner, false, completion);
    box.onCancel = std::move(onCancel);
    box.SetAccount(text.empty() ? QCoreApplication::translate("Progress", "Please wait...")
                                : QText_From(std::string(Text_CutUtf8(text, PROGRESS_TEXT_MAX))));
    box.SetStatus(QString());
    QPointer<ProgressDialog> previous = g_window;
    g_window = &box;
    const int r = box.exec();
    g_window = previous;
    return r == 1 ? 1 : 2;
}

int DeleteProgress_Run(QWidget* owner, std::string_view account, std::function<bool()> done,
                       std::function<std::string()> status, std::function<void()> onCancel) {
    if (done && done()) return 1;
    ProgressDialog box(Kind::Delete, owner, false, nullptr);
    box.onCancel = std::move(onCancel);
    box.SetAccount(QText_From(Text_CutUtf8(account, PROGRESS_TEXT_MAX)));
    box.SetStatus(QCoreApplication::translate("Progress", "Connecting..."));
    box.PollWith(std::move(done), std::move(status));
    QPointer<ProgressDialog> previous = g_deleteBox;
    g_deleteBox = &box;
    const int r = box.exec();
    g_deleteBox = previous;
    return r == 1 ? 1 : 2;
}

QWidget* DeleteProgress_Window() {
    return g_deleteBox;
}

void SendProgress_SetStatus(std::string_view text) {
    _onUi([t = std::string(Text_CutUtf8(text, PROGRESS_TEXT_MAX))] {
        if (g_window && g_window->kind() == Kind::Send) g_window->SetStatus(QText_From(t));
    });
}

void SendProgress_Close() {
    _onUi([] {
        if (g_window && g_window->kind() == Kind::Send) g_window->CloseIfDone();
    });
}

MAILSEND_UI SendProgress_Hooks() {
    MAILSEND_UI u;
    u.run = [](void* owner, const char* text, std::shared_ptr<CHECK_COMPLETION> completion) {
        // The engine aborts the session when this answers true.
        return SendProgress_Run(static_cast<QWidget*>(owner), text ? text : "",
                                std::move(completion), nullptr) != 1;
    };
    u.setStatus = [](const char* text, void*) { SendProgress_SetStatus(text ? text : ""); };
    u.close = [](void*) { SendProgress_Close(); };
    return u;
}

QWidget* Progress_Window() {
    return g_window;
}
std::string Progress_KeptAccount() {
    return g_account;
}
std::string Progress_KeptStatus() {
    return g_status;
}

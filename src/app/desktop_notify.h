// SPDX-License-Identifier: GPL-3.0-or-later
// New mail announced through the desktop's notification service
// (org.freedesktop.Notifications on the session bus) instead of the
// program's own dialog, with the dialog's four choices as the
// notification's actions. Every bus call is asynchronous with a short
// limit: a dead or slow bus costs a late dialog, never a frozen tray.
// UI thread only.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// ---- What the notification says (no bus needed) ------------------------------

struct NEW_MAIL_ITEM {
    QString sender, subject; // as stored: decoded, but otherwise hostile
};

struct NEW_MAIL_NEWS {
    int count = 0;                    // what the dialog would show
    QStringList accounts;             // with new or announced mail, in table order
    std::vector<NEW_MAIL_ITEM> items; // the newest few of them
};

// Lines of senders and subjects in a notification's body.
inline constexpr int kNotifyItems = 3;

// The accounts and newest messages the table holds for `count` new
// messages. Reads the boxes: only while the worker leaves them alone.
NEW_MAIL_NEWS DesktopNotify_Gather(int count);

// "N new message(s)" with the account names.
QString DesktopNotify_Summary(const NEW_MAIL_NEWS& news);
// One line per item ("Sender: Subject"), and how many more there are;
// escaped for the service's markup when it has the body-markup capability.
QString DesktopNotify_Body(const NEW_MAIL_NEWS& news, bool markup);
// The display name of a From line (else its address), cut to a length a
// notification can show, without control characters.
QString DesktopNotify_Sender(const QString& from);

// What the running service offers (GetCapabilities).
struct NOTIFY_SERVER {
    bool present = false;
    bool actions = false;
    bool bodyMarkup = false;
};
NOTIFY_SERVER DesktopNotify_Server(const QStringList& capabilities);

// Whether a notification stands in for the dialog: the option is on, no
// dialog is open already (it keeps being the one updated), the service
// runs, and it offers actions when the choices are needed.
bool DesktopNotify_Use(bool option, bool dialogOpen, const NOTIFY_SERVER& server,
                       bool actionsNeeded);

// ---- The service's client ----------------------------------------------------

// The actions' keys, as the service reports an invoked one.
inline constexpr const char* kNotifyActionDefault = "default";
inline constexpr const char* kNotifyActionResult = "result-window";
inline constexpr const char* kNotifyActionMailClient = "mail-client";
inline constexpr const char* kNotifyActionIgnore = "ignore";
inline constexpr const char* kNotifyActionRemindLater = "remind-later";

class DesktopNotifier final : public QObject {
    Q_OBJECT

  public:
    explicit DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);
    ~DesktopNotifier() override;

    // Runs for an invoked action, with its key (above).
    void SetActionHandler(std::function<void(const QString& key)> handler) {
        handler_ = std::move(handler);
    }

    // Shows the news, replacing the notification still open from an
    // earlier announcement. `fallback` runs instead when the service is
    // missing, fails, or lacks actions that are needed.
    void Announce(const NEW_MAIL_NEWS& news, bool actionsNeeded, std::function<void()> fallback);
    // Takes back the open notification, if any (and one still on its way).
    void Withdraw();

    // The open notification's id, 0 when none.
    uint32_t Shown() const { return shown_; }

  private Q_SLOTS:
    void onActionInvoked(uint id, const QString& key);
    void onClosed(uint id, uint reason);

  private:
    struct Pending {
        NEW_MAIL_NEWS news;
        bool actionsNeeded = false;
        std::function<void()> fallback;
    };
    void startNext();
    void notify(Pending p, const NOTIFY_SERVER& server);
    void finished(Pending& p, bool shown);

    QDBusConnection bus_;
    std::function<void(const QString&)> handler_;
    std::optional<Pending> next_;
    bool busy_ = false;
    uint32_t shown_ = 0;
    // Counts withdrawals, so a reply that arrives after one is taken back.
    uint64_t generation_ = 0;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/desktop_notify.h"

#include "platform/log.h"
#include "settings/account.h"
#include "settings/msgbox.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// Long enough for a service started on demand, short enough that the
// dialog still comes while the news is news.
constexpr int kCallLimitMs = 5000;
// Characters of a sender or subject; longer ones end in an ellipsis.
constexpr int kSenderChars = 40, kSubjectChars = 80;
// Account names in the summary before the rest is left out.
constexpr int kSummaryAccounts = 3;

// Control characters (a folded header's line ends among them) become
// spaces, and the text is cut.
QString clean(const QString& text, int limit) {
    QString out;
    out.reserve(std::min<qsizetype>(text.size(), limit + 1));
    for (QChar c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char(' ');
        out += c;
    }
    out = out.simplified();
    if (out.size() > limit) {
        int cut = limit - 1;
        if (out[cut - 1].isHighSurrogate()) --cut;
        out = out.left(cut) + QChar(0x2026);
    }
    return out;
}

} // namespace

NEW_MAIL_NEWS DesktopNotify_Gather(int count) {
    NEW_MAIL_NEWS news;
    news.count = count;
    for (int i = 0, n = Account_GetCount(); i < n; ++i) {
        ACCOUNT* a = Account_Get(nullptr, i);
        const MSGBOX_COUNTS* c = a && a->hMsgBox ? MsgBox_GetCounts(a->hMsgBox) : nullptr;
        if (!c || c->New + c->Notified <= 0) continue;
        news.accounts << QString::fromStdString(a->Name);
        // Newest last in a box: walk back, and only as far as needed, so a
        // box of many thousand old messages costs nothing here.
        for (int k = MsgBox_GetCount(a->hMsgBox) - 1;
             k >= 0 && int(news.items.size()) < kNotifyItems; --k) {
            const MSG_RECORD* r = MsgBox_GetMsg(a->hMsgBox, k);
            if (!r || (r->Status != MSG_NEW && r->Status != MSG_NOTIFIED)) continue;
            news.items.push_back(
                {QString::fromUtf8(r->From().c_str()), QString::fromUtf8(r->Subject().c_str())});
        }
    }
    return news;
}

QString DesktopNotify_Sender(const QString& from) {
    QString name = from;
    const qsizetype open = from.indexOf(QLatin1Char('<'));
    if (open >= 0) {
        name = from.left(open).trimmed();
        if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) &&
            name.endsWith(QLatin1Char('"')))
            name = name.mid(1, name.size() - 2);
        if (name.trimmed().isEmpty()) {
            const qsizetype close = from.indexOf(QLatin1Char('>'), open);
            name = from.mid(open + 1, close < 0 ? -1 : close - open - 1);
        }
    }
    return clean(name, kSenderChars);
}

QString DesktopNotify_Summary(const NEW_MAIL_NEWS& news) {
    QString s = QCoreApplication::translate("Tray", "%1 new message(s)").arg(news.count);
    if (news.accounts.isEmpty()) return s;
    QStringList names = news.accounts.mid(0, kSummaryAccounts);
    for (QString& n : names)
        n = clean(n, kSenderChars);
    if (news.accounts.size() > kSummaryAccounts) names << QString(QChar(0x2026));
    return s + QCoreApplication::translate("Tray", " in ") + names.join(QStringLiteral(", "));
}

QString DesktopNotify_Body(const NEW_MAIL_NEWS& news, bool markup) {
    // The service's markup is a small subset of XML: the five entities
    // keep a subject such as "<b>50% off</b> & more" the text it is.
    const auto text = [markup](const QString& s) { return markup ? s.toHtmlEscaped() : s; };
    QStringList lines;
    for (const NEW_MAIL_ITEM& item : news.items) {
        QString sender = DesktopNotify_Sender(item.sender);
        if (sender.isEmpty()) sender = QStringLiteral("(unknown sender)");
        QString subject = clean(item.subject, kSubjectChars);
        if (subject.isEmpty()) subject = QStringLiteral("(no subject)");
        lines << (markup ? QStringLiteral("<b>%1</b>: %2") : QStringLiteral("%1: %2"))
                     .arg(text(sender), text(subject));
    }
    const int more = news.count - int(news.items.size());
    if (!news.items.empty() && more > 0)
        lines << QCoreApplication::translate("Tray", "and %1 more").arg(more);
    return lines.join(QLatin1Char('\n'));
}

NOTIFY_SERVER DesktopNotify_Server(const QStringList& capabilities) {
    NOTIFY_SERVER s;
    s.present = true;
    s.actions = capabilities.contains(QStringLiteral("actions"));
    s.bodyMarkup = capabilities.contains(QStringLiteral("body-markup"));
    return s;
}

bool DesktopNotify_Use(bool option, bool dialogOpen, const NOTIFY_SERVER& server,
                       bool actionsNeeded) {
    return option && !dialogOpen && server.present && (server.actions || !actionsNeeded);
}

// ---- DesktopNotifier -----------------------------------------------------------

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), bus_(bus) {
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(onClosed(uint, uint)));
}

DesktopNotifier::~DesktopNotifier() {
    bus_.disconnect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                    SLOT(onActionInvoked(uint, QString)));
    bus_.disconnect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                    SLOT(onClosed(uint, uint)));
}

void DesktopNotifier::Announce(const NEW_MAIL_NEWS& news, bool actionsNeeded,
                               std::function<void()> fallback) {
    // Announcements that come while one is on its way collapse into the
    // latest, which then replaces what the first one showed.
    next_ = Pending{news, actionsNeeded, std::move(fallback)};
    if (!busy_) startNext();
}

void DesktopNotifier::startNext() {
    if (!next_) return;
    Pending p = std::move(*next_);
    next_.reset();
    if (!bus_.isConnected()) {
        DebugLog_Write("Desktop notification: no session bus\n");
        finished(p, false);
        return;
    }
    busy_ = true;
    const QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                            QStringLiteral("GetCapabilities"));
    auto* w = new QDBusPendingCallWatcher(bus_.asyncCall(ask, kCallLimitMs), this);
    connect(w, &QDBusPendingCallWatcher::finished, this,
            [this, w, p = std::move(p), gen = generation_]() mutable {
                w->deleteLater();
                QDBusPendingReply<QStringList> caps = *w;
                if (gen != generation_) { // withdrawn meanwhile
                    busy_ = false;
                    startNext();
                    return;
                }
                if (caps.isError()) {
                    DebugLog_Write("Desktop notification: no service (%s)\n",
                                   caps.error().name().toUtf8().constData());
                    finished(p, false);
                    return;
                }
                const NOTIFY_SERVER server = DesktopNotify_Server(caps.value());
                if (!DesktopNotify_Use(true, false, server, p.actionsNeeded)) {
                    DebugLog_Write("Desktop notification: the service offers no actions\n");
                    finished(p, false);
                    return;
                }
                notify(std::move(p), server);
            });
}

void DesktopNotifier::notify(Pending p, const NOTIFY_SERVER& server) {
    QStringList actions;
    if (server.actions)
        actions = {QString::fromLatin1(kNotifyActionDefault),
                   QCoreApplication::translate("Tray", "Open"),
                   QString::fromLatin1(kNotifyActionResult),
                   QCoreApplication::translate("Tray", "Result Window"),
                   QString::fromLatin1(kNotifyActionMailClient),
                   QCoreApplication::translate("Tray", "Mail Client"),
                   QString::fromLatin1(kNotifyActionIgnore),
                   QCoreApplication::translate("Tray", "Ignore"),
                   QString::fromLatin1(kNotifyActionRemindLater),
                   QCoreApplication::translate("Tray", "Remind Later")};
    QVariantMap hints;
    hints.insert(QStringLiteral("category"), QStringLiteral("email.arrived"));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("inboxwarden"));
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << QStringLiteral("Inboxwarden") << uint(shown_) << QStringLiteral("inboxwarden")
         << DesktopNotify_Summary(p.news) << DesktopNotify_Body(p.news, server.bodyMarkup)
         << actions << hints << int(-1);
    auto* w = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallLimitMs), this);
    connect(w, &QDBusPendingCallWatcher::finished, this,
            [this, w, p = std::move(p), gen = generation_]() mutable {
                w->deleteLater();
                QDBusPendingReply<uint> id = *w;
                if (id.isError()) {
                    DebugLog_Write("Desktop notification: not shown (%s)\n",
                                   id.error().name().toUtf8().constData());
                    finished(p, false);
                    return;
                }
                if (gen != generation_) {
                    // Taken back while on its way.
                    bus_.asyncCall(
                        QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       QStringLiteral("CloseNotification"))
                            << id.value(),
                        kCallLimitMs);
                    finished(p, true);
                    return;
                }
                shown_ = id.value();
                DebugLog_Write("Desktop notification %u: %d new\n", shown_, p.news.count);
                finished(p, true);
            });
}

void DesktopNotifier::finished(Pending& p, bool shown) {
    busy_ = false;
    if (!shown && p.fallback) p.fallback();
    startNext();
}

void DesktopNotifier::Withdraw() {
    ++generation_;
    next_.reset();
    if (!shown_) return;
    bus_.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                  QStringLiteral("CloseNotification"))
                       << uint(shown_),
                   kCallLimitMs);
    shown_ = 0;
}

void DesktopNotifier::onActionInvoked(uint id, const QString& key) {
    if (id == 0 || id != shown_) return;
    // The choice closes the announcement, as a button closes the dialog:
    // a later announcement is a new notification.
    shown_ = 0;
    DebugLog_Write("Desktop notification %u: %s\n", id, key.toUtf8().constData());
    if (handler_) handler_(key);
}

void DesktopNotifier::onClosed(uint id, uint) {
    if (id != 0 && id == shown_) shown_ = 0;
}

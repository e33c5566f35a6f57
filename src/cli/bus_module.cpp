// SPDX-License-Identifier: GPL-3.0-or-later
// The module's side of cli/bus_module.h: the session bus calls
// (src/app/org.inboxwarden.Inboxwarden.xml), with nothing of the command
// line's own code linked in; the command line prints what they return.
#include "cli/bus_module.h"
#include "common/leak_check.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

const QString kService = QStringLiteral("org.inboxwarden.Inboxwarden");
const QString kPath = QStringLiteral("/org/inboxwarden/Inboxwarden");
const QString kInterface = QStringLiteral("org.inboxwarden.Inboxwarden");
constexpr int kCallMs = 60000;
// Delete may wait for the program's password prompt and the server.
constexpr int kDeleteMs = 30 * 60 * 1000;

std::string s(const QString& q) {
    return q.toStdString();
}

std::string s(const QVariant& v) {
    return v.toString().toStdString();
}

QByteArrayList byteList(const std::vector<std::string>& ids) {
    QByteArrayList out;
    for (const std::string& id : ids)
        out.push_back(QByteArray(id.data(), qsizetype(id.size())));
    return out;
}

std::vector<std::string> bytes(const QByteArrayList& ids) {
    std::vector<std::string> out;
    for (const QByteArray& id : ids)
        out.emplace_back(id.constData(), size_t(id.size()));
    return out;
}

std::string canonical(const std::string& path) {
    std::error_code ec;
    const auto p = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    return ec ? path : p.string();
}

// The session bus. Signals and replies need an application object, made
// here before the connection. It is never destroyed: at exit it would go
// after Qt's own statics.
QDBusConnection sessionBus() {
    static int argc = 1;
    static char name[] = "inboxwarden-cli";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* const app = [] {
        // Qt's D-Bus thread is made with the first connection.
        const LeakCheckPause pause;
        auto* made = new QCoreApplication(argc, argv);
        (void)QDBusConnection::sessionBus();
        return made;
    }();
    (void)app;
    return QDBusConnection::sessionBus();
}

// The session bus, with the program of this store on it.
class Program {
  public:
    explicit Program(std::string* error) : bus_(sessionBus()), error_(error) {
        qDBusRegisterMetaType<QList<QVariantMap>>();
        qDBusRegisterMetaType<QByteArrayList>();
    }

    // false, with *error, when the program of this store is not there.
    bool Open(const CLIBUS_TARGET& target) {
        const std::string where = "Inboxwarden is running on this store but not on the session bus";
        if (!bus_.isConnected()) {
            *error_ = where + " (" + s(bus_.lastError().message()) + "); quit it first";
            return false;
        }
        QDBusMessage reply;
        // The name comes a moment after the lock at the program's start.
        for (int tries = 0;; ++tries) {
            reply = Call("Store", {}, kCallMs, false);
            if (reply.type() == QDBusMessage::ReplyMessage || tries >= 40) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
            *error_ = where + "; quit it first";
            return false;
        }
        // Another copy, on another store, may own the name.
        if (canonical(s(reply.arguments()[0].toString())) != canonical(target.registry)) {
            *error_ = "Inboxwarden is running on this store, and the one on the session bus runs "
                      "on another; quit it first";
            return false;
        }
        const std::string active = s(reply.arguments()[1].toString());
        if (!target.profile.empty() && canonical(target.profile) != canonical(active)) {
            *error_ = "Inboxwarden is running on this store with the profile " + active +
                      "; quit it first to use another one";
            return false;
        }
        return true;
    }

    // The reply; an error reply goes to *error when `say`. NotReady
    // (still loading) is tried again for a while.
    QDBusMessage Call(const char* method, const QVariantList& args, int timeoutMs = kCallMs,
                      bool say = true) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, kPath, kInterface, QLatin1String(method));
        call.setArguments(args);
        QDBusMessage reply;
        for (int tries = 0;; ++tries) {
            reply = bus_.call(call, QDBus::Block, timeoutMs);
            if (reply.type() != QDBusMessage::ErrorMessage ||
                !reply.errorName().endsWith(".NotReady") || tries >= 240)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        if (say && reply.type() == QDBusMessage::ErrorMessage) {
            *error_ = s(reply.errorMessage());
            if (reply.errorName().endsWith(".NoSuchAccount"))
                *error_ += "; 'inboxwarden-cli accounts' lists them";
        }
        return reply;
    }

    bool Connect(const char* signal, QObject* receiver, const char* slot) {
        return bus_.connect(kService, kPath, kInterface, QLatin1String(signal), receiver, slot);
    }

    // GetAccounts, or false (*error).
    bool Accounts(QList<QVariantMap>* out) {
        const QDBusMessage reply = Call("GetAccounts", {});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
        *out = qdbus_cast<QList<QVariantMap>>(reply.arguments()[0]);
        return true;
    }

  private:
    QDBusConnection bus_;
    std::string* error_;
};

} // namespace

// Collects the check's signals while the command waits.
class CliCheckListener : public QObject {
    Q_OBJECT
  public:
    QStringList checked; // in check order
    bool runEnded = false;

  public slots:
    void onAccountChecked(const QString& account, const QString&) {
        checked.removeAll(account);
        checked.push_back(account);
        runEnded = false;
    }
    void onCheckEnded(const QStringList&, bool) { runEnded = true; }
};

namespace {

bool accounts(const CLIBUS_TARGET& target, std::vector<CLI_ACCOUNT_LINE>* out, std::string* error) {
    Program p(error);
    QList<QVariantMap> list;
    if (!p.Open(target) || !p.Accounts(&list)) return false;
    for (const QVariantMap& m : list)
        out->push_back({s(m.value("Name")), s(m.value("ChkServer")), s(m.value("ChkLogin")),
                        m.value("ChkPort").toInt()});
    return true;
}

bool box(const CLIBUS_TARGET& target, const std::string& account, std::vector<CLI_BOX_ROW>* out,
         std::string* error) {
    Program p(error);
    if (!p.Open(target)) return false;
    const QDBusMessage reply = p.Call("ListMessages", {QString::fromStdString(account)});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    for (const QVariantMap& m : qdbus_cast<QList<QVariantMap>>(reply.arguments()[0])) {
        CLI_BOX_ROW r;
        const QByteArray id = m.value("MsgId").toByteArray();
        r.id.assign(id.constData(), size_t(id.size()));
        r.from = s(m.value("From"));
        r.replyTo = s(m.value("ReplyTo"));
        r.to = s(m.value("To"));
        r.subject = s(m.value("Subject"));
        r.sizeText = s(m.value("SizeText"));
        r.size = m.value("Size").toInt();
        r.hasAttach = m.value("HasAttach").toInt();
        r.date = s(m.value("Date"));
        r.status = m.value("Status").toInt();
        out->push_back(std::move(r));
    }
    return true;
}

bool check(const CLIBUS_TARGET& target, const std::string& what, std::vector<CLI_CHECKED>* out,
           std::string* error) {
    Program p(error);
    if (!p.Open(target)) return false;
    // Listening before the check is asked for: a fast one must not be missed.
    CliCheckListener listener;
    p.Connect("AccountChecked", &listener, SLOT(onAccountChecked(QString, QString)));
    p.Connect("CheckEnded", &listener, SLOT(onCheckEnded(QStringList, bool)));
    const QDBusMessage reply = p.Call("Check", {QString::fromStdString(what)});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    const QStringList queued = reply.arguments()[0].toStringList();

    // Done when each queued account was reported and its run has ended, or,
    // should a signal go missing, when none of them is queued or being
    // checked any more.
    QList<QVariantMap> accounts;
    for (;;) {
        QEventLoop loop;
        QTimer::singleShot(500, &loop, &QEventLoop::quit);
        loop.exec();
        bool all = listener.runEnded;
        for (const QString& name : queued)
            all = all && listener.checked.contains(name);
        if (!p.Accounts(&accounts)) return false;
        if (all) break;
        bool checking = false;
        for (const QVariantMap& m : accounts)
            if (queued.contains(m.value("Name").toString()) && m.value("Checking").toBool())
                checking = true;
        if (!checking) break;
    }

    for (const QString& name : listener.checked) {
        if (!queued.contains(name)) continue;
        for (const QVariantMap& m : accounts) {
            if (m.value("Name").toString() != name) continue;
            CLI_CHECKED c;
            c.name = s(name);
            c.result = s(m.value("LastResult"));
            c.checkResult = m.value("CheckResult").toInt();
            c.statusText = s(m.value("StatusText"));
            c.newCount = m.value("New").toInt();
            c.notified = m.value("Notified").toInt();
            c.unread = m.value("Unread").toInt();
            c.old = m.value("Old").toInt();
            c.quiet = m.value("Quiet").toInt();
            c.size = m.value("Size").toLongLong();
            out->push_back(std::move(c));
        }
    }
    return true;
}

bool erase(const CLIBUS_TARGET& target, const std::string& account,
           const std::vector<std::string>& ids, std::vector<std::string>* deleted,
           std::vector<std::string>* notes, std::string* error) {
    Program p(error);
    if (!p.Open(target)) return false;
    const QDBusMessage reply = p.Call(
        "Delete", {QString::fromStdString(account), QVariant::fromValue(byteList(ids))}, kDeleteMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) return false;
    for (const QString& n : reply.arguments()[1].toStringList())
        notes->push_back(s(n));
    *deleted = bytes(qdbus_cast<QByteArrayList>(reply.arguments()[0]));
    return true;
}

bool mark(const CLIBUS_TARGET& target, const std::string& account,
          const std::vector<std::string>& ids, const std::string& state,
          std::vector<std::string>* missing, std::string* error) {
    Program p(error);
    if (!p.Open(target)) return false;
    const QDBusMessage reply =
        p.Call("Mark", {QString::fromStdString(account), QVariant::fromValue(byteList(ids)),
                        QString::fromStdString(state)});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    *missing = bytes(qdbus_cast<QByteArrayList>(reply.arguments()[0]));
    return true;
}

const CLIBUS_MODULE kModule = {CLIBUS_VERSION, accounts, box, check, erase, mark};

} // namespace

extern "C" __attribute__((visibility("default"))) const CLIBUS_MODULE* IwCliBus_Module() {
    return &kModule;
}

#include "bus_module.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/bus_client.h"

#include "cli/terminal.h"
#include "platform/instance.h"
#include "platform/paths.h"
#include "settings/account.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdio>
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

// The session bus, with the program of this store on it.
class Program {
  public:
    Program() : bus_(QDBusConnection::sessionBus()) {
        qDBusRegisterMetaType<QList<QVariantMap>>();
        qDBusRegisterMetaType<QByteArrayList>();
    }

    // false, said on stderr, when the program of this store is not there.
    bool Open(const std::string& profile) {
        const char* where = "Inboxwarden is running on this store but not on the session bus";
        if (!bus_.isConnected()) {
            std::fprintf(stderr, "inboxwarden-cli: %s (%s); quit it first\n", where,
                         s(bus_.lastError().message()).c_str());
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
            std::fprintf(stderr, "inboxwarden-cli: %s; quit it first\n", where);
            return false;
        }
        // Another copy, on another store, may own the name.
        if (canonical(s(reply.arguments()[0].toString())) != canonical(Paths_RegistryFile())) {
            std::fprintf(stderr,
                         "inboxwarden-cli: Inboxwarden is running on this store, and the one "
                         "on the session bus runs on another; quit it first\n");
            return false;
        }
        const std::string active = s(reply.arguments()[1].toString());
        if (!profile.empty() && canonical(profile) != canonical(active)) {
            std::fprintf(stderr,
                         "inboxwarden-cli: Inboxwarden is running on this store with the profile "
                         "%s; quit it first to use another one\n",
                         Cli_Printable(active).c_str());
            return false;
        }
        return true;
    }

    // The reply; an error reply is said on stderr when `say`. NotReady
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
            if (reply.errorName().endsWith(".NoSuchAccount"))
                std::fprintf(stderr, "inboxwarden-cli: %s; 'inboxwarden-cli accounts' lists them\n",
                             Cli_Printable(s(reply.errorMessage())).c_str());
            else
                std::fprintf(stderr, "inboxwarden-cli: %s\n",
                             Cli_Printable(s(reply.errorMessage())).c_str());
        }
        return reply;
    }

    bool Connect(const char* signal, QObject* receiver, const char* slot) {
        return bus_.connect(kService, kPath, kInterface, QLatin1String(signal), receiver, slot);
    }

    // GetAccounts, or false (said).
    bool Accounts(QList<QVariantMap>* out) {
        const QDBusMessage reply = Call("GetAccounts", {});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
        *out = qdbus_cast<QList<QVariantMap>>(reply.arguments()[0]);
        return true;
    }

  private:
    QDBusConnection bus_;
};

// Signals and replies need an application object; it must exist before
// the bus connection is made. It is never destroyed: at exit it would go
// after Qt's own statics.
QCoreApplication* app() {
    static int argc = 1;
    static char name[] = "inboxwarden-cli";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* a = new QCoreApplication(argc, argv);
    return a;
}

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

bool CliBus_ProgramRuns() {
    const int lock = Instance_Acquire();
    if (lock == INSTANCE_ACQUIRED) Instance_Release();
    return lock == INSTANCE_HELD;
}

int CliBus_Accounts(const std::string& profile) {
    app();
    Program p;
    QList<QVariantMap> list;
    if (!p.Open(profile) || !p.Accounts(&list)) return 1;
    std::vector<CLI_ACCOUNT_LINE> lines;
    for (const QVariantMap& m : list)
        lines.push_back({s(m.value("Name")), s(m.value("ChkServer")), s(m.value("ChkLogin")),
                         m.value("ChkPort").toInt()});
    Cli_PrintAccounts(lines);
    return 0;
}

int CliBus_Box(const std::string& profile, const std::string& account, bool json) {
    app();
    Program p;
    if (!p.Open(profile)) return 1;
    const QDBusMessage reply = p.Call("ListMessages", {QString::fromStdString(account)});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return 1;
    std::vector<CLI_BOX_ROW> rows;
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
        rows.push_back(std::move(r));
    }
    Cli_PrintBox(rows, json);
    return 0;
}

int CliBus_Check(const std::string& profile, const std::string& what, bool json) {
    app();
    Program p;
    if (!p.Open(profile)) return 1;
    // Listening before the check is asked for: a fast one must not be missed.
    CliCheckListener listener;
    p.Connect("AccountChecked", &listener, SLOT(onAccountChecked(QString, QString)));
    p.Connect("CheckEnded", &listener, SLOT(onCheckEnded(QStringList, bool)));
    const QDBusMessage reply = p.Call("Check", {QString::fromStdString(what)});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return 1;
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
        if (!p.Accounts(&accounts)) return 1;
        if (all) break;
        bool checking = false;
        for (const QVariantMap& m : accounts)
            if (queued.contains(m.value("Name").toString()) && m.value("Checking").toBool())
                checking = true;
        if (!checking) break;
    }

    std::vector<CLI_CHECKED> out;
    int status = 0;
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
            if (c.checkResult == CR_TIMEOUT || c.checkResult == CR_FAILED) status = 1;
            out.push_back(std::move(c));
        }
    }
    Cli_PrintChecked(out, json);
    if (out.empty()) {
        std::fprintf(stderr, "inboxwarden-cli: no account was checked\n");
        status = 1;
    }
    return status;
}

int CliBus_Delete(const std::string& profile, const std::string& account,
                  const std::vector<std::string>& args, bool hex) {
    std::vector<std::string> ids;
    if (!Cli_IdsFromArgs(args, hex, &ids)) return 2;
    app();
    Program p;
    if (!p.Open(profile)) return 1;
    const QDBusMessage reply = p.Call(
        "Delete", {QString::fromStdString(account), QVariant::fromValue(byteList(ids))}, kDeleteMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) return 1;
    std::vector<std::string> notes;
    for (const QString& n : reply.arguments()[1].toStringList())
        notes.push_back(s(n));
    return Cli_PrintDeleted(args, hex, bytes(qdbus_cast<QByteArrayList>(reply.arguments()[0])),
                            notes);
}

int CliBus_Mark(const std::string& profile, const std::string& account,
                const std::vector<std::string>& args, bool hex, const std::string& state) {
    std::vector<std::string> ids;
    if (!Cli_IdsFromArgs(args, hex, &ids)) return 2;
    app();
    Program p;
    if (!p.Open(profile)) return 1;
    const QDBusMessage reply =
        p.Call("Mark", {QString::fromStdString(account), QVariant::fromValue(byteList(ids)),
                        QString::fromStdString(state)});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return 1;
    return Cli_PrintMarked(account, args, hex,
                           bytes(qdbus_cast<QByteArrayList>(reply.arguments()[0])));
}

#include "bus_client.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/bus_service.h"
#include "app/mainwnd.h"

#include "app/tray.h"
#include "bus_adaptor.h"
#include "common/status.h"
#include "common/text.h"
#include "engine/fastdelete.h"
#include "engine/mailcheck.h"
#include "engine/mark.h"
#include "engine/pop3acc.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "settings/account.h"
#include "settings/msgbox.h"
#include "settings/profile.h"
#include "settings/settings.h"
#include "ui/mailbox/mailbox_internal.h"
#include "ui/progress.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QTimer>

#include <algorithm>
#include <cstdint>

namespace {

constexpr const char* kService = "org.inboxwarden.Inboxwarden";
constexpr const char* kPath = "/org/inboxwarden/Inboxwarden";
constexpr const char* kNoSuchAccount = "org.inboxwarden.Inboxwarden.Error.NoSuchAccount";
constexpr const char* kBusy = "org.inboxwarden.Inboxwarden.Error.Busy";
constexpr const char* kNotReady = "org.inboxwarden.Inboxwarden.Error.NotReady";
constexpr const char* kFailed = "org.inboxwarden.Inboxwarden.Error.Failed";
constexpr const char* kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";

BusService* g_service = nullptr;

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// Texts from old stores may not be UTF-8; the bus carries only UTF-8 (read
// as the command line reads them, so both print the same).
QString utf8(std::string_view s) {
    return q(Text_IsValidUtf8(s) ? std::string(s) : Profile_FromCp1252(s));
}

std::vector<std::string> bytes(const QByteArrayList& ids) {
    std::vector<std::string> out;
    out.reserve(ids.size());
    for (const QByteArray& id : ids)
        out.emplace_back(id.constData(), size_t(id.size()));
    return out;
}

QByteArrayList byteList(const std::vector<std::string>& ids) {
    QByteArrayList out;
    for (const std::string& id : ids)
        out.push_back(QByteArray(id.data(), qsizetype(id.size())));
    return out;
}

std::string busyText(const std::string& account) {
    return "the box of '" + account + "' is being checked; try again when the check has ended";
}

} // namespace

BusService* BusService_Instance() {
    return g_service;
}

BusService::BusService(MainWnd* wnd) : wnd_(wnd) {
    qDBusRegisterMetaType<QList<QVariantMap>>();
    qDBusRegisterMetaType<QByteArrayList>();
    new BusAdaptor(this);
    g_service = this;
}

BusService::~BusService() {
    Stop();
    if (g_service == this) g_service = nullptr;
}

bool BusService::Start() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        DebugLog_Write("Bus: no session bus (%s); running without it\n",
                       bus.lastError().message().toUtf8().constData());
        return false;
    }
    if (!bus.registerObject(QLatin1String(kPath), this)) {
        DebugLog_Write("Bus: cannot register %s\n", kPath);
        return false;
    }
    const auto reply = bus.interface()->registerService(
        QLatin1String(kService), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        // Another copy, on another store, has it.
        DebugLog_Write("Bus: the name %s is taken; running without it\n", kService);
        bus.unregisterObject(QLatin1String(kPath));
        return false;
    }
    registered_ = true;
    DebugLog_Write("Bus: %s registered\n", kService);
    return true;
}

void BusService::Stop() {
    if (!registered_) return;
    registered_ = false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(QLatin1String(kService));
    bus.unregisterObject(QLatin1String(kPath));
}

void BusService::fail(const char* error, const std::string& text) {
    if (calledFromDBus()) sendErrorReply(QLatin1String(error), q(text));
}

ACCOUNT* BusService::account(const QString& name, int* index) {
    const std::string n = name.toStdString();
    ACCOUNT* acc = Account_Get(n.c_str(), -1);
    *index = mailbox::AccountIndex(acc);
    if (*index >= 0) return acc;
    fail(kNoSuchAccount, "there is no account '" + n + "'");
    return nullptr;
}

bool BusService::ready() {
    if (wnd_->Loaded()) return true;
    fail(kNotReady, "Inboxwarden is still loading its message boxes; try again");
    return false;
}

// ---- From the engine --------------------------------------------------------------

void BusService::OnAccountDone(const std::string& account, uint32_t result) {
    lastResult_[account] = Pop3Acc_ResultName(result);
    checked_.push_back(q(account));
    emit AccountChecked(q(account), QLatin1String(Pop3Acc_ResultName(result)));
}

void BusService::OnRunEnded(bool cancelled) {
    QStringList accounts;
    accounts.swap(checked_);
    emit CheckEnded(accounts, cancelled);
    QStringList withNew;
    qint64 count = 0;
    {
        mailbox::QueueHold hold;
        for (const QString& name : accounts) {
            ACCOUNT* acc = Account_Get(name.toStdString().c_str(), -1);
            const int index = mailbox::AccountIndex(acc);
            if (index < 0 || !acc->hMsgBox || mailbox::BeingChecked(hold, index)) continue;
            if (const int n = MsgBox_GetCounts(acc->hMsgBox)->New; n > 0) {
                if (!withNew.contains(name)) withNew.push_back(name);
                count += n;
            }
        }
    }
    if (!withNew.isEmpty()) emit NewMail(withNew, int(std::min<qint64>(count, INT32_MAX)));
}

void MainWnd::AccountDone(std::string_view accountName, uint32_t result) {
    QMetaObject::invokeMethod(
        this,
        [name = std::string(accountName), result] {
            if (g_service) g_service->OnAccountDone(name, result);
        },
        Qt::QueuedConnection);
}

void MainWnd::RunEnded(bool cancelled) {
    QMetaObject::invokeMethod(
        this,
        [cancelled] {
            if (g_service) g_service->OnRunEnded(cancelled);
        },
        Qt::QueuedConnection);
}

// ---- Methods ------------------------------------------------------------------------

QString BusService::Store(QString& profile) {
    profile = q(Settings_ActivePath());
    return q(Paths_RegistryFile());
}

QStringList BusService::Check(const QString& what) {
    if (!ready()) return {};
    if (wnd_->IsSettingsDialogOpen()) {
        fail(kBusy, "a settings dialog of Inboxwarden is open; close it first");
        return {};
    }
    const std::string name = what.toStdString();
    int one = -1;
    if (Text_EqualsNoCase(name, "All")) {
        wnd_->Command(CMD_CHECK_ALL);
    } else if (Text_EqualsNoCase(name, "AllInc")) {
        wnd_->Command(CMD_CHECK_INCLUDED);
    } else {
        if (!account(what, &one)) return {};
        wnd_->Command(CMD_ACCOUNT_BASE + one);
    }
    QStringList queued;
    mailbox::QueueHold hold;
    for (int i = 0; i < Account_GetCount(); ++i)
        if ((one < 0 || i == one) && (Queue_Contains(i) || MailCheck_IsBusy(i)))
            queued.push_back(q(Account_Get(nullptr, i)->Name));
    return queued;
}

void BusService::Cancel() {
    wnd_->Command(CMD_CANCEL_CHECK);
}

QList<QVariantMap> BusService::GetAccounts() {
    QList<QVariantMap> out;
    if (!ready()) return out;
    mailbox::QueueHold hold;
    for (int i = 0; i < Account_GetCount(); ++i) {
        const ACCOUNT* a = Account_Get(nullptr, i);
        if (!a) continue;
        QVariantMap m;
        m[QStringLiteral("Name")] = q(a->Name);
        m[QStringLiteral("ChkServer")] = q(a->ChkServer);
        m[QStringLiteral("ChkPort")] = int(a->ChkPort);
        m[QStringLiteral("ChkLogin")] = q(a->ChkLogin);
        m[QStringLiteral("CheckResult")] = int(a->CheckResult);
        m[QStringLiteral("StatusText")] = utf8(a->StatusText);
        const auto last = lastResult_.find(a->Name);
        m[QStringLiteral("LastResult")] = last == lastResult_.end() ? QString() : q(last->second);
        m[QStringLiteral("Checking")] = Queue_Contains(i) != 0 || MailCheck_IsBusy(i) != 0;
        // A box the worker is inside of is not read: its counters come
        // once its check is recorded.
        if (a->hMsgBox && !mailbox::BeingChecked(hold, i)) {
            const MSGBOX_COUNTS* c = MsgBox_GetCounts(a->hMsgBox);
            m[QStringLiteral("New")] = int(c->New);
            m[QStringLiteral("Notified")] = int(c->Notified);
            m[QStringLiteral("Unread")] = int(c->Unread);
            m[QStringLiteral("Old")] = int(c->Old);
            m[QStringLiteral("Quiet")] = int(c->Quiet);
            m[QStringLiteral("Size")] = qlonglong(c->Size);
        }
        out.push_back(std::move(m));
    }
    return out;
}

QList<QVariantMap> BusService::ListMessages(const QString& account) {
    QList<QVariantMap> out;
    if (!ready()) return out;
    int index = -1;
    ACCOUNT* acc = this->account(account, &index);
    if (!acc) return out;
    mailbox::QueueHold hold;
    if (mailbox::BeingChecked(hold, index)) {
        fail(kBusy, busyText(acc->Name));
        return out;
    }
    MSGBOX* box = acc->hMsgBox;
    const int n = MsgBox_GetCount(box);
    out.reserve(n);
    for (int i = 0; i < n; ++i) {
        const MSG_RECORD* r = MsgBox_GetMsg(box, i);
        const std::string_view id = r->MsgId();
        QVariantMap m;
        m[QStringLiteral("MsgId")] = QByteArray(id.data(), qsizetype(id.size()));
        m[QStringLiteral("From")] = utf8(r->From());
        m[QStringLiteral("ReplyTo")] = utf8(r->ReplyTo());
        m[QStringLiteral("To")] = utf8(r->To());
        m[QStringLiteral("Subject")] = utf8(r->Subject());
        m[QStringLiteral("SizeText")] = utf8(r->SizeText());
        m[QStringLiteral("Size")] = int(r->Size);
        m[QStringLiteral("HasAttach")] = int(r->HasAttach);
        m[QStringLiteral("Date")] = q(DateTime_Text(r->Date));
        m[QStringLiteral("Status")] = int(r->Status);
        out.push_back(std::move(m));
    }
    return out;
}

QByteArrayList BusService::Mark(const QString& account, const QByteArrayList& ids,
                                const QString& state) {
    if (!ready()) return {};
    int32_t status = 0;
    if (!Mark_ParseState(state.toStdString(), &status)) {
        fail(kInvalidArgs,
             "the state is 'read', 'unread' or 'delete', not '" + state.toStdString() + "'");
        return {};
    }
    if (ids.isEmpty()) {
        fail(kInvalidArgs, "no message ids were given");
        return {};
    }
    int index = -1;
    ACCOUNT* acc = this->account(account, &index);
    if (!acc) return {};
    std::vector<std::string> missing;
    std::string failure;
    {
        mailbox::QueueHold hold;
        if (mailbox::BoxBusy(hold, index) || Text_EqualsNoCase(deleting_, acc->Name)) {
            fail(kBusy, busyText(acc->Name));
            return {};
        }
        missing = Mark_Messages(acc, bytes(ids), status, &failure);
    }
    if (APP_WINDOWS* w = MainWnd_Windows()) w->MailBoxRefresh(acc);
    if (!MailCheck_IsRunning()) wnd_->UpdateSummary(nullptr, nullptr, nullptr);
    if (!failure.empty()) {
        fail(kFailed, failure);
        return {};
    }
    return byteList(missing);
}

QByteArrayList BusService::Delete(const QString& account, const QByteArrayList& ids,
                                  QStringList& notes) {
    if (!ready()) return {};
    if (ids.isEmpty()) {
        fail(kInvalidArgs, "no message ids were given");
        return {};
    }
    const std::string name = account.toStdString();
    int index = -1;
    ACCOUNT* acc = this->account(account, &index);
    if (!acc) return {};
    {
        mailbox::QueueHold hold;
        if (!deleting_.empty()) {
            fail(kBusy, "a delete on the server of '" + deleting_ + "' runs; try again");
            return {};
        }
        if (mailbox::BoxBusy(hold, index)) {
            fail(kBusy, busyText(acc->Name));
            return {};
        }
    }
    // The session runs behind the delete box, whose loop keeps the program
    // (and this bus) answering; a second delete meanwhile is refused above.
    deleting_ = acc->Name;
    FASTDELETE_OPTIONS options;
    options.showBoxes = false; // the caller gets the texts
    options.wait = [accName = acc->Name](FASTDELETE_JOB& job) {
        DeleteProgress_Run(
            nullptr, accName, [&job] { return job.IsDone(); }, [&job] { return job.Status(); },
            [&job] { job.Cancel(); });
    };
    FASTPOP3_RESULT result;
    const uint32_t rc = FastDelete_Run(acc, bytes(ids), nullptr, options, &result);
    deleting_.clear();

    // The account may be gone once the loop above has run.
    acc = Account_Get(name.c_str(), -1);
    if (acc) {
        if (APP_WINDOWS* w = MainWnd_Windows()) w->MailBoxRefresh(acc);
        FASTPOP3_SESSION said;
        said.authType = acc->ChkAuthType;
        for (const FASTPOP3_BOX& box : FastPOP3_Boxes(said, result))
            notes.push_back(utf8(box.text));
    }
    if (!MailCheck_IsRunning()) wnd_->UpdateSummary(nullptr, nullptr, nullptr);
    if (rc == ERR_EXISTS) {
        fail(kBusy, busyText(name));
        return {};
    }
    if (rc == ERR_NOT_READY) {
        fail(kFailed, "no password for " + name);
        return {};
    }
    if (rc != 0 && result.errorText.empty() && result.deleted.empty()) {
        fail(kFailed, "cannot delete on the server of " + name + ": " + Status_Name(rc));
        return {};
    }
    return byteList(result.deleted);
}

// The windows open once the reply has gone: a dialog's loop must not hold it.
void BusService::ShowMailBox() {
    if (!ready()) return;
    QTimer::singleShot(0, wnd_, [w = wnd_] { w->Command(CMD_SHOW_MAILBOXES); });
}

void BusService::Compose(const QString& account) {
    if (!ready()) return;
    const std::string name = account.toStdString();
    if (name.empty()) {
        QTimer::singleShot(0, wnd_, [w = wnd_] { w->Command(CMD_COMPOSE); });
        return;
    }
    int index;
    const ACCOUNT* acc = this->account(account, &index);
    if (!acc) return;
    QTimer::singleShot(0, wnd_, [accName = acc->Name] {
        if (APP_WINDOWS* w = MainWnd_Windows()) {
            COMPOSE_REQUEST request;
            request.account = accName;
            w->OpenCompose(request);
        }
    });
}

void BusService::ShowSettings() {
    if (!ready()) return;
    QTimer::singleShot(0, wnd_, [w = wnd_] { w->Command(CMD_SETTINGS); });
}

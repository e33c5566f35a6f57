// SPDX-License-Identifier: GPL-3.0-or-later
// The running program on the session bus (org.inboxwarden.Inboxwarden.xml):
// scripts, panel applets and inboxwarden-cli ask for checks, read the boxes
// and mark their messages here while the program owns the store. Calls that
// change a box keep the MailBox window's rules: nothing while the worker may
// touch that box. The adaptor generated from the XML calls the public slots
// on the UI thread.
#pragma once

#include <QByteArrayList>
#include <QDBusContext>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <cstdint>
#include <map>
#include <string>

class MainWnd;
struct ACCOUNT;

class BusService final : public QObject, protected QDBusContext {
    Q_OBJECT
  public:
    explicit BusService(MainWnd* wnd);
    ~BusService() override;

    // Takes the bus name (only the copy that holds the store calls this).
    // false, logged, without a session bus or when another copy on another
    // store has the name: the program then runs without it.
    bool Start();
    // Gives the name back (shutdown): from here on callers see no program.
    void Stop();

    // From the engine (MainWnd, on the UI thread).
    void OnAccountDone(const std::string& account, uint32_t result);
    void OnRunEnded(bool cancelled);

  public slots:
    QString Store(QString& profile);
    QStringList Check(const QString& what);
    void Cancel();
    QList<QVariantMap> GetAccounts();
    QList<QVariantMap> ListMessages(const QString& account);
    QByteArrayList Mark(const QString& account, const QByteArrayList& ids, const QString& state);
    QByteArrayList Delete(const QString& account, const QByteArrayList& ids, QStringList& notes);
    void ShowMailBox();
    void Compose(const QString& account);
    void ShowSettings();

  signals:
    void AccountChecked(const QString& account, const QString& result);
    void CheckEnded(const QStringList& accounts, bool cancelled);
    void NewMail(const QStringList& accounts, int count);

  private:
    bool ready();
    void fail(const char* error, const std::string& text);
    // The named account and its row in the table, or null after failing the
    // call with NoSuchAccount.
    ACCOUNT* account(const QString& name, int* index);

    MainWnd* wnd_;
    bool registered_ = false;
    // The accounts checked in the current run, in order, and each account's
    // last result in this run of the program (by name).
    QStringList checked_;
    std::map<std::string, std::string> lastResult_;
    // The account a Delete is running on ("" none): it runs an event loop.
    std::string deleting_;
};

// The service of this run, or null (no bus, or not started).
BusService* BusService_Instance();

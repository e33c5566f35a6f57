// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/handover.h"

#include "platform/instance.h"
#include "platform/log.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

namespace {
QLocalServer* g_server = nullptr;
}

bool Handover_Listen(std::function<void(const std::string&)> onRequest) {
    Handover_Close();
    const QString path = QString::fromStdString(Instance_SocketPath());
    // We hold the instance lock, so a socket file left there is a dead copy's.
    QLocalServer::removeServer(path);
    g_server = new QLocalServer;
    g_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!g_server->listen(path)) {
        DebugLog_Write("Hand-over: cannot listen on %s (%s)\n", qPrintable(path),
                       qPrintable(g_server->errorString()));
        delete g_server;
        g_server = nullptr;
        return false;
    }
    QObject::connect(g_server, &QLocalServer::newConnection, g_server, [onRequest] {
        while (QLocalSocket* s = g_server->nextPendingConnection()) {
            QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            QObject::connect(s, &QLocalSocket::readyRead, s, [s, onRequest] {
                if (!s->canReadLine()) return;
                const std::string request = s->readLine(64).trimmed().toStdString();
                DebugLog_Write("Hand-over: request \"%s\"\n", request.c_str());
                s->write("ok\n");
                s->flush();
                s->disconnectFromServer();
                if (onRequest) onRequest(request);
            });
        }
    });
    return true;
}

void Handover_Close() {
    delete g_server;
    g_server = nullptr;
}

bool Handover_Send(const std::string& request, int timeoutMs) {
    const QString path = QString::fromStdString(Instance_SocketPath());
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        QLocalSocket s;
        s.connectToServer(path);
        if (s.waitForConnected(1000)) {
            s.write((request + "\n").c_str());
            if (s.waitForBytesWritten(2000)) {
                while (!s.canReadLine() &&
                       s.waitForReadyRead(int(std::max<qint64>(100, timeoutMs - t.elapsed())))) {
                }
                if (s.canReadLine() && s.readLine().trimmed() == "ok") return true;
            }
            return false;
        }
        QThread::msleep(100);
    }
    return false;
}

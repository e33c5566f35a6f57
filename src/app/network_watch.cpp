// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/network_watch.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kPath = QStringLiteral("/org/freedesktop/NetworkManager");

} // namespace

NETWORK_STATE NetworkState_FromNm(uint32_t nmState) {
    switch (nmState) {
    case 10: // asleep: networking is switched off
    case 20: // disconnected
    case 30: // disconnecting
        return NETWORK_STATE::Disconnected;
    case 50: // connected, local only
    case 60: // connected, site only
        return NETWORK_STATE::Limited;
    case 70:
        return NETWORK_STATE::Online;
    default: // 0 unknown, 40 connecting, or a number of a later version
        return NETWORK_STATE::Unknown;
    }
}

NetworkWatch::NetworkWatch(const QDBusConnection& bus, QObject* parent) : QObject(parent) {
    if (!bus.isConnected()) return;
    QDBusConnection(bus).connect(kService, kPath, kService, QStringLiteral("StateChanged"), this,
                                 SLOT(onStateChanged(uint)));
    // Asked without waiting for the answer: a bus that starts NetworkManager
    // on demand, or a busy one, must not hold up the program's start.
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kService << QStringLiteral("State");
    auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(get, 10000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<QDBusVariant> reply = *w;
        // What held at start is no change: only later ones are announced.
        if (!reply.isError() && !announced_)
            state_ = NetworkState_FromNm(reply.value().variant().toUInt());
        w->deleteLater();
    });
}

void NetworkWatch::onStateChanged(uint nmState) {
    announced_ = true;
    const NETWORK_STATE now = NetworkState_FromNm(nmState);
    if (state_.exchange(now) != now) emit Changed(now);
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Whether the machine has a network, as NetworkManager tells on the system
// bus: its state when asked at start and every change it announces. Where
// there is no NetworkManager, or no system bus, the state stays unknown,
// which counts as present: a check is never held back for want of an answer.
#pragma once

#include <QDBusConnection>
#include <QObject>

#include <atomic>
#include <cstdint>

enum class NETWORK_STATE {
    Unknown,      // no answer, or NetworkManager itself does not know yet
    Disconnected, // no connection, one being taken down, or networking off
    Limited,      // a local or site connection without the Internet
    Online,
};

// NetworkManager's NMState number as a state.
NETWORK_STATE NetworkState_FromNm(uint32_t nmState);

class NetworkWatch : public QObject {
    Q_OBJECT
  public:
    // `bus` is normally QDBusConnection::systemBus().
    explicit NetworkWatch(const QDBusConnection& bus, QObject* parent = nullptr);

    // Any thread.
    NETWORK_STATE State() const { return state_.load(); }

  signals:
    // A change NetworkManager announced (not the state found at start).
    void Changed(NETWORK_STATE state);

  private slots:
    void onStateChanged(uint nmState);

  private:
    std::atomic<NETWORK_STATE> state_{NETWORK_STATE::Unknown};
    bool announced_ = false; // a change arrived: the answer to the first question is older
};

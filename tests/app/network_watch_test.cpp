// SPDX-License-Identifier: GPL-3.0-or-later
// Whether there is a network, as NetworkManager tells it: its state numbers,
// and a stand-in for the service on a private bus (NetworkManager itself
// needs a system bus and the machine's devices): the state found at start,
// the changes it announces, and no service or no bus at all.
#include "../support/temp_env.h"
#include "app/network_watch.h"
#include "desktop.h"

#include <QDBusConnectionInterface>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>
#include <memory>

namespace {

TEST(NetworkState, NetworkManagerStatesAndNumbersItMayAddLater) {
    EXPECT_EQ(NetworkState_FromNm(0), NETWORK_STATE::Unknown);
    EXPECT_EQ(NetworkState_FromNm(40), NETWORK_STATE::Unknown) << "connecting";
    EXPECT_EQ(NetworkState_FromNm(12345), NETWORK_STATE::Unknown);
    for (uint32_t off : {10u, 20u, 30u})
        EXPECT_EQ(NetworkState_FromNm(off), NETWORK_STATE::Disconnected) << off;
    EXPECT_EQ(NetworkState_FromNm(50), NETWORK_STATE::Limited);
    EXPECT_EQ(NetworkState_FromNm(60), NETWORK_STATE::Limited);
    EXPECT_EQ(NetworkState_FromNm(70), NETWORK_STATE::Online);
}

// The service's State property and StateChanged signal, as NetworkManager
// has them.
class FakeNetworkManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager")
    Q_PROPERTY(uint State READ state)
  public:
    uint state() const { return state_; }
    void Set(uint s) {
        state_ = s;
        emit StateChanged(s);
    }
  signals:
    void StateChanged(uint state);

  private:
    uint state_ = 70;
};

class NetworkOnBus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!iwtest::OnPath("dbus-daemon")) GTEST_SKIP() << "needs dbus-daemon";
        bus_ = std::make_unique<iwtest::PrivateBus>(iwtest::MakeTempDir("network"));
        ASSERT_FALSE(bus_->address.empty()) << "no bus";
        const QString address = QString::fromStdString(bus_->address);
        service_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, "network-service"));
        client_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, "network-client"));
        ASSERT_TRUE(service_->isConnected() && client_->isConnected());
    }
    void TearDown() override {
        service_.reset();
        client_.reset();
        QDBusConnection::disconnectFromBus("network-service");
        QDBusConnection::disconnectFromBus("network-client");
        bus_.reset();
    }
    void offer(uint state) {
        nm_.Set(state);
        ASSERT_TRUE(service_->registerObject("/org/freedesktop/NetworkManager", &nm_,
                                             QDBusConnection::ExportAllProperties |
                                                 QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(service_->registerService("org.freedesktop.NetworkManager"));
    }

    FakeNetworkManager nm_;
    std::unique_ptr<iwtest::PrivateBus> bus_;
    std::unique_ptr<QDBusConnection> service_, client_;
};

TEST_F(NetworkOnBus, TheStateAtStartIsNoChangeAndLaterOnesAreAnnounced) {
    offer(20);
    NetworkWatch watch(*client_);
    QSignalSpy changes(&watch, &NetworkWatch::Changed);
    EXPECT_TRUE(QTest::qWaitFor([&] { return watch.State() == NETWORK_STATE::Disconnected; }));
    EXPECT_EQ(changes.count(), 0) << "found at start: a network coming back is not that";

    nm_.Set(70);
    ASSERT_TRUE(QTest::qWaitFor([&] { return changes.count() == 1; }));
    EXPECT_EQ(watch.State(), NETWORK_STATE::Online);
    EXPECT_EQ(changes.at(0).at(0).value<NETWORK_STATE>(), NETWORK_STATE::Online);
    nm_.Set(70);
    nm_.Set(30);
    ASSERT_TRUE(QTest::qWaitFor([&] { return changes.count() == 2; }));
    EXPECT_EQ(watch.State(), NETWORK_STATE::Disconnected) << "the same state twice is no change";
}

TEST_F(NetworkOnBus, WithoutTheServiceOrABusTheStateStaysUnknown) {
    NetworkWatch watch(*client_);
    QTest::qWait(200);
    EXPECT_EQ(watch.State(), NETWORK_STATE::Unknown);
    NetworkWatch none{QDBusConnection("not-connected")};
    EXPECT_EQ(none.State(), NETWORK_STATE::Unknown);
}

} // namespace

#include "network_watch_test.moc"

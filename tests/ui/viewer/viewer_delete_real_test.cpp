// SPDX-License-Identifier: GPL-3.0-or-later
// "Delete now" from a viewer against the real POP3 server: the viewer's own
// message leaves the server and the box, while other viewers stay open on
// theirs and nothing else is deleted.
#include "../../engine/check_harness.h"
#include "../mailbox/window_harness.h"
#include "support/real_peers.h"
#include "ui/viewer/viewer.h"
#include "ui/viewer/viewer_window.h"

#include <QAction>
#include <QPointer>

namespace {

class RealViewerDeleteNow : public iwtest::RealPeersTest, protected iwtest::WindowHarness {
  protected:
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        Start();
    }
    void TearDown() override {
        if (!root_) return;
        Viewer_CloseAll();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Stop();
    }
    std::vector<std::string> serverIds(ACCOUNT* acc) {
        ACCOUNT probe = *acc;
        probe.Name = "Probe";
        probe.hMsgBox = nullptr;
        const auto out = iwtest::RunCheck(probe);
        EXPECT_EQ(out.rc, 0u) << out.error;
        std::vector<std::string> ids = iwtest::BoxIds(probe);
        MsgBox_Destroy(&probe.hMsgBox);
        std::sort(ids.begin(), ids.end());
        return ids;
    }
    ViewerWindow* view(ACCOUNT* acc, const std::string& id) {
        const MSG_RECORD* r = MsgBox_FindMsg(acc->hMsgBox, id.c_str(), nullptr);
        EXPECT_TRUE(r) << id;
        return static_cast<ViewerWindow*>(
            Viewer_Open(acc->Name, "From: a@b.org\r\nSubject: " + id + "\r\n\r\nbody\r\n", r));
    }
};

TEST_F(RealViewerDeleteNow, EachViewerDeletesItsOwnMessage) {
    using iwtest::SeededUidl;
    ACCOUNT* acc = account("Real", {});
    acc->ChkServer = "127.0.0.1";
    acc->ChkPort = peers().pop3_port();
    acc->ChkLogin = peers().user().name;
    acc->ChkPswd = peers().user().password;
    acc->ChkTmout = 10;
    peers().SeedMaildir(acc->ChkLogin, 3);
    ASSERT_EQ(iwtest::RunCheck(*acc).rc, 0u);

    // Three viewers; the middle one deletes, the others keep theirs.
    ViewerWindow* first = view(acc, SeededUidl(1));
    QPointer<ViewerWindow> second = view(acc, SeededUidl(2));
    ViewerWindow* third = view(acc, SeededUidl(3));
    second->Action(VC_DELETE_NOW)->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(second.isNull());
    EXPECT_TRUE(boxes_.empty()) << boxes_.front();
    EXPECT_EQ(serverIds(acc), (std::vector<std::string>{SeededUidl(1), SeededUidl(3)}));
    EXPECT_EQ(iwtest::BoxIds(*acc).size(), 2u);
    EXPECT_FALSE(MsgBox_FindMsg(acc->hMsgBox, SeededUidl(2).c_str(), nullptr));

    // The oldest viewer still deletes its own message, not the latest one's.
    first->Action(VC_DELETE_NOW)->trigger();
    EXPECT_EQ(serverIds(acc), std::vector<std::string>{SeededUidl(3)});
    EXPECT_TRUE(third->isVisible());
}

} // namespace

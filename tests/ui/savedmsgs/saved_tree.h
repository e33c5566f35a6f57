// SPDX-License-Identifier: GPL-3.0-or-later
// What the saved messages tests share: the global settings on a private
// store, with the download and quarantine roots pointed at temporary
// folders, and saved files written as the writer names them.
#pragma once

#include "../../support/temp_env.h"
#include "engine/savedmsg.h"
#include "platform/registry.h"
#include "settings/globaldata.h"
#include "settings/reg.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include <sched.h>
#include <sys/mount.h>

namespace iwtest {

// Makes the deletion of a file fail while it lives, for root too: the file
// is bound onto itself in a mount namespace of this process, and a mount
// point cannot be unlinked. ok() is false (why() says) where mounting is not
// allowed.
class Pin {
  public:
    explicit Pin(std::string path) : path_(std::move(path)) {
        static const int unshared =
            unshare(CLONE_NEWNS) == 0 &&
                    mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                ? 0
                : errno;
        if (unshared != 0)
            why_ = std::string("no mount namespace of its own: ") + std::strerror(unshared);
        else if (mount(path_.c_str(), path_.c_str(), nullptr, MS_BIND, nullptr) != 0)
            why_ = std::string("cannot bind a file: ") + std::strerror(errno);
    }
    ~Pin() {
        if (ok()) umount2(path_.c_str(), MNT_DETACH);
    }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;
    bool ok() const { return why_.empty(); }
    const std::string& why() const { return why_; }

  private:
    std::string path_, why_;
};

class SavedTree {
  protected:
    void Start() {
        QLocale::setDefault(QLocale::c());
        const std::string dir = MakeTempDir("savedmsgs");
        ASSERT_EQ(RegStore_Open(dir + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&reg_, REG_ROOT_PATH), 0u);
        ASSERT_EQ(GlobalData_Load(reg_), 0u);
        root_ = dir + "/saved";
        spam_ = dir + "/spam";
        std::filesystem::create_directories(root_);
        std::filesystem::create_directories(spam_);
        GlobalData_GetRecord()->DwnRtDir = root_;
        GlobalData_GetRecord()->SpamRtDir = spam_;
    }
    void Stop() {
        SavedMsg_Close();
        GlobalData_Free(0);
        Reg_Close(reg_);
    }

    // A saved file `name` of folder `folder` under `root` holding `text`.
    static void save(const std::string& root, const std::string& folder, const std::string& name,
                     const std::string& text = "Subject: x\r\n\r\nbody\r\n") {
        std::filesystem::create_directories(root + "/" + folder);
        WriteFile(root + "/" + folder + "/" + name, text);
    }
    REGKEY* reg_ = nullptr;
    std::string root_, spam_;
};

} // namespace iwtest

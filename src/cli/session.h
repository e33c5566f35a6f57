// SPDX-License-Identifier: GPL-3.0-or-later
// The settings of one command-line command: the store's lock (the running
// program owns the working tree, and a second lifecycle on it would replace
// its live records), the settings loaded from the profile, and at the end
// either saved back, when the command changed something, or left exactly as
// they were.
#pragma once

#include "settings/settings.h"

#include <string>

struct ACCOUNT;

class CliSession {
  public:
    // `whileRunning` is the advice printed after "Inboxwarden is running on
    // this store; " when the program holds the lock.
    explicit CliSession(const std::string& profile, const char* whileRunning = "quit it first");
    ~CliSession();
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    // The settings are loaded (else the reason was printed).
    bool ok() const { return rc_ == 0; }
    // The command changed the settings or the boxes: save them at the end.
    void changed() { changed_ = true; }
    const SETTINGS_START& start() const { return start_; }
    // A session's save at its end failed (and said why): the command must
    // not report success.
    static bool SaveFailed();

  private:
    uint32_t rc_;
    bool locked_ = false;
    bool changed_ = false;
    SETTINGS_START start_;
};

// The loaded account of that name, or null with the names' hint on stderr.
ACCOUNT* Cli_FindAccount(const std::string& name);

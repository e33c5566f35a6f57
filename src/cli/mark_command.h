// SPDX-License-Identifier: GPL-3.0-or-later
// inboxwarden-cli mark: marks messages of an account read, unread or for
// deletion at the next check, as the MailBox window does; through the
// running program when it holds the store.
#pragma once

#include <string>
#include <vector>

// `state` is read, unread or delete. Exit status: 0 every id was marked,
// 1 the box holds some of them not (said on stderr; the others are marked)
// or the store failed, 2 bad usage.
int Cli_Mark(const std::string& profile, const std::string& account,
             const std::vector<std::string>& ids, bool hex, const std::string& state);

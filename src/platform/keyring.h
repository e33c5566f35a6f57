// SPDX-License-Identifier: GPL-3.0-or-later
// Account passwords in the desktop keyring: the Secret Service of the
// session bus, which GNOME's keyring and KWallet both serve. Every entry
// carries the attributes program ("inboxwarden"), account, server, login and
// protocol ("POP3" or "SMTP"); the rules below work on whatever backend is
// installed, so they are tested without a service.
//
// The calls block until the service answers (an unlock prompt of the
// service included) and need no event loop: any thread may make them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class KEYRING_PROTOCOL { POP3, SMTP };

struct KEYRING_ITEM {
    std::string account;
    std::string server;
    std::string login;
    KEYRING_PROTOCOL protocol = KEYRING_PROTOCOL::POP3;
    bool operator==(const KEYRING_ITEM&) const = default;
};

struct KEYRING_ENTRY {
    KEYRING_ITEM item;
    std::string secret;
};

// Results of every call below and of the backends:
//   0              done
//   ERR_NOT_FOUND  no entry matches (Lookup only; removals of nothing are 0)
//   ERR_NOT_READY  no keyring service reachable, or it failed
//   ERR_CANCELLED  the user refused to unlock the keyring
class KEYRING_BACKEND {
  public:
    virtual ~KEYRING_BACKEND() = default;
    // The secret of the entry whose attributes are exactly `item`.
    virtual uint32_t Lookup(const KEYRING_ITEM& item, std::string* secret) = 0;
    // Creates or replaces the entry of exactly `item`.
    virtual uint32_t Store(const KEYRING_ITEM& item, std::string_view secret) = 0;
    virtual uint32_t Remove(const KEYRING_ITEM& item) = 0;
    // Every entry of `account` (exact name), with its secret.
    virtual uint32_t List(std::string_view account, std::vector<KEYRING_ENTRY>* out) = 0;
};

// Installs a backend (tests); null restores the Secret Service. Returns the
// one installed before (null for the Secret Service).
KEYRING_BACKEND* Keyring_SetBackend(KEYRING_BACKEND* backend);

// "POP3" or "SMTP": the protocol attribute.
const char* Keyring_ProtocolName(KEYRING_PROTOCOL protocol);

uint32_t Keyring_Lookup(const KEYRING_ITEM& item, std::string* secret);

// Stores the password of `item` and removes the account's other entries of
// the same protocol (a server or login changed since), so one account never
// holds two passwords for one protocol. An empty secret is refused
// (ERR_NOT_FOUND is never returned here; ERR_NOT_READY for it).
uint32_t Keyring_Put(const KEYRING_ITEM& item, std::string_view secret);

// The account's one entry of `protocol`, whatever its server and login.
uint32_t Keyring_Find(std::string_view account, KEYRING_PROTOCOL protocol, KEYRING_ENTRY* entry);

// Removes the account's entries of `protocol`.
uint32_t Keyring_Drop(std::string_view account, KEYRING_PROTOCOL protocol);

// Removes every entry of an account (both protocols).
uint32_t Keyring_RemoveAccount(std::string_view account);

// Moves every entry of `from` to the account name `to`: the new entries are
// stored before the old ones go, so a failure loses nothing.
uint32_t Keyring_RenameAccount(std::string_view from, std::string_view to);

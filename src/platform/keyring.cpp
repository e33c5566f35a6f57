// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/keyring.h"
#include "common/status.h"
#include "platform/dynlib.h"
#include "platform/log.h"

#include <libsecret/secret.h>

#include <memory>

namespace {

// libsecret, and the GLib beneath it, is loaded on the first keyring call: a
// command-line check of an account whose password is not in the keyring
// never pays for relocating those libraries. Only its headers are built
// against; without the library the keyring is simply not ready.
#define IW_SECRET_FUNCTIONS(X)                                                                     \
    X(secret_password_lookupv_sync)                                                                \
    X(secret_password_storev_sync)                                                                 \
    X(secret_password_clearv_sync)                                                                 \
    X(secret_password_searchv_sync)                                                                \
    X(secret_password_free)                                                                        \
    X(secret_retrievable_get_attributes)                                                           \
    X(secret_retrievable_retrieve_secret_sync)                                                     \
    X(secret_value_get_text)                                                                       \
    X(secret_value_unref)                                                                          \
    X(g_error_free)                                                                                \
    X(g_error_matches)                                                                             \
    X(g_io_error_quark)                                                                            \
    X(g_hash_table_new)                                                                            \
    X(g_hash_table_insert)                                                                         \
    X(g_hash_table_lookup)                                                                         \
    X(g_hash_table_unref)                                                                          \
    X(g_str_hash)                                                                                  \
    X(g_str_equal)                                                                                 \
    X(g_list_free_full)                                                                            \
    X(g_object_unref)

struct SecretLib {
#define IW_SECRET_MEMBER(name) decltype(&::name) name = nullptr;
    IW_SECRET_FUNCTIONS(IW_SECRET_MEMBER)
#undef IW_SECRET_MEMBER
};

// Null when the library or one of its functions is missing. Never unloaded:
// GLib's types cannot be unregistered.
const SecretLib* lib() {
    static const SecretLib* loaded = []() -> const SecretLib* {
        static SecretLib l;
#define IW_SECRET_SYMBOL(name) DYNLIB_SYMBOL_OF(l, name),
        return DynLib_Load("libsecret-1.so.0", "Keyring", {IW_SECRET_FUNCTIONS(IW_SECRET_SYMBOL)})
                   ? &l
                   : nullptr;
#undef IW_SECRET_SYMBOL
    }();
    return loaded;
}

constexpr const char* kProgram = "inboxwarden";

const SecretSchema* schema() {
    static const SecretSchema s = {"org.inboxwarden.Password",
                                   SECRET_SCHEMA_NONE,
                                   {
                                       {"program", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {"login", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {"protocol", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                   },
                                   0,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr};
    return &s;
}

struct GErrorFree {
    void operator()(GError* e) const { lib()->g_error_free(e); }
};
struct HashFree {
    void operator()(GHashTable* t) const { lib()->g_hash_table_unref(t); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;
using Attributes = std::unique_ptr<GHashTable, HashFree>;

// The attributes of one entry, or (item null) of every entry of `account`.
// The table borrows the strings.
Attributes attributes(std::string_view account, const KEYRING_ITEM* item,
                      std::string* accountCopy) {
    const SecretLib& l = *lib();
    accountCopy->assign(account);
    GHashTable* t = l.g_hash_table_new(l.g_str_hash, l.g_str_equal);
    l.g_hash_table_insert(t, const_cast<char*>("program"), const_cast<char*>(kProgram));
    l.g_hash_table_insert(t, const_cast<char*>("account"), accountCopy->data());
    if (item) {
        l.g_hash_table_insert(t, const_cast<char*>("server"),
                              const_cast<char*>(item->server.c_str()));
        l.g_hash_table_insert(t, const_cast<char*>("login"),
                              const_cast<char*>(item->login.c_str()));
        l.g_hash_table_insert(t, const_cast<char*>("protocol"),
                              const_cast<char*>(Keyring_ProtocolName(item->protocol)));
    }
    return Attributes(t);
}

// The service's error as a result; its message goes to the debug log only
// (it never holds a secret).
uint32_t failure(const char* what, GError* raw) {
    ErrorPtr error(raw);
    if (!error) return ERR_NOT_READY;
    DebugLog_Write("Keyring: %s: %s\n", what, error->message);
    if (lib()->g_error_matches(error.get(), lib()->g_io_error_quark(), G_IO_ERROR_CANCELLED))
        return ERR_CANCELLED;
    return ERR_NOT_READY;
}

class SecretServiceBackend final : public KEYRING_BACKEND {
  public:
    uint32_t Lookup(const KEYRING_ITEM& item, std::string* secret) override {
        const SecretLib* l = lib();
        if (!l) return ERR_NOT_READY;
        std::string name;
        const Attributes attrs = attributes(item.account, &item, &name);
        GError* error = nullptr;
        gchar* found = l->secret_password_lookupv_sync(schema(), attrs.get(), nullptr, &error);
        if (error) return failure("lookup", error);
        if (!found) return ERR_NOT_FOUND;
        secret->assign(found);
        l->secret_password_free(found);
        return 0;
    }

    uint32_t Store(const KEYRING_ITEM& item, std::string_view secret) override {
        const SecretLib* l = lib();
        if (!l) return ERR_NOT_READY;
        std::string name;
        const Attributes attrs = attributes(item.account, &item, &name);
        const std::string label = std::string("Inboxwarden ") +
                                  Keyring_ProtocolName(item.protocol) + " password of " +
                                  item.login + "@" + item.server + " (" + item.account + ")";
        const std::string text(secret);
        GError* error = nullptr;
        if (!l->secret_password_storev_sync(schema(), attrs.get(), SECRET_COLLECTION_DEFAULT,
                                            label.c_str(), text.c_str(), nullptr, &error))
            return failure("store", error);
        return 0;
    }

    uint32_t Remove(const KEYRING_ITEM& item) override {
        const SecretLib* l = lib();
        if (!l) return ERR_NOT_READY;
        std::string name;
        const Attributes attrs = attributes(item.account, &item, &name);
        GError* error = nullptr;
        l->secret_password_clearv_sync(schema(), attrs.get(), nullptr, &error);
        return error ? failure("remove", error) : 0;
    }

    uint32_t List(std::string_view account, std::vector<KEYRING_ENTRY>* out) override {
        const SecretLib* l = lib();
        if (!l) return ERR_NOT_READY;
        out->clear();
        std::string name;
        const Attributes attrs = attributes(account, nullptr, &name);
        GError* error = nullptr;
        GList* found = l->secret_password_searchv_sync(
            schema(), attrs.get(),
            static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK |
                                           SECRET_SEARCH_LOAD_SECRETS),
            nullptr, &error);
        if (error) return failure("search", error);
        uint32_t rc = 0;
        for (GList* at = found; at; at = at->next) {
            auto* entry = static_cast<SecretRetrievable*>(at->data);
            Attributes got(l->secret_retrievable_get_attributes(entry));
            auto text = [&](const char* key) {
                const auto* v = static_cast<const char*>(l->g_hash_table_lookup(got.get(), key));
                return std::string(v ? v : "");
            };
            KEYRING_ENTRY e;
            e.item = {text("account"), text("server"), text("login"),
                      text("protocol") == "SMTP" ? KEYRING_PROTOCOL::SMTP : KEYRING_PROTOCOL::POP3};
            SecretValue* value = l->secret_retrievable_retrieve_secret_sync(entry, nullptr, &error);
            if (error) {
                rc = failure("read", error);
                error = nullptr;
                continue;
            }
            if (value) {
                if (const gchar* t = l->secret_value_get_text(value)) e.secret = t;
                l->secret_value_unref(value);
            }
            out->push_back(std::move(e));
        }
        l->g_list_free_full(found, l->g_object_unref);
        return rc;
    }
};

KEYRING_BACKEND* g_backend = nullptr;

KEYRING_BACKEND& backend() {
    static SecretServiceBackend service;
    return g_backend ? *g_backend : service;
}

} // namespace

KEYRING_BACKEND* Keyring_SetBackend(KEYRING_BACKEND* b) {
    KEYRING_BACKEND* before = g_backend;
    g_backend = b;
    return before;
}

const char* Keyring_ProtocolName(KEYRING_PROTOCOL protocol) {
    return protocol == KEYRING_PROTOCOL::SMTP ? "SMTP" : "POP3";
}

uint32_t Keyring_Lookup(const KEYRING_ITEM& item, std::string* secret) {
    return backend().Lookup(item, secret);
}

uint32_t Keyring_Put(const KEYRING_ITEM& item, std::string_view secret) {
    if (secret.empty()) return ERR_NOT_READY;
    if (const uint32_t rc = backend().Store(item, secret)) return rc;
    std::vector<KEYRING_ENTRY> all;
    if (const uint32_t rc = backend().List(item.account, &all)) return rc;
    for (const KEYRING_ENTRY& e : all)
        if (e.item.protocol == item.protocol && !(e.item == item))
            if (const uint32_t rc = backend().Remove(e.item)) return rc;
    return 0;
}

uint32_t Keyring_Find(std::string_view account, KEYRING_PROTOCOL protocol, KEYRING_ENTRY* entry) {
    std::vector<KEYRING_ENTRY> all;
    if (const uint32_t rc = backend().List(account, &all)) return rc;
    for (KEYRING_ENTRY& e : all)
        if (e.item.protocol == protocol && !e.secret.empty()) {
            *entry = std::move(e);
            return 0;
        }
    return ERR_NOT_FOUND;
}

uint32_t Keyring_Drop(std::string_view account, KEYRING_PROTOCOL protocol) {
    std::vector<KEYRING_ENTRY> all;
    if (const uint32_t rc = backend().List(account, &all)) return rc;
    for (const KEYRING_ENTRY& e : all)
        if (e.item.protocol == protocol)
            if (const uint32_t rc = backend().Remove(e.item)) return rc;
    return 0;
}

uint32_t Keyring_RemoveAccount(std::string_view account) {
    std::vector<KEYRING_ENTRY> all;
    if (const uint32_t rc = backend().List(account, &all)) return rc;
    for (const KEYRING_ENTRY& e : all)
        if (const uint32_t rc = backend().Remove(e.item)) return rc;
    return 0;
}

uint32_t Keyring_RenameAccount(std::string_view from, std::string_view to) {
    std::vector<KEYRING_ENTRY> all;
    if (const uint32_t rc = backend().List(from, &all)) return rc;
    for (const KEYRING_ENTRY& e : all) {
        KEYRING_ITEM moved = e.item;
        moved.account.assign(to);
        if (const uint32_t rc = backend().Store(moved, e.secret)) return rc;
    }
    for (const KEYRING_ENTRY& e : all)
        if (const uint32_t rc = backend().Remove(e.item)) return rc;
    return 0;
}

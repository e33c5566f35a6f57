// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/registry.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <malloc.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <set>
#include <sqlite3.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

// How long a write waits for another process that holds the store.
constexpr int kBusyTimeoutMs = 10000;
constexpr size_t kMaxKeyNameBytes = 255;
constexpr size_t kMaxValueNameBytes = 16383;

// Names compare with SQLite's NOCASE collation, which folds ASCII letters
// only: the same rule as every other name in the program. The values of
// MsgBox keys are named by message ids, which servers tell apart by case
// ("CaseId" and "caseid" are two messages): their names compare exactly.
// So the unique index is exact, and the write path keeps the names of every
// other key unique ignoring case.
constexpr const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY,
  parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE NOCASE);
CREATE UNIQUE INDEX IF NOT EXISTS keys_by_name ON keys(parent, name);
CREATE TABLE IF NOT EXISTS vals(
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL,
  data BLOB NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS vals_by_name ON vals(key, name COLLATE BINARY);
INSERT OR IGNORE INTO keys(id, parent, name) VALUES(1, NULL, '');
PRAGMA user_version = 2;
)SQL";

// Version 1 had the value index ignore case. Its names are unique ignoring
// case, so they are unique exactly as well: only the index is rebuilt.
constexpr const char* kMigrate1To2 = R"SQL(
DROP INDEX IF EXISTS vals_by_name;
CREATE UNIQUE INDEX vals_by_name ON vals(key, name COLLATE BINARY);
PRAGMA user_version = 2;
)SQL";
constexpr int kSchemaVersion = 2;

// Set while the memory copy is in force: the file must not be written, not
// even by the checkpoint SQLite makes when the last connection closes.
std::atomic<bool> g_keepFile{false};

struct Conn {
    sqlite3* db = nullptr;
    uint64_t generation = 0;
    pid_t pid = 0;
    int batchDepth = 0;
    uint32_t batchError = REGSTORE_OK;
    std::unordered_map<const char*, sqlite3_stmt*> stmts;

    ~Conn() {
        for (auto& [sql, st] : stmts)
            sqlite3_finalize(st);
        if (g_keepFile) sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        sqlite3_close_v2(db);
    }
    sqlite3_stmt* prepare(const char* sql) {
        if (auto it = stmts.find(sql); it != stmts.end()) return it->second;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK)
            return nullptr;
        stmts.emplace(sql, st);
        return st;
    }
};

std::mutex g_mu;
std::string g_path;
std::atomic<uint64_t> g_generation{0};
thread_local std::unique_ptr<Conn> t_conn;

// The memory copy (RegStore_UseMemoryCopy): every connection opens this URI
// instead of g_path; the anchor keeps the copy alive between connections.
bool g_memory = false;
std::string g_memUri;
sqlite3* g_memAnchor = nullptr;
// Read by each new connection (RegStore_SetCheckpointOnClose).
std::atomic<bool> g_checkpointOnClose{true};

std::atomic<uint64_t> g_damaged{0};
std::atomic<uint64_t> g_diskFull{0};

uint32_t noteFault(uint32_t code) {
    if (code == REGSTORE_E_CORRUPT) ++g_damaged;
    if (code == REGSTORE_E_DISK_FULL) ++g_diskFull;
    return code;
}

// getpid() is a system call on every store access otherwise; the fork
// handler keeps the cached value true in a child.
pid_t currentPid() {
    static std::atomic<pid_t> pid = [] {
        pthread_atfork(nullptr, nullptr, [] { pid = getpid(); });
        return getpid();
    }();
    return pid.load(std::memory_order_relaxed);
}

uint32_t mapError(int rc) {
    switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return REGSTORE_OK;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return REGSTORE_E_BUSY;
    case SQLITE_FULL:
        return REGSTORE_E_DISK_FULL;
    case SQLITE_NOMEM:
        return REGSTORE_E_NOMEM;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
    case SQLITE_AUTH:
        return REGSTORE_E_ACCESS;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return REGSTORE_E_CORRUPT;
    case SQLITE_CONSTRAINT:
        return REGSTORE_E_KEY_DELETED; // a foreign key: the key is gone
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
    case SQLITE_MISMATCH:
        return REGSTORE_E_INVALID;
    default:
        return REGSTORE_E_IO;
    }
}

// SQLite reports a full disk met while growing its index or log file as an
// input/output error; the system's own error tells.
uint32_t mapFileError(int rc, int sysErrno) {
    const int primary = rc & 0xFF;
    if ((primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN) &&
        (sysErrno == ENOSPC || sysErrno == EDQUOT))
        return REGSTORE_E_DISK_FULL;
    return mapError(rc);
}

// Logs a failure of the database itself (never the names or data involved:
// values may hold passwords) and maps it.
uint32_t fail(Conn& c, const char* op, int rc) {
    const int sysErrno = sqlite3_system_errno(c.db);
    const uint32_t code = noteFault(mapFileError(rc, sysErrno));
    DebugLog_Write("RegStore: %s failed: %s (%d, errno %d)\n", op, sqlite3_errmsg(c.db), rc,
                   sysErrno);
    return code;
}

// One use of a cached statement; resets it when it goes out of scope, so the
// same statement can serve the next call.
class Query {
  public:
    Query(Conn& c, const char* sql) : c_(c), st_(c.prepare(sql)) {}
    ~Query() {
        if (st_) {
            sqlite3_reset(st_);
            sqlite3_clear_bindings(st_);
        }
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    bool ok() const { return st_ != nullptr; }
    Query& bind(int i, int64_t v) {
        sqlite3_bind_int64(st_, i, v);
        return *this;
    }
    // The bytes must outlive the query (they are not copied).
    Query& bindText(int i, std::string_view s) {
        sqlite3_bind_text(st_, i, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
        return *this;
    }
    Query& bindBlob(int i, std::string_view s) {
        sqlite3_bind_blob(st_, i, s.empty() ? "" : s.data(), static_cast<int>(s.size()),
                          SQLITE_STATIC);
        return *this;
    }
    int step() { return st_ ? sqlite3_step(st_) : sqlite3_errcode(c_.db); }
    int64_t i64(int col) { return sqlite3_column_int64(st_, col); }
    std::string_view bytes(int col) {
        const void* p = sqlite3_column_blob(st_, col);
        const int n = sqlite3_column_bytes(st_, col);
        return p ? std::string_view(static_cast<const char*>(p), static_cast<size_t>(n))
                 : std::string_view();
    }

  private:
    Conn& c_;
    sqlite3_stmt* st_;
};

uint32_t execScript(Conn& c, const char* sql, const char* op) {
    const int rc = sqlite3_exec(c.db, sql, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? REGSTORE_OK : fail(c, op, rc);
}

// Creates the file with owner-only rights before SQLite opens it: the store
// holds (scrambled) passwords. SQLite gives its -wal and -shm files the same
// mode as the database file.
uint32_t prepareFile(const std::string& path) {
    if (Paths_EnsureDir(Paths_DirName(path)) != 0) return REGSTORE_E_ACCESS;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return errno == ENOSPC ? REGSTORE_E_DISK_FULL : REGSTORE_E_ACCESS;
    fchmod(fd, 0600);
    close(fd);
    return REGSTORE_OK;
}

int schemaVersion(Conn& c) {
    Query q(c, "PRAGMA user_version");
    return q.step() == SQLITE_ROW ? static_cast<int>(q.i64(0)) : -1;
}

// Creates the schema of a new store or brings an older one up to date.
uint32_t upgradeSchema(Conn& c) {
    if (schemaVersion(c) >= kSchemaVersion) return REGSTORE_OK;
    // BEGIN IMMEDIATE, then look again: two processes starting at once must
    // not both create or migrate the schema.
    if (const uint32_t e = execScript(c, "BEGIN IMMEDIATE", "create schema"); e) return e;
    const int version = schemaVersion(c);
    const char* script = version < 1 ? kSchema : version < kSchemaVersion ? kMigrate1To2 : "";
    uint32_t e = execScript(c, script, version < 1 ? "create schema" : "migrate schema");
    if (e == REGSTORE_OK) e = execScript(c, "COMMIT", "create schema");
    if (e == REGSTORE_OK) return REGSTORE_OK;
    sqlite3_exec(c.db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (version < 1) return e;
    // A full disk or a long-held lock must not take the older store away:
    // it is read as it is (message ids cannot be written) and the next
    // connection tries again.
    DebugLog_Write("RegStore: the store keeps its older schema for now\n");
    return REGSTORE_OK;
}

// `memory`: `path` is the URI of the memory copy.
uint32_t openConn(const std::string& path, uint64_t generation, std::unique_ptr<Conn>* out,
                  bool memory = false) {
    if (!memory)
        if (const uint32_t rc = prepareFile(path); rc != REGSTORE_OK) return noteFault(rc);
    auto c = std::make_unique<Conn>();
    c->generation = generation;
    c->pid = currentPid();
    int rc = sqlite3_open_v2(path.c_str(), &c->db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX |
                                 (memory ? SQLITE_OPEN_URI : 0),
                             nullptr);
    if (rc != SQLITE_OK) return fail(*c, "open", rc);
    // Sorting must not need the full disk either.
    if (memory)
        if (const uint32_t e = execScript(*c, "PRAGMA temp_store=MEMORY", "configure"); e) return e;
    sqlite3_busy_timeout(c->db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(c->db, 1);
    // The log and its index stay beside the store, emptied at the last close,
    // instead of being made again by every short command: two files created
    // and removed, and a sync of the folder, per run.
    int persist = 1;
    sqlite3_file_control(c->db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    sqlite3_db_config(c->db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, g_checkpointOnClose ? 0 : 1,
                      nullptr);
    // A checkpoint syncs the file; letting the log grow to 16 MB between
    // checkpoints keeps that out of most writes, and the log is cut back to
    // 4 MB afterwards.
    if (const uint32_t e =
            execScript(*c,
                       "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                       "PRAGMA wal_autocheckpoint=4096; PRAGMA journal_size_limit=4194304;"
                       "PRAGMA foreign_keys=ON;",
                       "configure");
        e != REGSTORE_OK)
        return e;
    if (const uint32_t e = upgradeSchema(*c); e != REGSTORE_OK) return e;
    *out = std::move(c);
    return REGSTORE_OK;
}

// This thread's connection to the selected store, opened on first use.
uint32_t conn(Conn** out) {
    if (t_conn && t_conn->pid != currentPid()) {
        // A connection must never be used across fork(): the child opens its
        // own and leaves the copy of its parent's untouched.
        (void)t_conn.release();
    }
    const uint64_t gen = g_generation.load();
    if (t_conn && t_conn->generation == gen && gen != 0) {
        *out = t_conn.get();
        return REGSTORE_OK;
    }
    std::string path;
    bool memory;
    {
        std::lock_guard lock(g_mu);
        if (g_generation.load() == 0) {
            g_path = Paths_RegistryFile();
            g_generation = 1;
        }
        memory = g_memory;
        path = memory ? g_memUri : g_path;
    }
    t_conn.reset();
    if (const uint32_t rc = openConn(path, g_generation.load(), &t_conn, memory); rc != REGSTORE_OK)
        return rc;
    *out = t_conn.get();
    return REGSTORE_OK;
}

// Runs `body` as one committed write: on its own in a transaction that takes
// the write lock first (so a busy store is waited for, not failed), or as a
// part of this thread's open batch.
std::atomic<uint64_t> g_changes{0};

// Runs a write's body, counting it in g_changes when it changed a row.
template <typename F> uint32_t counted(Conn& c, F&& body) {
    const sqlite3_int64 before = sqlite3_total_changes64(c.db);
    const uint32_t rc = body();
    if (sqlite3_total_changes64(c.db) != before) g_changes.fetch_add(1);
    return rc;
}

template <typename F> uint32_t write(Conn& c, const char* op, F&& body_) {
    const auto body = [&] { return counted(c, body_); };
    if (c.batchDepth > 0) {
        if (!sqlite3_get_autocommit(c.db)) return body();
        // The batch's transaction was rolled back by an earlier failure; the
        // batch reports that at its end, later writes still commit one by one.
        if (c.batchError == REGSTORE_OK) c.batchError = REGSTORE_E_IO;
    }
    {
        Query begin(c, "BEGIN IMMEDIATE");
        if (const int rc = begin.step(); rc != SQLITE_DONE) return fail(c, op, rc);
    }
    const uint32_t rc = body();
    if (rc != REGSTORE_OK) {
        if (!sqlite3_get_autocommit(c.db)) {
            Query rollback(c, "ROLLBACK");
            rollback.step();
        }
        return rc;
    }
    Query commit(c, "COMMIT");
    if (const int crc = commit.step(); crc != SQLITE_DONE) {
        const uint32_t e = fail(c, op, crc);
        if (!sqlite3_get_autocommit(c.db)) {
            Query rollback(c, "ROLLBACK");
            rollback.step();
        }
        return e;
    }
    return REGSTORE_OK;
}

bool validName(std::string_view name, size_t maxBytes) {
    return name.size() <= maxBytes && name.find('\0') == std::string_view::npos;
}

std::vector<std::string_view> splitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('\\', pos);
        if (end == std::string_view::npos) end = path.size();
        if (end > pos) parts.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return parts;
}

uint32_t findChild(Conn& c, HREGKEY parent, std::string_view name, HREGKEY* out) {
    Query q(c, "SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
    if (!q.ok()) return fail(c, "find key", sqlite3_errcode(c.db));
    q.bind(1, parent).bindText(2, name);
    const int rc = q.step();
    if (rc == SQLITE_ROW) {
        *out = q.i64(0);
        return REGSTORE_OK;
    }
    return rc == SQLITE_DONE ? REGSTORE_E_NOT_FOUND : fail(c, "find key", rc);
}

bool keyExists(Conn& c, HREGKEY key) {
    Query q(c, "SELECT 1 FROM keys WHERE id = ?1");
    q.bind(1, key);
    return q.step() == SQLITE_ROW;
}

uint32_t walk(Conn& c, HREGKEY parent, const std::vector<std::string_view>& parts, bool create,
              HREGKEY* out) {
    HREGKEY cur = parent;
    for (std::string_view part : parts) {
        if (!validName(part, kMaxKeyNameBytes)) return REGSTORE_E_INVALID;
        HREGKEY next = HREGKEY_NONE;
        uint32_t rc = findChild(c, cur, part, &next);
        if (rc == REGSTORE_E_NOT_FOUND && create) {
            Query ins(c, "INSERT INTO keys(parent, name) VALUES(?1, ?2)");
            ins.bind(1, cur).bindText(2, part);
            if (const int irc = ins.step(); irc != SQLITE_DONE) return fail(c, "create key", irc);
            next = sqlite3_last_insert_rowid(c.db);
            rc = REGSTORE_OK;
        }
        if (rc != REGSTORE_OK) return rc;
        cur = next;
    }
    *out = cur;
    return REGSTORE_OK;
}

// Whether the values of `key` compare their names exactly: those of a
// MsgBox key, named by message ids. REGSTORE_E_KEY_DELETED when it is gone.
uint32_t exactNames(Conn& c, HREGKEY key, bool* exact) {
    Query q(c, "SELECT name = 'MsgBox' FROM keys WHERE id = ?1");
    if (!q.ok()) return fail(c, "find key", sqlite3_errcode(c.db));
    q.bind(1, key);
    const int rc = q.step();
    if (rc == SQLITE_ROW) {
        *exact = q.i64(0) != 0;
        return REGSTORE_OK;
    }
    return rc == SQLITE_DONE ? REGSTORE_E_KEY_DELETED : fail(c, "find key", rc);
}

uint32_t upsertValue(Conn& c, HREGKEY key, std::string_view name, uint32_t type,
                     std::string_view data) {
    bool exact = false;
    if (const uint32_t rc = exactNames(c, key, &exact); rc != REGSTORE_OK) return rc;
    if (exact) {
        // A value written again as it is stays untouched: no page is
        // written and RegStore_ChangeCount() does not move.
        Query q(c, "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                   "ON CONFLICT(key, name COLLATE BINARY) DO UPDATE "
                   "SET type = excluded.type, data = excluded.data "
                   "WHERE type IS NOT excluded.type OR data IS NOT excluded.data");
        if (!q.ok()) return fail(c, "set value", sqlite3_errcode(c.db));
        q.bind(1, key).bindText(2, name).bind(3, type).bindBlob(4, data);
        const int rc = q.step();
        return rc == SQLITE_DONE ? REGSTORE_OK : fail(c, "set value", rc);
    }
    // The exact index cannot keep these names unique ignoring case: an
    // existing value of the name in any case is overwritten in place.
    {
        Query q(c, "SELECT type IS ?3 AND data IS ?4 FROM vals WHERE key = ?1 AND name = ?2 "
                   "COLLATE NOCASE");
        if (!q.ok()) return fail(c, "set value", sqlite3_errcode(c.db));
        q.bind(1, key).bindText(2, name).bind(3, type).bindBlob(4, data);
        const int rc = q.step();
        if (rc == SQLITE_ROW && q.i64(0) != 0) return REGSTORE_OK; // already so
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return fail(c, "set value", rc);
    }
    {
        Query q(c, "UPDATE vals SET type = ?3, data = ?4 WHERE key = ?1 AND name = ?2 COLLATE "
                   "NOCASE");
        if (!q.ok()) return fail(c, "set value", sqlite3_errcode(c.db));
        q.bind(1, key).bindText(2, name).bind(3, type).bindBlob(4, data);
        if (const int rc = q.step(); rc != SQLITE_DONE) return fail(c, "set value", rc);
        if (sqlite3_changes(c.db) > 0) return REGSTORE_OK;
    }
    Query q(c, "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4)");
    if (!q.ok()) return fail(c, "set value", sqlite3_errcode(c.db));
    q.bind(1, key).bindText(2, name).bind(3, type).bindBlob(4, data);
    const int rc = q.step();
    return rc == SQLITE_DONE ? REGSTORE_OK : fail(c, "set value", rc);
}

uint32_t copyInto(Conn& c, HREGKEY src, HREGKEY dst) {
    bool exact = false;
    if (const uint32_t rc = exactNames(c, dst, &exact); rc != REGSTORE_OK) return rc;
    if (exact) {
        Query q(c, "INSERT INTO vals(key, name, type, data) "
                   "SELECT ?2, name, type, data FROM vals WHERE key = ?1 ORDER BY id "
                   "ON CONFLICT(key, name COLLATE BINARY) DO UPDATE "
                   "SET type = excluded.type, data = excluded.data");
        q.bind(1, src).bind(2, dst);
        if (const int rc = q.step(); rc != SQLITE_DONE) return fail(c, "copy values", rc);
    } else {
        // A key of settings holds a few dozen values: one by one, so that
        // names merge ignoring case.
        std::vector<std::tuple<std::string, uint32_t, std::string>> values;
        {
            Query q(c, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id");
            q.bind(1, src);
            int rc;
            while ((rc = q.step()) == SQLITE_ROW)
                values.emplace_back(q.bytes(0), static_cast<uint32_t>(q.i64(1)), q.bytes(2));
            if (rc != SQLITE_DONE) return fail(c, "copy values", rc);
        }
        for (const auto& [name, type, data] : values)
            if (const uint32_t rc = upsertValue(c, dst, name, type, data); rc) return rc;
    }
    // Collect first: the recursion reuses the same cached statements.
    std::vector<std::pair<HREGKEY, std::string>> children;
    {
        Query q(c, "SELECT id, name FROM keys WHERE parent = ?1 ORDER BY id");
        q.bind(1, src);
        int rc;
        while ((rc = q.step()) == SQLITE_ROW)
            children.emplace_back(q.i64(0), q.bytes(1));
        if (rc != SQLITE_DONE) return fail(c, "copy keys", rc);
    }
    for (const auto& [child, name] : children) {
        HREGKEY target = HREGKEY_NONE;
        if (const uint32_t rc = walk(c, dst, {name}, true, &target); rc) return rc;
        if (const uint32_t rc = copyInto(c, child, target); rc) return rc;
    }
    return REGSTORE_OK;
}

} // namespace

uint32_t RegStore_Open(const std::string& path) {
    std::string chosen = path.empty() ? Paths_RegistryFile() : path;
    uint64_t gen;
    {
        std::lock_guard lock(g_mu);
        g_path = chosen;
        gen = ++g_generation;
        g_memory = g_keepFile = false;
        sqlite3_close_v2(g_memAnchor);
        g_memAnchor = nullptr;
    }
    t_conn.reset();
    return openConn(chosen, gen, &t_conn);
}

std::string RegStore_Path() {
    std::lock_guard lock(g_mu);
    return g_generation.load() ? g_path : Paths_RegistryFile();
}

uint32_t RegStore_CreateKey(HREGKEY parent, std::string_view path, HREGKEY* out) {
    if (parent == HREGKEY_NONE || !out) return REGSTORE_E_INVALID;
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    const auto parts = splitPath(path);
    // Most calls open keys that exist: look first, without the write lock.
    HREGKEY found = HREGKEY_NONE;
    uint32_t rc = walk(*c, parent, parts, false, &found);
    if (rc == REGSTORE_OK) {
        if (parts.empty() && !keyExists(*c, parent)) return REGSTORE_E_KEY_DELETED;
        *out = found;
        return REGSTORE_OK;
    }
    if (rc != REGSTORE_E_NOT_FOUND) return rc;
    rc = write(*c, "create key", [&] { return walk(*c, parent, parts, true, &found); });
    if (rc == REGSTORE_OK) *out = found;
    return rc;
}

uint32_t RegStore_OpenKey(HREGKEY parent, std::string_view path, HREGKEY* out) {
    if (parent == HREGKEY_NONE || !out) return REGSTORE_E_INVALID;
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    const auto parts = splitPath(path);
    if (parts.empty()) {
        if (!keyExists(*c, parent)) return REGSTORE_E_NOT_FOUND;
        *out = parent;
        return REGSTORE_OK;
    }
    return walk(*c, parent, parts, false, out);
}

uint32_t RegStore_QueryInfoKey(HREGKEY key, uint32_t* subkeys, uint32_t* maxSubkeyLen,
                               uint32_t* values, uint32_t* maxValueNameLen, uint32_t* maxValueLen) {
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    if (!keyExists(*c, key)) return REGSTORE_E_KEY_DELETED;
    {
        Query q(*c, "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0) "
                    "FROM keys WHERE parent = ?1");
        q.bind(1, key);
        if (const int rc = q.step(); rc != SQLITE_ROW) return fail(*c, "query key", rc);
        if (subkeys) *subkeys = static_cast<uint32_t>(q.i64(0));
        if (maxSubkeyLen) *maxSubkeyLen = static_cast<uint32_t>(q.i64(1));
    }
    if (values || maxValueNameLen || maxValueLen) {
        Query q(*c, "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0), "
                    "coalesce(max(length(data)), 0) FROM vals WHERE key = ?1");
        q.bind(1, key);
        if (const int rc = q.step(); rc != SQLITE_ROW) return fail(*c, "query key", rc);
        if (values) *values = static_cast<uint32_t>(q.i64(0));
        if (maxValueNameLen) *maxValueNameLen = static_cast<uint32_t>(q.i64(1));
        if (maxValueLen) *maxValueLen = static_cast<uint32_t>(q.i64(2));
    }
    return REGSTORE_OK;
}

uint32_t RegStore_EnumKey(HREGKEY key, uint32_t index, std::string* name) {
    if (!name) return REGSTORE_E_INVALID;
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    Query q(*c, "SELECT name FROM keys WHERE parent = ?1 ORDER BY name LIMIT 1 OFFSET ?2");
    q.bind(1, key).bind(2, index);
    const int rc = q.step();
    if (rc == SQLITE_ROW) {
        name->assign(q.bytes(0));
        return REGSTORE_OK;
    }
    return rc == SQLITE_DONE ? REGSTORE_E_NO_MORE_ITEMS : fail(*c, "enumerate keys", rc);
}

uint32_t RegStore_EnumValue(HREGKEY key, uint32_t index, std::string* name, uint32_t* type,
                            std::string* data) {
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    Query q(*c, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
    q.bind(1, key).bind(2, index);
    const int rc = q.step();
    if (rc == SQLITE_ROW) {
        if (name) name->assign(q.bytes(0));
        if (type) *type = static_cast<uint32_t>(q.i64(1));
        if (data) data->assign(q.bytes(2));
        return REGSTORE_OK;
    }
    return rc == SQLITE_DONE ? REGSTORE_E_NO_MORE_ITEMS : fail(*c, "enumerate values", rc);
}

uint32_t RegStore_ForEachValue(HREGKEY key, const RegValueFn& fn) {
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    Query q(*c, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id");
    q.bind(1, key);
    int rc;
    while ((rc = q.step()) == SQLITE_ROW) {
        if (!fn(q.bytes(0), static_cast<uint32_t>(q.i64(1)), q.bytes(2))) return REGSTORE_OK;
    }
    return rc == SQLITE_DONE ? REGSTORE_OK : fail(*c, "enumerate values", rc);
}

uint32_t RegStore_QueryValue(HREGKEY key, std::string_view name, uint32_t* type,
                             std::string* data) {
    if (key == HREGKEY_NONE || !validName(name, kMaxValueNameBytes)) return REGSTORE_E_INVALID;
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    bool exact = false;
    if (const uint32_t rc = exactNames(*c, key, &exact); rc != REGSTORE_OK)
        return rc == REGSTORE_E_KEY_DELETED ? REGSTORE_E_NOT_FOUND : rc;
    Query q(*c, exact ? "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2 COLLATE BINARY"
                      : "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2 COLLATE NOCASE");
    q.bind(1, key).bindText(2, name);
    const int rc = q.step();
    if (rc == SQLITE_ROW) {
        if (type) *type = static_cast<uint32_t>(q.i64(0));
        if (data) data->assign(q.bytes(1));
        return REGSTORE_OK;
    }
    return rc == SQLITE_DONE ? REGSTORE_E_NOT_FOUND : fail(*c, "query value", rc);
}

uint32_t RegStore_SetValue(HREGKEY key, std::string_view name, uint32_t type,
                           std::string_view data) {
    if (key == HREGKEY_NONE || !validName(name, kMaxValueNameBytes)) return REGSTORE_E_INVALID;
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    return write(*c, "set value", [&] { return upsertValue(*c, key, name, type, data); });
}

bool RegStore_ValidValueName(std::string_view name) {
    return validName(name, kMaxValueNameBytes);
}

uint32_t RegStore_DeleteValue(HREGKEY key, std::string_view name) {
    if (key == HREGKEY_NONE || !validName(name, kMaxValueNameBytes)) return REGSTORE_E_INVALID;
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    return write(*c, "delete value", [&]() -> uint32_t {
        bool exact = false;
        if (const uint32_t rc = exactNames(*c, key, &exact); rc != REGSTORE_OK)
            return rc == REGSTORE_E_KEY_DELETED ? REGSTORE_E_NOT_FOUND : rc;
        Query q(*c, exact ? "DELETE FROM vals WHERE key = ?1 AND name = ?2 COLLATE BINARY"
                          : "DELETE FROM vals WHERE key = ?1 AND name = ?2 COLLATE NOCASE");
        q.bind(1, key).bindText(2, name);
        if (const int rc = q.step(); rc != SQLITE_DONE) return fail(*c, "delete value", rc);
        return sqlite3_changes(c->db) > 0 ? REGSTORE_OK : REGSTORE_E_NOT_FOUND;
    });
}

uint32_t RegStore_DeleteTree(HREGKEY parent, std::string_view path) {
    if (parent == HREGKEY_NONE) return REGSTORE_E_INVALID;
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    return write(*c, "delete key", [&]() -> uint32_t {
        HREGKEY key = HREGKEY_NONE;
        const auto parts = splitPath(path);
        if (parts.empty()) {
            if (!keyExists(*c, parent)) return REGSTORE_E_NOT_FOUND;
            key = parent;
        } else if (const uint32_t rc = walk(*c, parent, parts, false, &key); rc) {
            return rc;
        }
        if (key == HREGKEY_USER) return REGSTORE_E_INVALID;
        Query q(*c, "DELETE FROM keys WHERE id = ?1");
        q.bind(1, key);
        const int rc = q.step();
        return rc == SQLITE_DONE ? REGSTORE_OK : fail(*c, "delete key", rc);
    });
}

uint32_t RegStore_CopyTree(HREGKEY src, HREGKEY dst) {
    if (src == HREGKEY_NONE || dst == HREGKEY_NONE) return REGSTORE_E_INVALID;
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    return write(*c, "copy key", [&]() -> uint32_t {
        if (!keyExists(*c, src) || !keyExists(*c, dst)) return REGSTORE_E_NOT_FOUND;
        // A copy into its own subtree would never end.
        for (HREGKEY k = dst; k != HREGKEY_NONE;) {
            if (k == src) return REGSTORE_E_INVALID;
            Query q(*c, "SELECT coalesce(parent, 0) FROM keys WHERE id = ?1");
            q.bind(1, k);
            k = q.step() == SQLITE_ROW ? q.i64(0) : HREGKEY_NONE;
        }
        return copyInto(*c, src, dst);
    });
}

uint64_t RegStore_ChangeCount() {
    return g_changes.load();
}

void RegStore_ReleaseMemory() {
    if (t_conn && t_conn->db) sqlite3_db_release_memory(t_conn->db);
    malloc_trim(0);
}

void RegStore_SetCheckpointOnClose(bool checkpoint) {
    g_checkpointOnClose = checkpoint;
}

uint32_t RegStore_Flush(HREGKEY key) {
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    if (!keyExists(*c, key)) return REGSTORE_E_KEY_DELETED;
    if (c->batchDepth > 0) return REGSTORE_OK; // the batch's commit comes later
    const int rc =
        sqlite3_wal_checkpoint_v2(c->db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return rc == SQLITE_OK ? REGSTORE_OK : fail(*c, "flush", rc);
}

uint32_t RegStore_BeginBatch() {
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    if (c->batchDepth == 0) {
        Query begin(*c, "BEGIN IMMEDIATE");
        if (const int rc = begin.step(); rc != SQLITE_DONE) return fail(*c, "begin batch", rc);
        c->batchError = REGSTORE_OK;
    }
    ++c->batchDepth;
    return REGSTORE_OK;
}

namespace {

// Commits the batch's transaction: its result, or the error of an earlier
// write whose transaction was lost.
uint32_t commitBatch(Conn& c) {
    uint32_t result = c.batchError;
    if (!sqlite3_get_autocommit(c.db)) {
        Query commit(c, "COMMIT");
        if (const int rc = commit.step(); rc != SQLITE_DONE) {
            result = fail(c, "commit batch", rc);
            Query rollback(c, "ROLLBACK");
            rollback.step();
        }
    }
    return result;
}

} // namespace

uint32_t RegStore_EndBatch() {
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    if (c->batchDepth == 0) return REGSTORE_E_INVALID;
    if (--c->batchDepth > 0) return REGSTORE_OK;
    return commitBatch(*c);
}

uint32_t RegStore_CommitNow() {
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    if (c->batchDepth == 0) return REGSTORE_OK;
    const uint32_t result = commitBatch(*c);
    c->batchError = result;
    // Without a fresh transaction the batch's later writes commit one by one.
    Query begin(*c, "BEGIN IMMEDIATE");
    if (begin.step() != SQLITE_DONE && c->batchError == REGSTORE_OK) c->batchError = REGSTORE_E_IO;
    return result;
}

uint32_t RegStore_CancelBatch() {
    Conn* c;
    if (const uint32_t rc = conn(&c); rc) return rc;
    if (c->batchDepth != 1) return REGSTORE_E_INVALID;
    c->batchDepth = 0;
    if (!sqlite3_get_autocommit(c->db)) {
        Query rollback(*c, "ROLLBACK");
        rollback.step();
    }
    return REGSTORE_OK;
}

namespace {

const char* plainText(uint32_t code) {
    switch (code) {
    case REGSTORE_OK:
        return "The operation completed successfully.";
    case REGSTORE_E_NOT_FOUND:
        return "The key or value was not found.";
    case REGSTORE_E_ACCESS:
        return "Access to the settings store was denied.";
    case REGSTORE_E_NOMEM:
        return "Not enough memory.";
    case REGSTORE_E_INVALID:
        return "The parameter is incorrect.";
    case REGSTORE_E_DISK_FULL:
        return "No space left on device.";
    case REGSTORE_E_BUSY:
        return "The settings store is in use by another process.";
    case REGSTORE_E_NO_MORE_ITEMS:
        return "No more data is available.";
    case REGSTORE_E_CORRUPT:
        return "The settings store is corrupt.";
    case REGSTORE_E_KEY_DELETED:
        return "The key has been deleted.";
    case REGSTORE_E_IO:
        return "The settings store could not be read or written.";
    default:
        return "Unknown error";
    }
}

// For a URI filename: every byte but the plain ones as %XX.
std::string uriPath(const std::string& path) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char ch : path) {
        if (std::isalnum(ch) || std::strchr("/-._~", ch)) {
            out += static_cast<char>(ch);
        } else {
            out += '%';
            out += kHex[ch >> 4];
            out += kHex[ch & 15];
        }
    }
    return out;
}

// A URI for the store file, to which parameters are added with '&'. It
// names the system's own file layer: on a connection to the memory copy the
// memory one would be taken.
std::string fileUri(const std::string& path) {
    return "file:" + uriPath(path) + "?vfs=" + sqlite3_vfs_find(nullptr)->zName;
}

bool fileHoldsData(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

int execOn(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
}

// Copies the store file's schema, rows and version into the empty database of
// `mem`. A file-level copy would keep the write-ahead-log mode in its header,
// which a memory database cannot take.
int copyStoreInto(sqlite3* mem, const std::string& path) {
    // mode=ro reads the committed log too, but needs the log's index file,
    // which a full disk may not be able to hold; immutable reads the main
    // file alone.
    const std::string file = fileUri(path);
    int rc = SQLITE_ERROR;
    for (const char* how : {"&mode=ro", "&immutable=1"}) {
        char* sql = sqlite3_mprintf("ATTACH %Q AS src", (file + how).c_str());
        rc = sqlite3_exec(mem, sql, nullptr, nullptr, nullptr);
        sqlite3_free(sql);
        // ATTACH opens lazily: the first read tells.
        if (rc == SQLITE_OK) rc = execOn(mem, "SELECT count(*) FROM src.sqlite_schema");
        if (rc == SQLITE_OK) {
            if (how[1] == 'i' && fileHoldsData(path + "-wal"))
                DebugLog_Write("RegStore: the write-ahead log of %s cannot be read; the copy "
                               "holds what the file itself holds\n",
                               path.c_str());
            break;
        }
        DebugLog_Write("RegStore: reading %s (%s) failed: %s (%d)\n", path.c_str(), how,
                       sqlite3_errmsg(mem), rc);
        execOn(mem, "DETACH src");
    }
    if (rc != SQLITE_OK) return rc;
    struct Object {
        std::string name, sql; // name: "" for an index
    };
    std::vector<Object> objects;
    int version = 0;
    {
        sqlite3_stmt* st = nullptr;
        rc = sqlite3_prepare_v2(mem,
                                "SELECT iif(type = 'table', name, ''), sql FROM src.sqlite_schema "
                                "WHERE sql IS NOT NULL AND name NOT LIKE 'sqlite_%' "
                                "ORDER BY type <> 'table', rowid",
                                -1, &st, nullptr);
        while (rc == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            objects.push_back({reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                               reinterpret_cast<const char*>(sqlite3_column_text(st, 1))});
        if (rc == SQLITE_OK) rc = sqlite3_finalize(st);
        if (rc == SQLITE_OK)
            rc = sqlite3_prepare_v2(mem, "PRAGMA src.user_version", -1, &st, nullptr);
        if (rc == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) version = sqlite3_column_int(st, 0);
        if (rc == SQLITE_OK) rc = sqlite3_finalize(st);
    }
    if (rc == SQLITE_OK) rc = execOn(mem, "BEGIN");
    for (const Object& o : objects) {
        if (rc == SQLITE_OK) rc = execOn(mem, o.sql);
        if (rc == SQLITE_OK && !o.name.empty()) {
            char* copy = sqlite3_mprintf("INSERT INTO main.\"%w\" SELECT * FROM src.\"%w\"",
                                         o.name.c_str(), o.name.c_str());
            rc = sqlite3_exec(mem, copy, nullptr, nullptr, nullptr);
            sqlite3_free(copy);
        }
    }
    if (rc == SQLITE_OK) rc = execOn(mem, "PRAGMA main.user_version = " + std::to_string(version));
    rc = rc == SQLITE_OK ? execOn(mem, "COMMIT") : (execOn(mem, "ROLLBACK"), rc);
    execOn(mem, "DETACH src");
    return rc;
}

// `name`: a path, or a URI with SQLITE_OPEN_URI in `flags`.
uint32_t quickCheck(const std::string& name, int flags) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(name.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    std::string verdict;
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        sqlite3_stmt* st = nullptr;
        rc = sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &st, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(st);
            if (rc == SQLITE_ROW) {
                const unsigned char* text = sqlite3_column_text(st, 0);
                verdict = text ? reinterpret_cast<const char*>(text) : "";
                rc = SQLITE_OK;
            }
        }
        sqlite3_finalize(st);
    }
    const uint32_t code = rc == SQLITE_OK ? (verdict == "ok" ? REGSTORE_OK : REGSTORE_E_CORRUPT)
                                          : mapFileError(rc, sqlite3_system_errno(db));
    DebugLog_Write("RegStore: quick check of %s: %s\n", name.c_str(),
                   rc == SQLITE_OK ? verdict.c_str() : sqlite3_errmsg(db));
    sqlite3_close_v2(db);
    return code;
}

} // namespace

const char* RegStore_ErrorText(uint32_t code) {
    const char* text = plainText(code);
    if (code != REGSTORE_E_ACCESS && code != REGSTORE_E_DISK_FULL && code != REGSTORE_E_CORRUPT &&
        code != REGSTORE_E_IO)
        return text;
    // The few distinct texts are kept for the life of the process, so the
    // result can stay a plain pointer.
    static std::mutex mu;
    static std::set<std::string> texts;
    std::string t(text);
    t.pop_back(); // the full stop
    t += " (" + RegStore_Path() + ").";
    std::lock_guard lock(mu);
    return texts.insert(std::move(t)).first->c_str();
}

REGSTORE_FAULTS RegStore_Faults() {
    return {g_damaged.load(), g_diskFull.load()};
}

uint32_t RegStore_QuickCheck() {
    const std::string path = RegStore_Path();
    uint32_t code = quickCheck(path, SQLITE_OPEN_READWRITE);
    // A full disk cannot hold the log's index file; a file without a log
    // can be read as it is.
    if (code == REGSTORE_E_DISK_FULL && !fileHoldsData(path + "-wal"))
        code = quickCheck(fileUri(path) + "&immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
    return code;
}

uint32_t RegStore_SetAsideIfDamaged(std::string* aside) {
    aside->clear();
    if (const uint32_t verdict = RegStore_QuickCheck(); verdict != REGSTORE_E_CORRUPT)
        return verdict;
    std::string path;
    uint64_t gen;
    {
        std::lock_guard lock(g_mu);
        if (g_memory) return REGSTORE_E_ACCESS; // the file is not to be written now
        path = g_generation.load() ? g_path : Paths_RegistryFile();
        g_path = path;
        gen = ++g_generation; // every thread lets go of the damaged file
    }
    t_conn.reset();
    const time_t now = time(nullptr);
    struct tm lt {};
    localtime_r(&now, &lt);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "-damaged-%Y%m%d-%H%M%S", &lt);
    std::string name = path + stamp;
    for (int n = 2; access(name.c_str(), F_OK) == 0 && n < 100; ++n)
        name = path + stamp + "-" + std::to_string(n);
    if (rename(path.c_str(), name.c_str()) != 0) {
        DebugLog_Write("RegStore: cannot rename %s: %s\n", path.c_str(), std::strerror(errno));
        return noteFault(errno == ENOSPC || errno == EDQUOT ? REGSTORE_E_DISK_FULL
                                                            : REGSTORE_E_ACCESS);
    }
    // The log belongs to the damaged file; the index file is rebuilt from it.
    // An empty log is only what the store keeps between runs.
    if (!fileHoldsData(path + "-wal"))
        unlink((path + "-wal").c_str());
    else if (rename((path + "-wal").c_str(), (name + "-wal").c_str()) != 0 && errno != ENOENT)
        DebugLog_Write("RegStore: cannot rename %s-wal: %s\n", path.c_str(), std::strerror(errno));
    unlink((path + "-shm").c_str());
    DebugLog_Write("RegStore: the damaged store %s was renamed to %s\n", path.c_str(),
                   name.c_str());
    *aside = name;
    return openConn(path, gen, &t_conn);
}

uint32_t RegStore_UseMemoryCopy() {
    std::string path;
    {
        std::lock_guard lock(g_mu);
        if (g_memory) return REGSTORE_OK;
        path = g_generation.load() ? g_path : Paths_RegistryFile();
    }
    static std::atomic<int> serial{0};
    // A name beginning with '/' is what lets every connection of the process
    // share one memory database.
    const std::string uri = "file:/inboxwarden-store-" + std::to_string(getpid()) + "-" +
                            std::to_string(++serial) + "?vfs=memdb";
    sqlite3* anchor = nullptr;
    int rc = sqlite3_open_v2(uri.c_str(), &anchor,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr);
    if (rc == SQLITE_OK) rc = copyStoreInto(anchor, path);
    if (rc != SQLITE_OK) {
        const uint32_t code = noteFault(mapFileError(rc, sqlite3_system_errno(anchor)));
        DebugLog_Write("RegStore: no copy in memory of %s: %s (%d)\n", path.c_str(),
                       sqlite3_errmsg(anchor), rc);
        sqlite3_close_v2(anchor);
        return code;
    }
    {
        std::lock_guard lock(g_mu);
        g_path = path;
        g_memUri = uri;
        g_memAnchor = anchor;
        g_memory = g_keepFile = true;
        ++g_generation;
    }
    t_conn.reset();
    DebugLog_Write("RegStore: working on a copy in memory of %s\n", path.c_str());
    return REGSTORE_OK;
}

bool RegStore_IsMemoryCopy() {
    std::lock_guard lock(g_mu);
    return g_memory;
}

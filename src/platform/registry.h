// SPDX-License-Identifier: GPL-3.0-or-later
// The per-user hierarchical store of keys holding named, typed values that
// stands in for the desktop registry hive. One SQLite database per user
// (Paths_RegistryFile(), mode 0600, WAL): every write is committed before the
// call returns, several processes may use the store at once, and a process
// killed in the middle of a write leaves no half-written value behind.
//
// Key and value names compare ignoring ASCII letter case and keep the case
// they were created with; only the values of keys named MsgBox, which are
// named by message ids, compare their names exactly (byte for byte). Subkeys enumerate in
// case-insensitive name order, values in the order they were first written (overwriting keeps the
// place). Key paths separate their levels with '\\'; empty levels are skipped.
//
// Every call may be made from any thread; each thread gets its own database
// connection. Results are REGSTORE_OK or one of the error numbers below
// (numbered like the desktop platform's, so user-visible messages can carry
// "the system's numeric error code"); RegStore_ErrorText gives their text.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// A key: its identity in the store. Keys need no closing; a key deleted
// behind a caller's back simply stops being found.
using HREGKEY = int64_t;
inline constexpr HREGKEY HREGKEY_NONE = 0;
inline constexpr HREGKEY HREGKEY_USER = 1; // the top of the store ("HKEY_CURRENT_USER")

// Value types (the desktop platform's numbers, which profile files carry).
enum : uint32_t { REGTYPE_SZ = 1, REGTYPE_BINARY = 3, REGTYPE_DWORD = 4 };

enum : uint32_t {
    REGSTORE_OK = 0,
    REGSTORE_E_NOT_FOUND = 2,       // no such key or value
    REGSTORE_E_ACCESS = 5,          // the store file cannot be opened or written
    REGSTORE_E_NOMEM = 8,           // out of memory
    REGSTORE_E_INVALID = 87,        // bad argument (empty name, bad type, key into itself)
    REGSTORE_E_DISK_FULL = 112,     // no space left for the write
    REGSTORE_E_BUSY = 170,          // another process held the store for too long
    REGSTORE_E_NO_MORE_ITEMS = 259, // enumeration index past the last item
    REGSTORE_E_CORRUPT = 1015,      // the store file is damaged
    REGSTORE_E_KEY_DELETED = 1018,  // the key was deleted
    REGSTORE_E_IO = 1117,           // a read or write of the file failed
};

// Selects the store file ("" = Paths_RegistryFile()) for the whole process,
// creating it and its folder (0700) when missing. Calls made before it open
// the default file. Returns REGSTORE_OK or an error.
uint32_t RegStore_Open(const std::string& path = "");

// Path of the selected store file.
std::string RegStore_Path();

// Opens `path` below `parent`, creating missing levels. An empty path gives
// `parent` itself.
uint32_t RegStore_CreateKey(HREGKEY parent, std::string_view path, HREGKEY* out);

// Opens an existing key; REGSTORE_E_NOT_FOUND when a level is missing.
uint32_t RegStore_OpenKey(HREGKEY parent, std::string_view path, HREGKEY* out);

// Counts and longest lengths (bytes) of a key's subkey names, value names and
// value data. Any output pointer may be null.
uint32_t RegStore_QueryInfoKey(HREGKEY key, uint32_t* subkeys, uint32_t* maxSubkeyLen,
                               uint32_t* values, uint32_t* maxValueNameLen, uint32_t* maxValueLen);

// Name of the index-th subkey; REGSTORE_E_NO_MORE_ITEMS past the last.
uint32_t RegStore_EnumKey(HREGKEY key, uint32_t index, std::string* name);

// The index-th value; REGSTORE_E_NO_MORE_ITEMS past the last. Each call is a
// query of its own: to walk a large key use RegStore_ForEachValue.
uint32_t RegStore_EnumValue(HREGKEY key, uint32_t index, std::string* name, uint32_t* type,
                            std::string* data);

// Calls `fn` for every value of `key` in order, from one consistent
// snapshot; `fn` returns false to stop early. `fn` must not write the store.
using RegValueFn = std::function<bool(std::string_view name, uint32_t type, std::string_view data)>;
uint32_t RegStore_ForEachValue(HREGKEY key, const RegValueFn& fn);

// Reads a value: its type and its bytes (strings include their NUL).
// REGSTORE_E_NOT_FOUND when absent. `type` and `data` may be null.
uint32_t RegStore_QueryValue(HREGKEY key, std::string_view name, uint32_t* type, std::string* data);

// Writes a value (creating it or replacing its type and bytes).
// REGSTORE_E_INVALID for a name RegStore_ValidValueName refuses.
uint32_t RegStore_SetValue(HREGKEY key, std::string_view name, uint32_t type,
                           std::string_view data);

// Whether the store takes `name` as a value's name.
bool RegStore_ValidValueName(std::string_view name);

// Deletes one value; REGSTORE_E_NOT_FOUND when absent.
uint32_t RegStore_DeleteValue(HREGKEY key, std::string_view name);

// Deletes the key at `path` below `parent` with all its subkeys and values.
// REGSTORE_E_NOT_FOUND when it does not exist; the top key cannot be deleted.
uint32_t RegStore_DeleteTree(HREGKEY parent, std::string_view path);

// Copies every value and subkey of `src` into `dst` (which must exist),
// merging with what `dst` holds; values present in both take src's. All or
// nothing. Copying a key into itself or its own subtree is refused.
uint32_t RegStore_CopyTree(HREGKEY src, HREGKEY dst);

// The number of writes, in any thread, that changed the store (a value
// written again as it was does not count; a write undone by a cancelled
// batch still does). Tells a save whether it has anything to save.
uint64_t RegStore_ChangeCount();

// Gives back what this thread's connection caches and the heap holds free,
// after a pass that read much of the store once (the boxes at start-up).
void RegStore_ReleaseMemory();

// Makes the committed writes durable against a power loss as well (a
// checkpoint of the write-ahead log).
uint32_t RegStore_Flush(HREGKEY key);

// Whether the last connection to let go of the store copies the log into it
// (the default). Without, a short command's writes stay in the log, which
// every opener reads, until a later checkpoint: two syncs fewer per run, and
// committed writes are as safe as between the checkpoints of a long run.
// For connections opened afterwards.
void RegStore_SetCheckpointOnClose(bool checkpoint);

// Groups this thread's writes into one transaction until the matching
// RegStore_EndBatch; batches nest (only the outermost commits). Other
// processes wait for the store while a batch is open: keep batches short.
// EndBatch returns the result of the commit (or REGSTORE_OK for an inner one).
uint32_t RegStore_BeginBatch();
uint32_t RegStore_EndBatch();

// Commits this thread's writes so far, also inside a batch, which goes on in
// a fresh transaction: for writes that must not share the fate of the rest.
// REGSTORE_OK outside a batch; else the commit's result, or the error of an
// earlier write of the batch whose transaction was lost.
uint32_t RegStore_CommitNow();

// Ends this thread's outermost batch without committing: every write made
// inside it is undone. REGSTORE_E_INVALID when no batch is open or an inner
// one is (nothing changes then; the caller ends it with EndBatch).
uint32_t RegStore_CancelBatch();

// One batch for a scope: the writes made while it lives commit as one
// transaction, and the batch ends on every way out. A batch that could not
// begin leaves each write committing on its own.
class RegStoreBatch {
  public:
    RegStoreBatch() : begun_(RegStore_BeginBatch()), open_(begun_ == REGSTORE_OK) {}
    ~RegStoreBatch() { Commit(); }
    RegStoreBatch(const RegStoreBatch&) = delete;
    RegStoreBatch& operator=(const RegStoreBatch&) = delete;

    // REGSTORE_OK when the batch began, else why it did not.
    uint32_t BeginResult() const { return begun_; }
    bool IsOpen() const { return open_; }

    // Ends the batch now; RegStore_EndBatch's result (REGSTORE_OK when it
    // was not open).
    uint32_t Commit() {
        if (!open_) return REGSTORE_OK;
        open_ = false;
        return RegStore_EndBatch();
    }

    // Undoes the batch's writes; when that is refused (it is nested in an
    // outer one) the batch is only ended. RegStore_CancelBatch's result.
    uint32_t Cancel() {
        if (!open_) return REGSTORE_OK;
        open_ = false;
        const uint32_t rc = RegStore_CancelBatch();
        if (rc != REGSTORE_OK) RegStore_EndBatch();
        return rc;
    }

    // Commits and opens a fresh batch, so that a long pass lets other
    // processes at the store in between.
    uint32_t Restart() {
        const uint32_t rc = Commit();
        begun_ = RegStore_BeginBatch();
        open_ = begun_ == REGSTORE_OK;
        return rc;
    }

  private:
    uint32_t begun_;
    bool open_;
};

// Text for a REGSTORE_* number (or "Unknown error"). The failures of the
// file itself (access, disk full, damage, input/output) name the store file.
// The text stays valid for the life of the process.
const char* RegStore_ErrorText(uint32_t code);

// ---- A damaged store, a full disk -------------------------------------------
// The store only reports these; the settings start-up decides what to do.

// How many calls since the process began reported the store damaged
// (REGSTORE_E_CORRUPT) or the disk full (REGSTORE_E_DISK_FULL), so that a
// caller can tell whether a step of its own met either.
struct REGSTORE_FAULTS {
    uint64_t damaged = 0;
    uint64_t diskFull = 0;
};
REGSTORE_FAULTS RegStore_Faults();

// Judges the selected store file with SQLite's quick check, on a connection
// of its own. It reads the whole file: meant for when damage was reported,
// not for every start.
//   REGSTORE_OK          the file passed
//   REGSTORE_E_CORRUPT   it failed, or the file is not a database
//   other                the check could not run; the file is not judged
uint32_t RegStore_QuickCheck();

// When RegStore_QuickCheck gives REGSTORE_E_CORRUPT: renames the store file
// (with its write-ahead log) to "<file>-damaged-YYYYMMDD-HHMMSS" (local time)
// and opens a new, empty store in its place; every thread's next call uses
// the new one. *aside gets the new name of the damaged file whenever it was
// renamed, "" when it was left as it is. Returns REGSTORE_OK, the check's
// result when it could not judge, or the error of the rename or of opening
// the new store (which a full disk may refuse; *aside is set then).
// REGSTORE_E_ACCESS while RegStore_UseMemoryCopy is in force.
uint32_t RegStore_SetAsideIfDamaged(std::string* aside);

// For a disk too full to write the store: from now on this process works on a
// private copy in memory of the selected store as it is now (its write-ahead
// log included where SQLite can still read it, else the main file alone). The
// file is not written again by this process, until the next RegStore_Open.
// Returns REGSTORE_OK (also when already in force) or the error of reading
// the file.
uint32_t RegStore_UseMemoryCopy();

// Whether RegStore_UseMemoryCopy is in force.
bool RegStore_IsMemoryCopy();

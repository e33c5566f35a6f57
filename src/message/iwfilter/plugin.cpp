// SPDX-License-Identifier: GPL-3.0-or-later
// The filter plug-in the program ships (libiwfilter.so): header rules per
// account and global ones, kept in the settings store through the callback
// table the program hands over, so that profiles carry them. It has no
// editor of its own: the program edits the rules as a rule file through
// Filter_Export and Filter_Import. It links nothing of the program and no
// Qt, so the command line loads it without a display.
#include "message/filter_rules.h"
#include "message/iwfilter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#define IWF_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr uint32_t kNoMem = 0xF0000001u;
constexpr uint32_t kNotReady = 0xF0000002u;
constexpr uint32_t kBadArg = 0xF0000003u;
constexpr uint32_t kNotFound = 0xF0000006u;
constexpr uint32_t kCreate = 0xF000000Cu;
constexpr uint32_t kOperation = 0xF000F000u;

// The value under the filter's key that holds its rules, as a rule file.
constexpr const char* kRulesValue = "FilterRules";
constexpr const char* kGlobalKey = "_GLB_SETTINGS_";

} // namespace

struct iwf_filter {
    IWF_STORE store{};
    std::string keyPath;
    bool global = false;
    std::string filterFile;         // global only: the GlbFilterFile setting
    std::vector<FILTER_RULE> rules; // the stored rules, in order
    FILTER_RULESET active;          // the same, ready to match
    FILTER_RULESET fromFile;        // global only: the rules of filterFile
    std::string lastError;
};

namespace {

// The open global filter, whose rules apply after an account's own. The
// program never calls in from two threads at once, so no lock.
iwf_filter* g_global = nullptr;

bool endsWithGlobalKey(const std::string& path) {
    const size_t cut = path.rfind('\\');
    const std::string last = cut == std::string::npos ? path : path.substr(cut + 1);
    return strcasecmp(last.c_str(), kGlobalKey) == 0;
}

// Reads a file of at most FILTER_MAX_FILE bytes: 0, or kOperation with the
// reason in *error.
uint32_t readFile(const char* name, std::string* out, std::string* error) {
    const int fd = open(name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *error = std::string("cannot open \"") + name + "\": " + std::strerror(errno);
        return kOperation;
    }
    struct stat st {};
    uint32_t rc = 0;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = std::string("\"") + name + "\" is not a file";
        rc = kOperation;
    } else if (static_cast<uint64_t>(st.st_size) > FILTER_MAX_FILE) {
        *error = std::string("\"") + name + "\" is larger than " +
                 std::to_string(FILTER_MAX_FILE / 1024) + " KiB";
        rc = kOperation;
    } else {
        out->assign(static_cast<size_t>(st.st_size), '\0');
        size_t got = 0;
        while (got < out->size()) {
            const ssize_t n = read(fd, out->data() + got, out->size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        out->resize(got);
    }
    close(fd);
    return rc;
}

// Writes beside the target and renames over it once complete, mode 0600.
uint32_t writeFile(const char* name, const std::string& text, std::string* error) {
    std::string tmp = std::string(name) + ".XXXXXX";
    const int fd = mkstemp(tmp.data());
    if (fd < 0) {
        *error = std::string("cannot create \"") + name + "\": " + std::strerror(errno);
        return kCreate;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    const int err = ok ? 0 : errno;
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && rename(tmp.c_str(), name) == 0) return 0;
    *error = std::string("cannot write \"") + name + "\": " + std::strerror(err ? err : errno);
    unlink(tmp.c_str());
    return kCreate;
}

// The stored rules; a value that is absent means none. Lines the plug-in
// cannot read (a store edited by hand) are skipped, not fatal.
std::vector<FILTER_RULE> loadStored(const iwf_filter& f) {
    std::vector<FILTER_RULE> rules;
    if (!f.store.get_value) return rules;
    uint32_t type = 0, len = 0;
    const uint32_t probe =
        f.store.get_value(f.store.ctx, f.keyPath.c_str(), kRulesValue, &type, nullptr, &len);
    if ((probe != 0 && probe != kBadArg) || len == 0 || len > FILTER_MAX_FILE + 1) return rules;
    std::string text(len, '\0');
    if (f.store.get_value(f.store.ctx, f.keyPath.c_str(), kRulesValue, &type, text.data(), &len) !=
        0)
        return rules;
    text.resize(std::min<size_t>(len, text.size()));
    text.resize(std::strlen(text.c_str()));
    FilterRules_Parse(text, false, &rules, nullptr);
    return rules;
}

uint32_t saveStored(iwf_filter& f, const std::vector<FILTER_RULE>& rules) {
    if (!f.store.set_value) return kNotReady;
    uint32_t rc;
    if (rules.empty()) {
        rc = f.store.delete_value(f.store.ctx, f.keyPath.c_str(), kRulesValue);
        if (rc == kNotFound) rc = 0;
    } else {
        const std::string text = FilterRules_Format(rules);
        rc = f.store.set_value(f.store.ctx, f.keyPath.c_str(), kRulesValue, IWF_TYPE_STRING,
                               text.c_str(), static_cast<uint32_t>(text.size() + 1));
    }
    if (rc != 0) f.lastError = "the rules could not be stored";
    return rc;
}

// Stores `rules` and, once stored, makes them the ones that match.
uint32_t replaceRules(iwf_filter& f, std::vector<FILTER_RULE> rules) {
    if (const uint32_t rc = saveStored(f, rules); rc != 0) return rc;
    f.rules = std::move(rules);
    f.active.Assign(f.rules);
    return 0;
}

void loadAll(iwf_filter& f) {
    f.rules = loadStored(f);
    f.active.Assign(f.rules);
    std::vector<FILTER_RULE> fileRules;
    if (f.global && !f.filterFile.empty()) {
        std::string text;
        if (readFile(f.filterFile.c_str(), &text, &f.lastError) == 0)
            FilterRules_Parse(text, true, &fileRules, &f.lastError);
    }
    f.fromFile.Assign(fileRules);
}

template <typename Fn> uint32_t guarded(Fn&& fn) {
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return kNoMem;
    } catch (...) {
        return kOperation;
    }
}

} // namespace

IWF_EXPORT uint32_t Filter_AbiVersion(void) {
    return IWFILTER_ABI_VERSION;
}

IWF_EXPORT uint32_t Filter_Initialize(const IWF_STORE* store, const char* display_name,
                                      const char* key_path, const char* filter_file,
                                      IWF_HANDLE* out) {
    (void)display_name;
    if (!out) return kBadArg;
    *out = nullptr;
    if (!store || !key_path || store->size < sizeof(IWF_STORE)) return kBadArg;
    return guarded([&] {
        auto* f = new iwf_filter;
        f->store = *store;
        f->keyPath = key_path;
        f->global = endsWithGlobalKey(f->keyPath);
        if (f->global && filter_file) f->filterFile = filter_file;
        loadAll(*f);
        if (f->global) g_global = f;
        *out = f;
        return 0u;
    });
}

IWF_EXPORT uint32_t Filter_ChangePath(IWF_HANDLE h, const IWF_STORE* store,
                                      const char* account_name, const char* new_key_path,
                                      const char* value) {
    (void)account_name, (void)value;
    if (!h || !new_key_path) return kBadArg;
    // The program moves the account's key with everything below it, the
    // rules included; only where to find them changes.
    return guarded([&] {
        h->keyPath = new_key_path;
        if (store && store->size >= sizeof(IWF_STORE)) h->store = *store;
        return 0u;
    });
}

IWF_EXPORT uint32_t Filter_GetMsgAction(IWF_HANDLE h, const char* message_text) {
    if (!h || !message_text) return 0;
    const std::string_view text(message_text);
    uint32_t actions = 0;
    try {
        if (h->active.Match(text, &actions)) return actions;
        iwf_filter* g = h->global ? h : g_global;
        if (g && g != h && g->active.Match(text, &actions)) return actions;
        if (g && g->fromFile.Match(text, &actions)) return actions;
    } catch (...) {
    }
    return 0;
}

IWF_EXPORT uint32_t Filter_Close(IWF_HANDLE h) {
    if (!h) return kNotReady;
    if (g_global == h) g_global = nullptr;
    delete h;
    return 0;
}

IWF_EXPORT uint32_t Filter_Reload(IWF_HANDLE h, int flags) {
    (void)flags;
    if (!h) return kNotReady;
    return guarded([&] {
        loadAll(*h);
        return 0u;
    });
}

IWF_EXPORT int32_t Filter_IsEmpty(IWF_HANDLE h) {
    return !h || h->rules.empty() ? 1 : 0;
}

IWF_EXPORT int32_t Filter_GetCount(IWF_HANDLE h) {
    return h ? static_cast<int32_t>(h->rules.size()) : -1;
}

IWF_EXPORT uint32_t Filter_Copy(IWF_HANDLE dst, IWF_HANDLE src, int append) {
    if (!dst || !src) return kNotReady;
    dst->lastError.clear();
    if (dst == src) return kBadArg;
    return guarded([&] {
        std::vector<FILTER_RULE> rules = append ? dst->rules : std::vector<FILTER_RULE>{};
        rules.insert(rules.end(), src->rules.begin(), src->rules.end());
        if (rules.size() > FILTER_MAX_RULES) {
            dst->lastError = "more than " + std::to_string(FILTER_MAX_RULES) + " rules";
            return kOperation;
        }
        return replaceRules(*dst, std::move(rules));
    });
}

IWF_EXPORT uint32_t Filter_DeleteAll(IWF_HANDLE h) {
    if (!h) return kNotReady;
    h->lastError.clear();
    return guarded([&] { return replaceRules(*h, {}); });
}

IWF_EXPORT uint32_t Filter_Export(IWF_HANDLE h, const char* file_name) {
    if (!h) return kNotReady;
    h->lastError.clear();
    if (!file_name || !*file_name) return kBadArg;
    return guarded(
        [&] { return writeFile(file_name, FilterRules_Format(h->rules), &h->lastError); });
}

// Replaces the rules with those of a rule file. The whole file is read and
// checked first: any fault leaves the rules as they were.
IWF_EXPORT uint32_t Filter_Import(IWF_HANDLE h, const char* file_name) {
    if (!h) return kNotReady;
    h->lastError.clear();
    if (!file_name || !*file_name) return kBadArg;
    return guarded([&] {
        std::string text;
        if (const uint32_t rc = readFile(file_name, &text, &h->lastError); rc != 0) return rc;
        std::vector<FILTER_RULE> rules;
        std::string why;
        if (!FilterRules_Parse(text, true, &rules, &why)) {
            h->lastError = std::string(file_name) + ": " + why;
            return kOperation;
        }
        return replaceRules(*h, std::move(rules));
    });
}

IWF_EXPORT uint32_t Filter_Modify(IWF_HANDLE h, uintptr_t owner) {
    (void)h, (void)owner;
    return IWF_NO_EDITOR;
}

IWF_EXPORT uint32_t Filter_BlockMsgDlg(IWF_HANDLE h, uintptr_t owner, int flags, const char* from,
                                       const char* to, const char* subject) {
    (void)h, (void)owner, (void)flags, (void)from, (void)to, (void)subject;
    return IWF_NO_EDITOR;
}

IWF_EXPORT const char* Filter_LastError(IWF_HANDLE h) {
    return h && !h->lastError.empty() ? h->lastError.c_str() : nullptr;
}

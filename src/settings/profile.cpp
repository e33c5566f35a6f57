// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/profile.h"
#include "common/text.h"
#include "common/translate.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/registry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                      "HKEY_LOCAL_MACHINE", "HKEY_USERS"};
constexpr size_t kMaxLine = 1 << 20;
// Commit the import every so many values: one transaction for the whole
// file would keep other processes (a second copy, the CLI) waiting.
constexpr int kValuesPerBatch = 20000;

ProfileProgressFn g_progress;
std::string g_lastFile;

bool knownRoot(std::string_view name) {
    for (const char* r : kRootNames)
        if (name == r) return true;
    return false;
}

// ---- Writer -----------------------------------------------------------------

class Out {
  public:
    explicit Out(FILES_WRITER* w) : w_(w) { buf_.reserve(1 << 16); }
    Out& operator<<(std::string_view s) {
        buf_.append(s);
        if (buf_.size() >= (1 << 16)) flush();
        return *this;
    }
    uint32_t flush() {
        if (!buf_.empty() && Files_Write(w_, buf_.data(), buf_.size()) != 0) failed_ = true;
        buf_.clear();
        return failed_ ? PROFILE_E_CREATE : 0;
    }

  private:
    FILES_WRITER* w_;
    std::string buf_;
    bool failed_ = false;
};

void writeValue(Out& out, std::string_view name, uint32_t type, std::string_view data) {
    out << "\"" << Profile_EscapeName(name) << "\"=";
    static constexpr char kHex[] = "0123456789abcdef";
    if (type == REGTYPE_SZ) {
        out << "\"" << Profile_Escape(data.substr(0, data.find('\0'))) << "\"";
    } else if (type == REGTYPE_DWORD) {
        uint32_t v = 0;
        std::memcpy(&v, data.data(), std::min<size_t>(4, data.size()));
        char num[16];
        std::snprintf(num, sizeof num, "dword:%08x", v);
        out << num;
    } else if (type == REGTYPE_BINARY) {
        std::string hex = "hex:";
        hex.reserve(4 + data.size() * 3);
        for (size_t i = 0; i < data.size(); ++i) {
            if (i) hex += ',';
            const auto b = static_cast<unsigned char>(data[i]);
            hex += kHex[b >> 4];
            hex += kHex[b & 15];
        }
        out << hex;
    }
    out << "\r\n";
}

uint32_t writeKey(Out& out, HREGKEY key, const std::string& header, const ProfileExtraFn& extra) {
    out << "[" << header << "]\r\n";
    const uint32_t rc = RegStore_ForEachValue(
        key, [&](std::string_view name, uint32_t type, std::string_view data) {
            writeValue(out, name, type, data);
            return true;
        });
    if (rc != REGSTORE_OK) return rc;
    if (extra)
        for (const PROFILE_VALUE& v : extra(header))
            writeValue(out, v.name, v.type, v.data);
    out << "\r\n";
    for (uint32_t i = 0;; ++i) {
        std::string name;
        const uint32_t erc = RegStore_EnumKey(key, i, &name);
        if (erc == REGSTORE_E_NO_MORE_ITEMS) break;
        if (erc != REGSTORE_OK) return erc;
        HREGKEY sub = HREGKEY_NONE;
        if (const uint32_t orc = RegStore_OpenKey(key, name, &sub); orc != REGSTORE_OK) return orc;
        if (const uint32_t wrc = writeKey(out, sub, header + "\\" + name, extra); wrc != 0)
            return wrc;
    }
    return 0;
}

// ---- Readers ----------------------------------------------------------------

const char32_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool parseHex(std::string_view s, uint32_t* out) {
    if (s.empty() || s.size() > 8) return false;
    uint32_t v = 0;
    for (char c : s) {
        const int d = Text_HexDigit(c);
        if (d < 0) return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    *out = v;
    return true;
}

// Inverse of Profile_Escape, and with `bytes` of Profile_EscapeName too.
std::string unescape(std::string_view text, bool bytes) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        // A profile holds tens of thousands of texts, most without an escape.
        const size_t slash = text.find('\\', i);
        out.append(text.substr(i, slash - i));
        if (slash == std::string_view::npos) break;
        i = slash;
        if (bytes && i + 3 < text.size() && text[i + 1] == 'x') {
            const int hi = Text_HexDigit(text[i + 2]), lo = Text_HexDigit(text[i + 3]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi << 4 | lo);
                i += 4;
                continue;
            }
        }
        const char n = i + 1 < text.size() ? text[i + 1] : '\0';
        if (n == '"' || n == '\\') {
            out += n;
            i += 2;
        } else if (n == 'n') {
            out += "\r\n";
            i += 2;
        } else {
            out += '\\';
            ++i;
        }
    }
    return out;
}

// Where a section applies: the part of its key path after the program's key
// ("" for the key itself), or nullopt when it lies outside.
std::optional<std::string_view> relativePath(std::string_view path, std::string_view keyPath) {
    if (path.size() < keyPath.size() || !Text_EqualsNoCase(path.substr(0, keyPath.size()), keyPath))
        return std::nullopt;
    std::string_view rest = path.substr(keyPath.size());
    if (rest.empty()) return rest;
    if (rest.front() != '\\') return std::nullopt;
    return rest.substr(1);
}

bool isMessageSection(std::string_view rel) {
    const size_t slash = rel.find('\\');
    return slash != std::string_view::npos && slash > 0 &&
           Text_EqualsNoCase(rel.substr(slash + 1), "MsgBox");
}

class Importer {
  public:
    // With a sink, the records are handed to it instead of being stored.
    Importer(bool messages, std::string keyPath, PROFILE_NOTICES* notices,
             const ProfileRecordFn* sink = nullptr)
        : messages_(messages), keyPath_(std::move(keyPath)), notices_(notices), sink_(sink) {
        if (!sink_) batch_.emplace();
    }

    void line(std::string_view raw) {
        std::string owned;
        if (const size_t z = raw.find('\x1A'); z != std::string_view::npos) {
            DebugLog_Write("Found CTRL-Z in .iwpf File\r\n%.*s\n", static_cast<int>(raw.size()),
                           raw.data());
            owned.assign(raw);
            owned.erase(z, 1);
            raw = owned;
        }
        if (raw.empty()) return;
        // A value's name is taken as written (message ids are bytes, decided
        // by the server); only its text is read as Windows-1252 when not UTF-8.
        if (raw.front() == '"') {
            if (key_ != HREGKEY_NONE) value(raw);
            return;
        }
        std::string converted;
        if (!Text_IsValidUtf8(raw)) {
            converted = Profile_FromCp1252(raw);
            raw = converted;
        }
        if (raw.front() == '[') return header(raw);
    }

  private:
    void header(std::string_view h) {
        key_ = HREGKEY_NONE;
        const size_t close = h.rfind(']');
        const size_t slash = h.find('\\');
        if (close == std::string_view::npos || slash == std::string_view::npos || slash > close)
            return skipSection(h);
        const std::string_view root = h.substr(1, slash - 1);
        const std::string_view path = h.substr(slash + 1, close - slash - 1);
        const auto rel = relativePath(path, keyPath_);
        if (!Text_EqualsNoCase(root, PROFILE_ROOT_NAME) || !rel) return skipSection(h);
        if (isMessageSection(*rel) != messages_) return;
        const HREGKEY account = messages_ ? accountKey(path) : HREGKEY_NONE;
        if (messages_ && account == HREGKEY_NONE) {
            // Deleted since the settings were read: its records would bring
            // it back as an account without settings.
            DebugLog_Write("Profile: messages of an account that is gone skipped: %.*s\n",
                           static_cast<int>(std::min<size_t>(path.size(), 300)), path.data());
            return;
        }
        if (sink_) {
            // The account names the box, which is only created by a store.
            key_ = account;
            return;
        }
        const uint32_t rc = RegStore_CreateKey(HREGKEY_USER, path, &key_);
        if (rc != REGSTORE_OK) {
            key_ = HREGKEY_NONE;
            char text[64];
            std::snprintf(text, sizeof text, "RegCreateKeyEx failed with error: %u", rc);
            DebugLog_Write("%s\n", text);
            if (notices_) notices_->push_back({PROFILE_NOTICE_CAPTION, text});
        }
    }

    static HREGKEY accountKey(std::string_view msgBoxPath) {
        HREGKEY account = HREGKEY_NONE;
        return RegStore_OpenKey(HREGKEY_USER, msgBoxPath.substr(0, msgBoxPath.rfind('\\')),
                                &account) == REGSTORE_OK
                   ? account
                   : HREGKEY_NONE;
    }

    uint32_t store(const std::string& name, uint32_t type, std::string_view data) {
        if (!sink_) return RegStore_SetValue(key_, name, type, data);
        if (!RegStore_ValidValueName(name)) return REGSTORE_E_INVALID;
        (*sink_)(key_, name, type, data);
        return REGSTORE_OK;
    }

    void skipSection(std::string_view h) {
        // Logged by the settings pass only, so each is reported once.
        if (!messages_)
            DebugLog_Write("Profile: section outside the program's settings skipped: %.*s\n",
                           static_cast<int>(std::min<size_t>(h.size(), 300)), h.data());
    }

    void value(std::string_view v) {
        size_t i = 1;
        while (i < v.size() && v[i] != '"') {
            if (v[i] == '\\' && i + 1 < v.size()) ++i;
            ++i;
        }
        if (i >= v.size() || i + 1 >= v.size() || v[i + 1] != '=') return;
        const std::string name = Profile_UnescapeName(v.substr(1, i - 1));
        std::string_view data = v.substr(i + 2);
        std::string converted;
        if (!Text_IsValidUtf8(data)) {
            converted = Profile_FromCp1252(data);
            data = converted;
        }
        uint32_t rc = REGSTORE_OK;
        if (!data.empty() && data.front() == '"') {
            if (data.size() < 2 || data.back() != '"') return;
            std::string text = Profile_Unescape(data.substr(1, data.size() - 2));
            text += '\0';
            rc = store(name, REGTYPE_SZ, text);
        } else if (data.substr(0, 6) == "dword:") {
            uint32_t n;
            if (!parseHex(data.substr(6), &n)) return;
            rc = store(name, REGTYPE_DWORD, std::string_view(reinterpret_cast<const char*>(&n), 4));
        } else if (data.substr(0, 4) == "hex:") {
            std::string bytes;
            for (size_t p = 4; p + 1 < data.size(); p += 3) {
                const int hi = Text_HexDigit(data[p]), lo = Text_HexDigit(data[p + 1]);
                if (hi < 0 || lo < 0) return;
                bytes += static_cast<char>(hi << 4 | lo);
            }
            rc = store(name, REGTYPE_BINARY, bytes);
        } else {
            return;
        }
        if (rc != REGSTORE_OK)
            DebugLog_Write("Profile: value \"%s\" not stored: %s\n", name.c_str(),
                           RegStore_ErrorText(rc));
        if (++values_ % kValuesPerBatch == 0 && batch_ && batch_->IsOpen()) keep(batch_->Restart());
    }

  public:
    // The import's end: 0 when what was read is in the store, else the
    // store's error. A commit that fails undoes its writes, which the caller
    // must not take for imported.
    uint32_t finish() {
        if (batch_) keep(batch_->Commit());
        return failed_;
    }

  private:
    void keep(uint32_t rc) {
        if (rc != REGSTORE_OK && failed_ == REGSTORE_OK) {
            DebugLog_Write("Profile: the import could not be committed: %s\n",
                           RegStore_ErrorText(rc));
            failed_ = rc;
        }
    }

    bool messages_;
    std::string keyPath_;
    PROFILE_NOTICES* notices_;
    const ProfileRecordFn* sink_;
    HREGKEY key_ = HREGKEY_NONE;
    std::optional<RegStoreBatch> batch_;
    int values_ = 0;
    uint32_t failed_ = REGSTORE_OK;
};

uint32_t importText(std::string_view text, bool messages, const char* magic,
                    const std::string& keyPath, PROFILE_NOTICES* notices,
                    const ProfileRecordFn* sink = nullptr) {
    const std::string_view kBom = "\xEF\xBB\xBF";
    if (text.substr(0, 3) == kBom) text.remove_prefix(3);
    size_t eol = text.find('\n');
    std::string_view first = text.substr(0, eol);
    if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
    if (first != (magic ? magic : PROFILE_MAGIC)) {
        DebugLog_WriteText(".iwpf File seems to be wrong format\r\n");
        if (notices)
            notices->push_back({PROFILE_NOTICE_CAPTION, ".iwpf File seems to be wrong format"});
        return PROFILE_E_FORMAT;
    }
    const char* loadText = messages ? "Message load " : "Profile load ";
    Importer imp(messages, keyPath, notices, sink);
    size_t pos = eol == std::string_view::npos ? text.size() : eol + 1;
    int shown = -1;
    while (pos < text.size()) {
        eol = text.find('\n', pos);
        const size_t end = eol == std::string_view::npos ? text.size() : eol;
        std::string_view l = text.substr(pos, end - pos);
        pos = end + 1;
        if (l.size() > kMaxLine) {
            DebugLog_Write("Profile: a line of %zu bytes skipped\n", l.size());
            continue;
        }
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        imp.line(l);
        if (g_progress) {
            const int pct =
                static_cast<int>(100.0 * static_cast<double>(std::min(pos, text.size())) /
                                 static_cast<double>(text.size()));
            if (pct != shown) {
                shown = pct;
                g_progress(std::string(loadText) + std::to_string(pct) + "% complete");
            }
        }
    }
    return imp.finish();
}

// The whole file into *text; an empty file is no error.
uint32_t readFile(const std::string& fileName, std::string* text, int64_t* fileSize,
                  PROFILE_NOTICES* notices) {
    const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        DebugLog_WriteText("fopen failed on .iwpf file\r\n");
        return PROFILE_E_OPEN;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        DebugLog_WriteText("_filelength failed on .iwpf file\r\n");
        if (notices)
            notices->push_back({PROFILE_NOTICE_CAPTION, "_filelength failed on .iwpf file"});
        close(fd);
        return PROFILE_E_READ;
    }
    if (fileSize) *fileSize = st.st_size;
    DebugLog_Write("File %s - %lld bytes\n", fileName.c_str(), static_cast<long long>(st.st_size));
    try {
        text->resize(static_cast<size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
        close(fd);
        return PROFILE_E_READ;
    }
    size_t got = 0;
    while (got < text->size()) {
        const ssize_t n = read(fd, text->data() + got, text->size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            DebugLog_Write("Profile: read of %s failed: %s\n", fileName.c_str(), strerror(errno));
            close(fd);
            return PROFILE_E_READ;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    text->resize(got);
    return 0;
}

uint32_t importFile(const std::string& fileName, bool messages, const char* magic,
                    const std::string& keyPath, int64_t* fileSize, PROFILE_NOTICES* notices) {
    const char* what = messages ? "Reading messages from .iwpf file into registry"
                                : "Reading settings from .iwpf file into registry";
    DebugLog_Write("%s\r\n", what);
    Profile_ShowProgress(what);
    std::string text;
    if (const uint32_t rc = readFile(fileName, &text, fileSize, notices); rc) return rc;
    if (!messages) g_lastFile = fileName;
    if (text.empty()) {
        DebugLog_WriteText("Looks like the .iwpf file is empty\r\n");
        if (notices)
            notices->push_back({PROFILE_NOTICE_CAPTION,
                                IW_N_("Inboxwarden", "Looks like the .iwpf file is empty"),
                                NOTICE_INFO});
        return 0;
    }
    const uint32_t rc = importText(text, messages, magic, keyPath, notices);
    if (rc) return rc;
    if (messages) {
        DebugLog_WriteText("Finished loading messages into registry\r\n");
        Profile_ShowProgress("Finished loading messages into registry");
    } else {
        DebugLog_WriteText("Finished loading account settings into registry\r\n");
        Profile_ShowProgress("Finished loading registry");
    }
    return 0;
}

std::string g_lastKeyPath = "Software\\Corvale\\Inboxwarden";

} // namespace

void Profile_SetProgressHandler(ProfileProgressFn fn) {
    g_progress = std::move(fn);
}

void Profile_ShowProgress(std::string_view text) {
    if (g_progress) g_progress(text);
}

std::string Profile_Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\r' || c == '\n') {
            out += "\\n";
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += c;
        }
    }
    return out;
}

std::string Profile_Unescape(std::string_view text) {
    return unescape(text, false);
}

std::string Profile_EscapeName(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 8);
    for (size_t pos = 0; pos < name.size();) {
        const size_t start = pos;
        Text_NextUtf8(name, &pos);
        const auto b = static_cast<unsigned char>(name[start]);
        if (pos - start == 1 && (b >= 0x80 || b < 0x20 || b == 0x7F)) {
            out += "\\x" + Text_ToHex(name.substr(start, 1));
        } else if (b == '"' || b == '\\') {
            out += '\\';
            out += static_cast<char>(b);
        } else {
            out.append(name, start, pos - start);
        }
    }
    return out;
}

std::string Profile_UnescapeName(std::string_view text) {
    return unescape(text, true);
}

std::string Profile_FromCp1252(std::string_view line) {
    std::string out;
    out.reserve(line.size() + line.size() / 2);
    for (unsigned char c : line) {
        if (c < 0x80)
            out += static_cast<char>(c);
        else if (c < 0xA0)
            Text_AppendUtf8(out, kCp1252High[c - 0x80]);
        else
            Text_AppendUtf8(out, c);
    }
    return out;
}

uint32_t Reg_ExportKey(const char* rootName, const std::string& keyPath, bool withNames,
                       const char* magic, const std::string& fileName,
                       const ProfileExtraFn& extra) {
    (void)withNames;
    if (!rootName || !knownRoot(rootName)) return PROFILE_E_BAD_ROOT;
    HREGKEY key = HREGKEY_NONE;
    if (RegStore_OpenKey(HREGKEY_USER, keyPath, &key) != REGSTORE_OK) return PROFILE_E_NO_KEY;
    FILES_WRITER w;
    if (Files_Begin(&w, fileName) != 0) {
        DebugLog_Write("Reg_ExportKey: cannot create %s: %s\n", fileName.c_str(), strerror(errno));
        return PROFILE_E_CREATE;
    }
    Out out(&w);
    out << (magic ? magic : "REGEDIT4") << "\r\n\r\n";
    uint32_t rc = writeKey(out, key, std::string(rootName) + "\\" + keyPath, extra);
    if (rc == 0) rc = out.flush();
    if (rc != 0) {
        Files_Abort(&w);
        return rc;
    }
    if (Files_Commit(&w) != 0) {
        DebugLog_Write("Reg_ExportKey: cannot write %s: %s\n", fileName.c_str(), strerror(errno));
        return PROFILE_E_CREATE;
    }
    return 0;
}

uint32_t Profile_ImportSettings(const std::string& fileName, const char* magic,
                                const char* rootName, const std::string& keyPath, int64_t* fileSize,
                                PROFILE_NOTICES* notices) {
    (void)rootName;
    g_lastKeyPath = keyPath;
    return importFile(fileName, false, magic, keyPath, fileSize, notices);
}

uint32_t Profile_ImportMessages(const std::string& fileName, PROFILE_NOTICES* notices) {
    return importFile(fileName.empty() ? g_lastFile : fileName, true, PROFILE_MAGIC, g_lastKeyPath,
                      nullptr, notices);
}

uint32_t Profile_ReadFile(const std::string& fileName, std::string* text) {
    return readFile(fileName, text, nullptr, nullptr);
}

uint32_t Profile_ReadMessages(std::string_view text, const std::string& keyPath,
                              const ProfileRecordFn& fn, PROFILE_NOTICES* notices) {
    return importText(text, true, PROFILE_MAGIC, keyPath, notices, &fn);
}

uint32_t Profile_ImportText(std::string_view contents, bool messages, const char* magic,
                            const char* rootName, const std::string& keyPath,
                            PROFILE_NOTICES* notices) {
    (void)rootName;
    return importText(contents, messages, magic, keyPath, notices);
}

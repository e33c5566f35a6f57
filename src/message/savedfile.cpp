// SPDX-License-Identifier: GPL-3.0-or-later
#include "message/savedfile.h"

#include "common/status.h"
#include "common/text.h"
#include "message/msg_header.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr size_t kDateLen = 13; // "yymmdd-hhmmss"
constexpr std::string_view kExt = ".eml";

bool _replaced(unsigned char c) {
    return c < 0x20 || c == 0x7F || std::strchr("\"\\/:*?<>|", c) != nullptr;
}

void _appendPart(std::string& out, std::string_view part) {
    for (const char c : part)
        out += _replaced(static_cast<unsigned char>(c)) ? '_' : c;
}

// The date part; a missing date, or one whose fields do not fit two digits
// each, is written as zeros so every name keeps the fixed shape.
void _appendDate(std::string& out, const DATETIME& d) {
    unsigned f[6] = {
        static_cast<unsigned>(d.wYear % 100), d.wMonth, d.wDay, d.wHour, d.wMinute, d.wSecond};
    if (DateTime_IsMissing(d) || std::any_of(f, f + 6, [](unsigned v) { return v > 99; }))
        std::fill(f, f + 6, 0u);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02u%02u%02u-%02u%02u%02u", f[0], f[1], f[2], f[3], f[4], f[5]);
    out += buf;
}

std::string _build(const DATETIME& date, std::string_view subject, std::string_view id,
                   bool partial) {
    std::string name;
    name.reserve(FILES_NAME_MAX);
    if (partial) name += 'p';
    _appendDate(name, date);
    name += '-';
    _appendPart(name, subject);
    name += '-';
    _appendPart(name, id);
    name += kExt;
    // The parts hold no separator and no control character any more; this
    // only states that the result is one safe component.
    return Files_SafeName(name, 1);
}

int _digits2(std::string_view s, size_t at) {
    const auto a = static_cast<unsigned char>(s[at]), b = static_cast<unsigned char>(s[at + 1]);
    if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
    return (a - '0') * 10 + (b - '0');
}

// Day of the week of a calendar date (0 = Sunday), by arithmetic alone: a
// folder of thousands of names must not cost a time-zone look-up each.
uint16_t _dayOfWeek(const DATETIME& d) {
    if (d.wMonth < 1 || d.wMonth > 12) return 0;
    static constexpr int kOffset[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    const int y = d.wYear - (d.wMonth < 3 ? 1 : 0);
    return static_cast<uint16_t>((y + y / 4 - y / 100 + y / 400 + kOffset[d.wMonth - 1] + d.wDay) %
                                 7);
}

std::string _errnoText(int e) {
    return e ? std::strerror(e) : "unknown error";
}

void _folderFailure(const std::string& path, int e, bool quiet, std::string* errorText) {
    DebugLog_Write("_saveMessageIfNeeded: cannot create \"%s\": %s\n", path.c_str(),
                   _errnoText(e).c_str());
    if (quiet || !errorText) return;
    char text[64];
    std::snprintf(text, sizeof text, "\" (%d).", e);
    *errorText = "Failed to create \"" + path + text;
}

// The root or the account folder: 0, or the errno of the failure.
int _ensureFolder(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    return Paths_EnsureDir(path);
}

} // namespace

std::string SavedFile_Name(const DATETIME& date, std::string_view subject, std::string_view id,
                           bool partial) {
    subject = Text_TrimBlanks(Text_CutUtf8(Text_TrimBlanks(subject), SAVEDFILE_SUBJECT_MAX));
    return _build(date, subject, Text_CutUtf8(id, SAVEDFILE_ID_MAX), partial);
}

std::string SavedFile_RecordName(const DATETIME& date, std::string_view subject,
                                 std::string_view id, bool partial) {
    // "p" + date + two '-' + ".eml" leave the rest for subject and id; the
    // id keeps at least its 16 bytes, the subject gives way first.
    const size_t fixed = (partial ? 1 : 0) + kDateLen + 2 + kExt.size();
    const size_t room = FILES_NAME_MAX - fixed;
    id = Text_CutUtf8(id, room);
    subject = Text_CutUtf8(subject, room - id.size());
    return _build(date, subject, id, partial);
}

bool SavedFile_FolderNameOk(std::string_view name) {
    return !name.empty() && name.size() <= FILES_NAME_MAX && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

bool SavedFile_ParseName(std::string_view name, SAVEDFILE_INFO* info) {
    SAVEDFILE_INFO out;
    if (!name.empty() && name[0] == 'p') {
        out.partial = true;
        name.remove_prefix(1);
    }
    if (name.size() > FILES_NAME_MAX - (out.partial ? 1 : 0) ||
        name.size() < kDateLen + 2 + kExt.size() || !name.ends_with(kExt) || name[6] != '-' ||
        name[kDateLen] != '-')
        return false;
    int f[6];
    for (int i = 0; i < 6; ++i)
        if ((f[i] = _digits2(name, static_cast<size_t>(i * 2 + (i >= 3 ? 1 : 0)))) < 0)
            return false;
    std::string_view rest = name.substr(kDateLen + 1, name.size() - kDateLen - 1 - kExt.size());
    const size_t dash = rest.find('-');
    if (dash == std::string_view::npos) return false;
    if (std::any_of(rest.begin(), rest.end(),
                    [](char c) { return _replaced(static_cast<unsigned char>(c)); }))
        return false;
    out.subject.assign(rest.substr(0, dash));
    out.id.assign(rest.substr(dash + 1));
    if (std::all_of(f, f + 6, [](int v) { return v == 0; })) {
        out.date = DateTime_Missing();
    } else {
        out.date = DATETIME{};
        out.date.wYear = static_cast<uint16_t>(f[0] + (f[0] < 99 ? 2000 : 1900));
        out.date.wMonth = static_cast<uint16_t>(f[1]);
        out.date.wDay = static_cast<uint16_t>(f[2]);
        out.date.wHour = static_cast<uint16_t>(f[3]);
        out.date.wMinute = static_cast<uint16_t>(f[4]);
        out.date.wSecond = static_cast<uint16_t>(f[5]);
        out.date.wDayOfWeek = _dayOfWeek(out.date);
    }
    *info = std::move(out);
    return true;
}

namespace {

// Calls fn(name, size) for every regular file of a folder whose name is a
// saved-file name. Reads the folder once with readdir and asks each file's
// size relative to the open folder, so a folder of 50,000 files costs no path
// look-ups. Returns 0 or the errno of opening the folder.
template <typename Fn> int _eachSavedFile(const std::string& folder, bool wantSize, Fn&& fn) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return errno;
    const int dfd = dirfd(dir);
    SAVEDFILE_INFO info;
    while (const dirent* d = readdir(dir)) {
        const std::string_view name(d->d_name);
        if (d->d_type != DT_REG && d->d_type != DT_UNKNOWN) continue;
        if (!SavedFile_ParseName(name, &info)) continue;
        struct stat st {};
        const bool statted = (wantSize || d->d_type == DT_UNKNOWN) &&
                             fstatat(dfd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (d->d_type == DT_UNKNOWN && (!statted || !S_ISREG(st.st_mode))) continue;
        fn(name, info, statted ? static_cast<uint64_t>(st.st_size) : 0);
    }
    closedir(dir);
    return 0;
}

} // namespace

uint32_t SavedFile_List(const std::string& folder, std::vector<SAVEDFILE_ENTRY>* entries) {
    entries->clear();
    const int e = _eachSavedFile(
        folder, true, [&](std::string_view name, SAVEDFILE_INFO& info, uint64_t size) {
            entries->push_back(SAVEDFILE_ENTRY{std::string(name), std::move(info), size});
        });
    if (e) {
        DebugLog_Write("SavedFile_List: cannot list \"%s\": %s\n", folder.c_str(),
                       std::strerror(e));
        return ERR_NOT_READY;
    }
    std::sort(entries->begin(), entries->end(), [](const auto& a, const auto& b) {
        if (a.info.partial != b.info.partial) return !a.info.partial;
        return a.name < b.name;
    });
    return 0;
}

int SavedFile_CountFull(const std::string& folder) {
    int n = 0;
    _eachSavedFile(folder, false, [&](std::string_view, const SAVEDFILE_INFO& info, uint64_t) {
        if (!info.partial) ++n;
    });
    return n;
}

uint32_t SavedFile_Load(const std::string& path, std::string* text) {
    text->clear();
    std::error_code ec;
    const auto st = fs::status(path, ec);
    if (ec || !fs::exists(st)) return fs::exists(st) ? ERR_OPERATION : ERR_NOT_FOUND;
    if (!fs::is_regular_file(st)) return ERR_OPERATION;
    std::ifstream in(path, std::ios::binary);
    if (!in) return ERR_OPERATION;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) return ERR_OPERATION;
    if (static_cast<uint64_t>(size) > SAVEDFILE_LOAD_MAX) return ERR_NOMEM;
    in.seekg(0);
    std::string data(static_cast<size_t>(size), '\0');
    if (!in.read(data.data(), size)) return ERR_OPERATION;
    *text = std::move(data);
    return 0;
}

std::string SavedFile_MessageText(std::string_view answer) {
    const size_t lf = answer.find('\n');
    std::string_view body = lf == std::string_view::npos ? answer : answer.substr(lf + 1);
    // A complete multi-line answer ends with CRLF "." CRLF (or is only "."
    // CRLF for an empty message); anything else is kept as it is.
    if (body == ".\r\n") return {};
    if (!body.ends_with("\r\n.\r\n")) return std::string(body);
    body.remove_suffix(3);
    std::string out;
    out.reserve(body.size());
    size_t pos = 0;
    while (pos < body.size()) {
        size_t end = body.find('\n', pos);
        end = end == std::string_view::npos ? body.size() : end + 1;
        if (body[pos] == '.') ++pos; // ".." at a line start stood for "."
        out.append(body.substr(pos, end - pos));
        pos = end;
    }
    return out;
}

uint32_t SavedFile_Save(const std::string& root, std::string_view account, std::string_view answer,
                        std::string_view id, bool partial, bool quiet, std::string* path,
                        std::string* errorText) {
    if (errorText) errorText->clear();
    if (root.empty()) return 1;
    struct stat st {};
    if (stat(root.c_str(), &st) != 0 && errno == EACCES) {
        DebugLog_Write("_saveMessageIfNeeded: \"%s\": access denied.\n", root.c_str());
        if (!quiet && errorText) *errorText = "\"" + root + "\": access denied.";
        return ERR_OPERATION;
    }
    if (const int e = _ensureFolder(root)) {
        _folderFailure(root, e, quiet, errorText);
        return ERR_CREATE;
    }
    std::string folder = root;
    if (!folder.ends_with('/')) folder += '/';
    folder.append(account);
    if (!SavedFile_FolderNameOk(account)) {
        _folderFailure(folder, EINVAL, quiet, errorText);
        return ERR_CREATE;
    }
    if (const int e = _ensureFolder(folder)) {
        _folderFailure(folder, e, quiet, errorText);
        return ERR_CREATE;
    }

    MSG_FIELDS fields;
    Msg_GetRecordFields(answer, nullptr, &fields);
    const std::string file =
        folder + "/" + SavedFile_Name(fields.Date, fields.Subject, id, partial);
    const std::string content = SavedFile_MessageText(answer);

    FILES_WRITER w;
    uint32_t rc = Files_Begin(&w, file);
    int e = rc ? errno : 0;
    if (rc == 0 && (rc = Files_Write(&w, content.data(), content.size())) != 0) e = errno;
    if (rc == 0 && (rc = Files_Commit(&w)) != 0) e = errno;
    if (rc != 0) {
        Files_Abort(&w);
        const std::string why = _errnoText(e);
        DebugLog_Write("_saveMessageIfNeeded: Unable to save message \n");
        DebugLog_Write("File Name: %s \n", file.c_str());
        DebugLog_Write("System error: %d \n", e);
        DebugLog_Write("%s \n", why.c_str());
        if (errorText)
            *errorText = "Couldn't save downloaded message \r\nFile Name: " + file +
                         " \r\nSystem error: " + std::to_string(e) + " \r\n" + why;
        return ERR_CREATE;
    }
    DebugLog_Write("_saveMessageIfNeeded: Saved message as: %s \n", file.c_str());
    if (path) *path = file;
    return 0;
}

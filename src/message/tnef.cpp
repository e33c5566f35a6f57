// SPDX-License-Identifier: GPL-3.0-or-later
#include "message/tnef.h"

#include "common/status.h"
#include "common/text.h"
#include "common/translate.h"
#include "message/charset.h"
#include "platform/files.h"
#include "platform/log.h"

#include <fstream>
#include <iterator>
#include <optional>

namespace {

constexpr uint32_t kSignature = 0x223E9F78;

// Attribute ids (low 16 bits of the attribute word).
constexpr uint16_t ATT_ATTACH_RENDDATA = 0x9002; // starts a new packed file
constexpr uint16_t ATT_ATTACH_TITLE = 0x8010;    // short file name
constexpr uint16_t ATT_ATTACH_DATA = 0x800F;     // file contents
constexpr uint16_t ATT_ATTACHMENT = 0x9005;      // MAPI property list of the file

constexpr uint8_t LVL_MESSAGE = 1;
constexpr uint8_t LVL_ATTACHMENT = 2;

// MAPI properties that change the packed file.
constexpr uint32_t MAPI_ATTACH_DATA_OBJ = 0x3701;
constexpr uint32_t MAPI_ATTACH_LONG_FILENAME = 0x3707;

constexpr uint16_t MAPI_MULTI_VALUE = 0x1000;
constexpr uint16_t MAPI_UNICODE_STRING = 0x001F;

// Tables built from counts in the stream are charged at a fixed size per
// entry, so that what passes the limit does not depend on this build's
// struct layout.
constexpr uint64_t kPropEntryBytes = 32;
constexpr uint64_t kValueEntryBytes = 16;
constexpr uint64_t kNameEntryBytes = 16;

// How a step of the decoding ended.
enum class Step {
    Ok,
    Reject,  // the property list is bad; it is dropped, the decoding goes on
    Abandon, // the decoding stops; the problem has been reported
};

// Where the decoding running on this thread keeps its first problem; the
// steps that meet one are too deep to hand it back themselves.
thread_local TNEF_PROBLEM* tProblem = nullptr;

class ProblemScope {
  public:
    explicit ProblemScope(TNEF_PROBLEM* p) : saved_(tProblem) {
        if (p) *p = {};
        tProblem = p ? p : &ignored_;
    }
    ~ProblemScope() { tProblem = saved_; }
    ProblemScope(const ProblemScope&) = delete;
    ProblemScope& operator=(const ProblemScope&) = delete;

  private:
    TNEF_PROBLEM* saved_;
    TNEF_PROBLEM ignored_;
};

void _show(std::string_view title, std::string_view text) {
    DebugLog_Write("TNEF: %.*s: %.*s\n", static_cast<int>(title.size()), title.data(),
                   static_cast<int>(text.size()), text.data());
    if (tProblem && tProblem->caption.empty() && tProblem->text.empty()) {
        tProblem->caption.assign(title);
        tProblem->text.assign(text);
    }
}

// Sizes come from the stream: `size` is computed in 64 bits by the caller,
// so a product or a padding can never wrap below the limit.
bool _withinLimit(const char* allocator, uint64_t size) {
    if (size <= TNEF_ALLOC_LIMIT) return true;
    DebugLog_Write("%s: Maximum allocation size exceeded (maxsize = %llu; size = %llu).\n",
                   allocator, static_cast<unsigned long long>(TNEF_ALLOC_LIMIT),
                   static_cast<unsigned long long>(size));
    _show("alloc_limit_assert", IW_N_("Inboxwarden", "Size over allocation limit"));
    return false;
}

uint64_t _padTo4(uint64_t n) {
    return (4 - n % 4) % 4;
}

// A bounded view of the bytes not read yet.
struct Cursor {
    const uint8_t* p;
    size_t left;

    bool take(uint64_t n, std::span<const uint8_t>* out = nullptr) {
        if (n > left) return false;
        if (out) *out = {p, static_cast<size_t>(n)};
        p += n;
        left -= static_cast<size_t>(n);
        return true;
    }
    bool u8(uint8_t* v) {
        if (left < 1) return false;
        *v = p[0];
        take(1);
        return true;
    }
    bool u16(uint16_t* v) {
        if (left < 2) return false;
        *v = static_cast<uint16_t>(p[0] | p[1] << 8);
        take(2);
        return true;
    }
    bool u32(uint32_t* v) {
        if (left < 4) return false;
        *v = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
             static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        take(4);
        return true;
    }
};

std::string_view _asText(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string_view _upToNul(std::string_view s) {
    return s.substr(0, s.find('\0'));
}

// UTF-16LE to UTF-8; false on an unpaired surrogate. An odd last byte is
// not a unit and is ignored.
bool _utf16ToUtf8(std::span<const uint8_t> in, std::string* out) {
    out->clear();
    const size_t units = in.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        char32_t u = in[2 * i] | in[2 * i + 1] << 8;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= units) return false;
            const char32_t lo = in[2 * i + 2] | in[2 * i + 3] << 8;
            if (lo < 0xDC00 || lo > 0xDFFF) return false;
            u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        }
        Text_AppendUtf8(*out, u);
    }
    return true;
}

// What a property list changes in the packed file.
struct MapiChanges {
    std::optional<std::string> longName;
    std::optional<std::string> dataObj;
};

Step _rejectList(const char* text) {
    _show("mapi_attr_read", text);
    return Step::Reject;
}

Step _truncatedList() {
    return _rejectList(IW_N_("Inboxwarden", "Invalid attribute, attachment may be corrupted"));
}

// Reads `count` fixed-size values; `first` gets the first one.
Step _readFixed(Cursor& c, uint64_t count, uint64_t size, std::optional<std::string>* first) {
    std::span<const uint8_t> bytes;
    if (!c.take(count * size, &bytes)) return _truncatedList();
    if (count > 0) *first = std::string(_asText(bytes.first(static_cast<size_t>(size))));
    return Step::Ok;
}

// Values of one property. `first` gets the first value's bytes (text
// values converted to UTF-8 and cut at their first NUL are made by the
// caller from it).
Step _readValues(Cursor& c, uint16_t type, bool multi, std::optional<std::string>* first) {
    uint32_t count = 1;
    switch (type) {
    case 0x0002: // short, in a 4-byte slot
    case 0x0004: // float
    case 0x000B: // boolean, in a 4-byte slot
        return _readFixed(c, 1, 4, first);
    case 0x0003: // 32-bit integer
        if (!multi) return _readFixed(c, 1, 4, first);
        if (!c.u32(&count)) return _truncatedList();
        if (!_withinLimit("checked_xcalloc", uint64_t{count} * 4)) return Step::Abandon;
        return _readFixed(c, count, 4, first);
    case 0x0005: // double
    case 0x0006: // currency
    case 0x0007: // application time
    case 0x0014: // 64-bit integer
        return _readFixed(c, 1, 8, first);
    case 0x0040: // time
        if (!multi) return _readFixed(c, 1, 8, first);
        if (!c.u32(&count)) return _truncatedList();
        if (!_withinLimit("checked_xcalloc", uint64_t{count} * 8)) return Step::Abandon;
        return _readFixed(c, count, 8, first);
    case 0x0048: // GUID
        return _readFixed(c, 1, 16, first);
    case 0x000D: // embedded object
    case 0x001E: // 8-bit string
    case MAPI_UNICODE_STRING:
    case 0x0102: { // binary
        if (!c.u32(&count)) return _truncatedList();
        if (!_withinLimit("checked_xcalloc", uint64_t{count} * kValueEntryBytes))
            return Step::Abandon;
        std::string converted;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t length = 0;
            if (!c.u32(&length)) return _truncatedList();
            if (!_withinLimit("checked_xmalloc", length)) return Step::Abandon;
            std::span<const uint8_t> bytes;
            if (!c.take(length, &bytes)) return _truncatedList();
            if (type == MAPI_UNICODE_STRING) {
                if (!_withinLimit("checked_xmalloc", uint64_t{length} * 2 + 1))
                    return Step::Abandon;
                if (!_utf16ToUtf8(bytes, &converted)) {
                    _show("unicode_to_utf8",
                          IW_N_("Inboxwarden", "ERROR: UTF16 conversion failed"));
                    return Step::Abandon;
                }
                if (i == 0) *first = converted;
            } else if (i == 0) {
                *first = std::string(_asText(bytes));
            }
            if (!c.take(_padTo4(length))) return _truncatedList();
        }
        return Step::Ok;
    }
    case 0x0000: // unspecified
    case 0x0001: // null
    case 0x000A: // error
        return _rejectList(IW_N_("Inboxwarden", "Invalid attribute, attachment may be corrupted"));
    default:
        return _rejectList(
            IW_N_("Inboxwarden", "Undefined attribute, attachment may be corrupted"));
    }
}

// One "Attachment" attribute: a MAPI property list. Nothing of a rejected
// list is applied.
Step _readMapiList(std::span<const uint8_t> data, MapiChanges* changes) {
    Cursor c{data.data(), data.size()};
    uint32_t props = 0;
    if (!c.u32(&props)) return _truncatedList();
    if (!_withinLimit("checked_xcalloc", uint64_t{props} * kPropEntryBytes)) return Step::Abandon;
    MapiChanges found;
    for (uint32_t n = 0; n < props; ++n) {
        uint16_t type = 0;
        uint16_t id16 = 0;
        if (!c.u16(&type) || !c.u16(&id16)) return _truncatedList();
        const bool multi = (type & MAPI_MULTI_VALUE) != 0;
        type = static_cast<uint16_t>(type & ~MAPI_MULTI_VALUE);
        uint32_t id = id16;
        if (id >= 0x8000) { // named property
            uint32_t kind = 0;
            if (!c.take(16) || !c.u32(&kind)) return _truncatedList();
            if (kind == 0) {
                if (!c.u32(&id)) return _truncatedList();
            } else {
                if (!_withinLimit("checked_xcalloc", uint64_t{kind} * kNameEntryBytes))
                    return Step::Abandon;
                for (uint32_t i = 0; i < kind; ++i) {
                    uint32_t length = 0;
                    if (!c.u32(&length)) return _truncatedList();
                    if (!_withinLimit("checked_xmalloc", length)) return Step::Abandon;
                    if (!c.take(uint64_t{length} + _padTo4(length))) return _truncatedList();
                }
            }
        }
        std::optional<std::string> first;
        if (const Step s = _readValues(c, type, multi, &first); s != Step::Ok) return s;
        if (!first) continue;
        if (id == MAPI_ATTACH_LONG_FILENAME) found.longName = std::string(_upToNul(*first));
        if (id == MAPI_ATTACH_DATA_OBJ) found.dataObj = std::move(*first);
    }
    *changes = std::move(found);
    return Step::Ok;
}

struct Attribute {
    uint8_t level = 0;
    uint16_t id = 0;
    std::span<const uint8_t> data;
};

Step _endOfInput() {
    _show("getbuf", IW_N_("Inboxwarden", "Unexpected end of input"));
    return Step::Abandon;
}

Step _readAttribute(Cursor& c, Attribute* a) {
    uint32_t word = 0;
    uint32_t length = 0;
    if (!c.u8(&a->level)) return _endOfInput();
    if (a->level != LVL_MESSAGE && a->level != LVL_ATTACHMENT)
        _show("attr_read",
              IW_N_("Inboxwarden", "Inboxwarden is having difficulty with this attachment"));
    if (!c.u32(&word) || !c.u32(&length)) return _endOfInput();
    a->id = static_cast<uint16_t>(word & 0xFFFF);
    if (!_withinLimit("checked_xmalloc", length)) return Step::Abandon;
    uint16_t checksum = 0;
    if (!c.take(length, &a->data) || !c.u16(&checksum)) return _endOfInput();
    uint32_t sum = 0;
    for (const uint8_t b : a->data)
        sum += b;
    if ((sum & 0xFFFF) != checksum)
        _show("attr_read",
              IW_N_("Inboxwarden", "ERROR: invalid checksum, attachment may be corrupted"));
    return Step::Ok;
}

struct Record {
    std::string name; // empty: none
    std::string data;
};

struct Decoder {
    TNEF_MODE mode;
    const std::string& outDir;
    std::vector<TNEF_NAME>* names;
    unsigned index = 0; // 1-based position of the record being assembled

    uint32_t flush(const Record& r) {
        TNEF_NAME n;
        n.display = r.name.empty() ? "tnef-tmp" : r.name;
        n.disk = TNEF_DiskName(n.display, index);
        if (mode == TNEF_MODE::Write) {
            std::string path = outDir;
            if (!path.empty() && path.back() != '/') path += '/';
            path += n.disk;
            FILES_WRITER w;
            if (Files_Begin(&w, path) != 0) {
                _show("TNEF file_write", IW_N_("Inboxwarden", "Couldn't open file"));
                return ERR_CREATE;
            }
            if (Files_Write(&w, r.data.data(), r.data.size()) != 0 || Files_Commit(&w) != 0) {
                _show("TNEF file_write", IW_N_("Inboxwarden", "Problem writing to file."));
                return ERR_CREATE;
            }
        }
        if (names) names->push_back(std::move(n));
        return 0;
    }
};

} // namespace

std::string TNEF_DiskName(std::string_view name, unsigned index) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(name.size());
    for (const char ch : name) {
        const auto u = static_cast<unsigned char>(ch);
        const bool escape =
            u < 0x20 || u == 0x7F ||
            (u < 0x80 && std::string_view("\\/:*?\"<>|%").find(ch) != std::string_view::npos);
        if (escape) {
            escaped += '%';
            escaped += kHex[u >> 4];
            escaped += kHex[u & 0xF];
        } else {
            escaped += ch;
        }
    }
    if (escaped.empty()) escaped = "tnef-tmp";
    return Files_SafeName(escaped, index);
}

uint32_t TNEF_Parse(std::span<const uint8_t> data, TNEF_MODE mode, const std::string& outDir,
                    std::vector<TNEF_NAME>* names, TNEF_PROBLEM* problem) {
    // A hostile stream can hold thousands of bad attributes: only the first
    // is handed back. A file that cannot be read has already filled it.
    std::optional<ProblemScope> scope;
    if (problem || !tProblem) scope.emplace(problem);
    Cursor c{data.data(), data.size()};
    uint32_t signature = 0;
    uint16_t key = 0;
    if (!c.u32(&signature)) {
        _endOfInput();
        return ERR_OPERATION;
    }
    if (signature != kSignature) {
        _show("TNEF Parse File", IW_N_("Inboxwarden", "Seems not to be a TNEF file"));
        return TNEF_NOT_TNEF;
    }
    if (!c.u16(&key)) {
        _endOfInput();
        return ERR_OPERATION;
    }

    Decoder d{mode, outDir, names};
    std::optional<Record> rec;
    while (c.left > 0) {
        // Shorter than any attribute: line ends and padding some mailers add.
        if (c.left < 8) {
            _show("TNEF data_left", IW_N_("Inboxwarden", "ERROR: garbage at end of file."));
            break;
        }
        Attribute a;
        if (_readAttribute(c, &a) != Step::Ok) return ERR_OPERATION;
        if (a.id == ATT_ATTACH_RENDDATA) {
            if (rec)
                if (const uint32_t rc = d.flush(*rec)) return rc;
            rec.emplace();
            ++d.index;
        }
        if (a.level == LVL_MESSAGE) continue;
        if (a.level != LVL_ATTACHMENT) {
            DebugLog_Write("Invalid lvl type on attribute: %d\n", a.level);
            return TNEF_NOT_TNEF;
        }
        if (!rec) continue;
        switch (a.id) {
        case ATT_ATTACH_TITLE:
            rec->name = Charset_RepairUtf8(_upToNul(_asText(a.data)));
            break;
        case ATT_ATTACH_DATA:
            rec->data.assign(_asText(a.data));
            break;
        case ATT_ATTACHMENT: {
            MapiChanges changes;
            const Step s = _readMapiList(a.data, &changes);
            if (s == Step::Abandon) return ERR_OPERATION;
            if (s == Step::Reject) break;
            if (changes.longName) rec->name = Charset_RepairUtf8(*changes.longName);
            if (changes.dataObj) rec->data = std::move(*changes.dataObj);
            break;
        }
        default:
            break;
        }
    }
    if (rec)
        if (const uint32_t rc = d.flush(*rec)) return rc;
    return 0;
}

namespace {

uint32_t _parseFile(const std::string& path, TNEF_MODE mode, const std::string& outDir,
                    std::vector<TNEF_NAME>* names, TNEF_PROBLEM* problem) {
    ProblemScope scope(problem);
    std::ifstream in(path, std::ios::binary);
    std::string bytes;
    if (in.is_open())
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad()) {
        _show("TNEF_dir", IW_N_("Inboxwarden", "Couldn't open file."));
        return ERR_OPERATION;
    }
    return TNEF_Parse({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, mode, outDir,
                      names, nullptr);
}

} // namespace

uint32_t TNEF_dir(const std::string& path, const std::string& outDir, std::vector<TNEF_NAME>* names,
                  TNEF_PROBLEM* problem) {
    return _parseFile(path, TNEF_MODE::Write, outDir, names, problem);
}

uint32_t TNEF_list(const std::string& path, std::vector<TNEF_NAME>* names, TNEF_PROBLEM* problem) {
    return _parseFile(path, TNEF_MODE::List, "", names, problem);
}

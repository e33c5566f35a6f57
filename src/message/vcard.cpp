// SPDX-License-Identifier: GPL-3.0-or-later
#include "message/vcard.h"

#include "common/status.h"
#include "common/text.h"
#include "common/translate.h"
#include "message/base64.h"
#include "message/charset.h"
#include "message/qp.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One physical line at a time, whatever ends it.
class LineReader {
  public:
    explicit LineReader(std::string_view text) : text_(text) {}
    bool AtEnd() const { return pos_ >= text_.size(); }
    // The next line without its line end, and its 1-based number.
    std::string_view Next() {
        ++number_;
        const size_t start = pos_;
        size_t end = start;
        while (end < text_.size() && text_[end] != '\r' && text_[end] != '\n')
            ++end;
        pos_ = end;
        if (pos_ < text_.size() && text_[pos_] == '\r') ++pos_;
        if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
        return text_.substr(start, end - start);
    }
    // Whether the next line continues this one (RFC 6350 §3.2 folding).
    bool NextIsFolded() const {
        return pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t');
    }
    size_t Number() const { return number_; }

  private:
    std::string_view text_;
    size_t pos_ = 0;
    size_t number_ = 0;
};

struct PROPERTY {
    std::string name; // upper case, group taken off
    bool qp = false;
    bool base64 = false;
    std::string charset;
    std::string_view value; // raw, still encoded and escaped
};

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string unquote(std::string_view v) {
    v = Text_TrimBlanks(v);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return std::string(v);
}

// Splits "name;params:value". False when the line has no ':' outside quotes.
bool parseProperty(std::string_view line, PROPERTY* p) {
    bool quoted = false;
    size_t colon = std::string_view::npos;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == ':' && !quoted) {
            colon = i;
            break;
        }
    }
    if (colon == std::string_view::npos) return false;
    const std::string_view head = line.substr(0, colon);
    p->value = line.substr(colon + 1);
    size_t semi = head.find(';');
    std::string_view name = head.substr(0, semi);
    if (const size_t dot = name.rfind('.'); dot != std::string_view::npos)
        name = name.substr(dot + 1);
    p->name = upper(Text_TrimBlanks(name));
    while (semi != std::string_view::npos) {
        const size_t start = semi + 1;
        quoted = false;
        size_t end = start;
        while (end < head.size() && (quoted || head[end] != ';')) {
            if (head[end] == '"') quoted = !quoted;
            ++end;
        }
        const std::string_view param = head.substr(start, end - start);
        semi = end < head.size() ? end : std::string_view::npos;
        const size_t eq = param.find('=');
        // 2.1 writes bare parameter values ("EMAIL;INTERNET;QUOTED-PRINTABLE:").
        const std::string key = eq == std::string_view::npos ? "" : upper(param.substr(0, eq));
        const std::string value =
            upper(eq == std::string_view::npos ? param : param.substr(eq + 1));
        if (key.empty() || key == "ENCODING") {
            const std::string v = unquote(value);
            if (v == "QUOTED-PRINTABLE") p->qp = true;
            if (v == "B" || v == "BASE64") p->base64 = true;
        } else if (key == "CHARSET") {
            p->charset = unquote(param.substr(eq + 1));
        }
    }
    return true;
}

// The value's bytes in UTF-8, transfer encoding and charset undone.
std::string decode(const PROPERTY& p) {
    std::string bytes;
    if (p.qp) {
        if (Qp_Decode(p.value, &bytes) != 0) bytes.clear();
    } else if (p.base64) {
        if (Base64_Decode(p.value, &bytes) != 0) bytes.clear();
    } else {
        bytes.assign(p.value);
    }
    return Charset_ToUtf8(bytes, p.charset);
}

// The value split at unescaped `sep` (3.0 and 4.0 escape "\;" and "\,").
std::vector<std::string_view> splitRaw(std::string_view v, char sep) {
    std::vector<std::string_view> out;
    size_t start = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\') {
            ++i;
        } else if (v[i] == sep) {
            out.push_back(v.substr(start, i - start));
            start = i + 1;
        }
    }
    out.push_back(v.substr(start));
    return out;
}

// Escapes undone; line breaks and other control characters become blanks,
// as the text ends up in a single header line. With `commaIsBlank` a bare
// comma (a list separator inside an N component) becomes a blank too.
std::string unescape(std::string_view v, bool commaIsBlank) {
    std::string out;
    out.reserve(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        char c = v[i];
        if (c == '\\' && i + 1 < v.size()) {
            const char n = v[++i];
            c = (n == 'n' || n == 'N') ? ' ' : n;
        } else if (c == ',' && commaIsBlank) {
            c = ' ';
        }
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
        if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// "Family;Given;Additional;Prefixes;Suffixes" as a name is written.
std::string nameFromN(std::string_view value) {
    const std::vector<std::string_view> parts = splitRaw(value, ';');
    auto part = [&](size_t i) { return i < parts.size() ? unescape(parts[i], true) : ""; };
    std::string out;
    for (const std::string& piece : {part(3), part(1), part(2), part(0), part(4)}) {
        if (piece.empty()) continue;
        if (!out.empty()) out += ' ';
        out += piece;
    }
    return out;
}

// An address fit for a header line and a recipient list: no blanks, no
// control characters and nothing that would split or end it there.
bool usableAddress(std::string_view a) {
    if (a.find('@') == std::string_view::npos) return false;
    for (const char c : a) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F || std::strchr("<>,;\"()[]\\", c)) return false;
    }
    return true;
}

class Parser {
  public:
    Parser(std::string_view text, VCARD_FILE* out) : lines_(text), out_(out) {}

    void Run() {
        while (!lines_.AtEnd()) {
            const size_t number = lines_.Number() + 1;
            if (!nextLogical()) {
                warn(number, "a property longer than 1 MB was skipped");
                continue;
            }
            if (Text_TrimBlanks(line_).empty()) continue;
            PROPERTY p;
            if (!parseProperty(line_, &p)) {
                warn(number, "a line without ':' was skipped");
                continue;
            }
            if (!apply(number, p)) return;
        }
        if (depth_ > 0) {
            warn(lines_.Number(), "the last card has no END:VCARD");
            finish();
        }
    }
    bool SawBegin() const { return sawBegin_; }

  private:
    // The next property line, unfolded and with 2.1 quoted-printable soft
    // breaks joined. False when it grew over VCARD_MAX_LINE (it is consumed).
    bool nextLogical() {
        line_.assign(lines_.Next());
        bool fits = line_.size() <= VCARD_MAX_LINE;
        auto append = [&](std::string_view more) {
            if (!fits || line_.size() + more.size() > VCARD_MAX_LINE) fits = false;
            if (fits) line_.append(more);
        };
        auto unfold = [&] {
            while (lines_.NextIsFolded())
                append(lines_.Next().substr(1));
        };
        unfold();
        // 2.1 breaks a quoted-printable value with "=" and no fold; the "="
        // and the line end are a soft break, so both go.
        PROPERTY p;
        if (fits && parseProperty(line_, &p) && p.qp) {
            while (fits && !lines_.AtEnd() && !line_.empty() && line_.back() == '=') {
                line_.pop_back();
                append(lines_.Next());
                unfold();
            }
        }
        if (!fits) line_.clear();
        return fits;
    }

    bool apply(size_t number, const PROPERTY& p) {
        const std::string value = upper(Text_TrimBlanks(p.value));
        if (p.name == "BEGIN" && value == "VCARD") {
            sawBegin_ = true;
            if (depth_++ == 0) {
                if (out_->contacts.size() >= VCARD_MAX_CARDS) {
                    warn(number, "only the first 100000 cards were read");
                    return false;
                }
                card_ = {};
                fn_.clear();
                n_.clear();
            }
            return true;
        }
        if (p.name == "END" && value == "VCARD") {
            if (depth_ == 0) {
                warn(number, IW_N_("Inboxwarden", "END:VCARD without BEGIN:VCARD"));
            } else if (--depth_ == 0) {
                finish();
            }
            return true;
        }
        if (depth_ == 0) {
            if (!outsideSaid_) warn(number, "a property outside a card was skipped");
            outsideSaid_ = true;
            return true;
        }
        if (depth_ > 1) return true; // a nested card (2.1 AGENT) is not a contact
        if (p.name == "FN" && fn_.empty()) {
            fn_ = unescape(decode(p), false);
        } else if (p.name == "N" && n_.empty()) {
            n_ = nameFromN(decode(p));
        } else if (p.name == "EMAIL") {
            std::string a(Text_TrimBlanks(unescape(decode(p), false)));
            if (a.size() >= 7 && Text_EqualsNoCase(std::string_view(a).substr(0, 7), "mailto:"))
                a.erase(0, 7);
            if (!usableAddress(a)) {
                warn(number, "an e-mail address that cannot be used was skipped");
            } else if (card_.emails.size() >= VCARD_MAX_EMAILS) {
                warn(number, "a card with more than 64 addresses was cut");
            } else {
                card_.emails.push_back(std::move(a));
            }
        }
        return true;
    }

    void finish() {
        card_.name = !fn_.empty() ? fn_ : n_;
        out_->contacts.push_back(std::move(card_));
        card_ = {};
    }

    void warn(size_t number, const char* what) {
        if (out_->warnings.size() >= VCARD_MAX_WARNINGS) return;
        out_->warnings.push_back("line " + std::to_string(number) + ": " + what);
    }

    LineReader lines_;
    VCARD_FILE* out_;
    std::string line_;
    size_t depth_ = 0;
    VCARD_CONTACT card_;
    std::string fn_, n_;
    bool sawBegin_ = false;
    bool outsideSaid_ = false;
};

void setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

} // namespace

uint32_t VCard_Parse(std::string_view text, VCARD_FILE* out, std::string* error) {
    if (!out) return ERR_BADARG;
    *out = {};
    if (text.size() > VCARD_MAX_FILE) {
        setError(error, IW_N_("Inboxwarden", "The file is larger than 16 MB."));
        return ERR_OPERATION;
    }
    Parser parser(text, out);
    parser.Run();
    if (!parser.SawBegin() && text.find_first_not_of(" \t\r\n") != std::string_view::npos) {
        setError(error, IW_N_("Inboxwarden", "The file holds no vCard (no BEGIN:VCARD line)."));
        return ERR_OPERATION;
    }
    return 0;
}

uint32_t VCard_LoadFile(const std::string& path, VCARD_FILE* out, std::string* error) {
    if (!out) return ERR_BADARG;
    *out = {};
    // Non-blocking, so that a FIFO named in the settings cannot hang the
    // window that opens the address book.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        setError(error, std::strerror(err));
        return err == ENOENT ? ERR_NOT_FOUND : ERR_FAILED;
    }
    struct stat st {};
    std::string text;
    uint32_t rc = 0;
    if (::fstat(fd, &st) != 0) {
        setError(error, std::strerror(errno));
        rc = ERR_FAILED;
    } else if (!S_ISREG(st.st_mode)) {
        setError(error, S_ISDIR(st.st_mode) ? IW_N_("Inboxwarden", "It is a folder.")
                                            : IW_N_("Inboxwarden", "It is not a regular file."));
        rc = ERR_FAILED;
    } else if (static_cast<uint64_t>(st.st_size) > VCARD_MAX_FILE) {
        setError(error, IW_N_("Inboxwarden", "The file is larger than 16 MB."));
        rc = ERR_OPERATION;
    } else {
        // Read to the end, but never past the limit: the file may grow.
        char buf[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                setError(error, std::strerror(errno));
                rc = ERR_FAILED;
                break;
            }
            if (n == 0) break;
            if (text.size() + static_cast<size_t>(n) > VCARD_MAX_FILE) {
                setError(error, IW_N_("Inboxwarden", "The file is larger than 16 MB."));
                rc = ERR_OPERATION;
                break;
            }
            text.append(buf, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    if (rc != 0) return rc;
    return VCard_Parse(text, out, error);
}

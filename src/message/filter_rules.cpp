// SPDX-License-Identifier: GPL-3.0-or-later
#include "message/filter_rules.h"

#include "message/iwfilter.h"

#include <algorithm>
#include <array>

const FILTER_ACTION_NAME FILTER_ACTION_NAMES[8] = {
    {IWF_ACT_DELETE, "delete"},
    {IWF_ACT_SAVE, "save"},
    {IWF_ACT_SAVE2, "save-copy"},
    {IWF_ACT_SHOW, "show"},
    {IWF_ACT_SAVE_STRICT, "save-or-cancel"},
    {IWF_ACT_BOUNCE, "bounce"},
    {IWF_ACT_QUIET, "quiet"},
    {IWF_ACT_SPAM, "spam"},
};

namespace {

constexpr std::array<const char*, 4> kMatchNames = {"contains", "equals", "starts", "regex"};

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}
bool equalFold(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}
std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool validUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t n = c < 0x80                 ? 0
                         : c >= 0xC2 && c <= 0xDF ? 1
                         : (c >> 4) == 0xE        ? 2
                         : c >= 0xF0 && c <= 0xF4 ? 3
                                                  : 4;
        if (n == 4 || i + n >= s.size() + (n == 0)) return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        const auto c1 = static_cast<unsigned char>(n ? s[i + 1] : 0);
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) ||
            (c == 0xF4 && c1 > 0x8F))
            return false;
        i += n + 1;
    }
    return true;
}

bool fieldNameOk(std::string_view name) {
    if (name.empty() || name.size() > FILTER_MAX_FIELD_NAME) return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return c > ' ' && c < 127 && c != ':'; });
}

// ---- Encoded words (RFC 2047) ------------------------------------------------

constexpr char32_t kCp1252[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                  0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Decodes one encoded word "=?charset?enc?text?=" into UTF-8; false when it
// is not one this module decodes (it is then kept as written).
bool decodeWord(std::string_view word, std::string* out) {
    if (word.size() < 8 || word.substr(0, 2) != "=?" || word.substr(word.size() - 2) != "?=")
        return false;
    const std::string_view inner = word.substr(2, word.size() - 4);
    const size_t q1 = inner.find('?');
    if (q1 == std::string_view::npos || q1 + 2 >= inner.size() || inner[q1 + 2] != '?')
        return false;
    std::string_view charset = inner.substr(0, q1);
    if (const size_t star = charset.find('*'); star != std::string_view::npos)
        charset = charset.substr(0, star); // RFC 2231 language
    const char enc = lower(inner[q1 + 1]);
    const std::string_view text = inner.substr(q1 + 3);
    enum { Utf8, Latin1, Cp1252 } cs;
    if (equalFold(charset, "utf-8") || equalFold(charset, "us-ascii"))
        cs = Utf8;
    else if (equalFold(charset, "iso-8859-1") || equalFold(charset, "latin1"))
        cs = Latin1;
    else if (equalFold(charset, "windows-1252"))
        cs = Cp1252;
    else
        return false;
    std::string bytes;
    if (enc == 'q') {
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '_') {
                bytes += ' ';
            } else if (text[i] == '=' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
                       hexDigit(text[i + 2]) >= 0) {
                bytes += static_cast<char>(hexDigit(text[i + 1]) << 4 | hexDigit(text[i + 2]));
                i += 2;
            } else {
                bytes += text[i];
            }
        }
    } else if (enc == 'b') {
        uint32_t acc = 0;
        int bits = 0;
        for (char c : text) {
            const int d = base64Digit(c);
            if (d < 0) continue; // padding and stray bytes
            acc = acc << 6 | static_cast<uint32_t>(d);
            bits += 6;
            if (bits >= 8) {
                bits -= 8;
                bytes += static_cast<char>((acc >> bits) & 0xFF);
            }
        }
    } else {
        return false;
    }
    if (cs == Utf8) {
        *out += bytes;
        return true;
    }
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        appendUtf8(*out, cs == Cp1252 && b >= 0x80 && b < 0xA0 ? kCp1252[b - 0x80] : char32_t(b));
    }
    return true;
}

// The value with its encoded words decoded; blanks between two encoded
// words vanish (RFC 2047 §6.2).
std::string decodeWords(std::string_view value) {
    std::string out;
    size_t i = 0;
    bool lastWasWord = false;
    std::string_view pendingBlank;
    while (i < value.size() && out.size() < FILTER_MAX_FIELD) {
        const size_t start = value.find("=?", i);
        if (start == std::string_view::npos) {
            out += pendingBlank;
            out += value.substr(i);
            break;
        }
        // An encoded word has no blank inside: it ends at the first "?="
        // after its charset and encoding.
        size_t end = std::string_view::npos;
        const size_t q1 = value.find('?', start + 2);
        if (q1 != std::string_view::npos && q1 + 2 < value.size() && value[q1 + 2] == '?')
            end = value.find("?=", q1 + 3);
        const std::string_view between = value.substr(i, start - i);
        std::string decoded;
        if (end != std::string_view::npos &&
            value.substr(start, end + 2 - start).find_first_of(" \t") == std::string_view::npos &&
            decodeWord(value.substr(start, end + 2 - start), &decoded)) {
            const bool onlyBlanks = trim(between).empty();
            if (!(lastWasWord && onlyBlanks)) out += between;
            out += decoded;
            lastWasWord = true;
            i = end + 2;
        } else {
            out += between;
            out += "=?";
            lastWasWord = false;
            i = start + 2;
        }
    }
    if (out.size() > FILTER_MAX_FIELD) out.resize(FILTER_MAX_FIELD);
    return out;
}

bool contains(std::string_view hay, std::string_view needle, bool matchCase) {
    if (matchCase) return hay.find(needle) != std::string_view::npos;
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end(),
                       [](char x, char y) { return lower(x) == lower(y); }) != hay.end();
}

bool matchValue(const FILTER_RULE& r, const FREGEX* re, std::string_view value) {
    switch (r.match) {
    case FILTER_MATCH::Contains:
        return contains(value, r.pattern, r.matchCase);
    case FILTER_MATCH::Equals:
        return r.matchCase ? value == r.pattern : equalFold(value, r.pattern);
    case FILTER_MATCH::StartsWith:
        return value.size() >= r.pattern.size() &&
               (r.matchCase ? value.substr(0, r.pattern.size()) == r.pattern
                            : equalFold(value.substr(0, r.pattern.size()), r.pattern));
    case FILTER_MATCH::Regex:
        return re && FRegex_Search(*re, value);
    }
    return false;
}

// Splits "a\tb\tc" into at most `n` parts, the last one taking the rest.
std::vector<std::string_view> splitTabs(std::string_view line, size_t n) {
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < n) {
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos) break;
        parts.push_back(line.substr(0, tab));
        line.remove_prefix(tab + 1);
    }
    parts.push_back(line);
    return parts;
}

bool parseActions(std::string_view text, uint32_t* out, std::string* error) {
    *out = 0;
    if (text == "none") return true;
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view name = trim(text.substr(0, comma));
        const auto* it =
            std::find_if(std::begin(FILTER_ACTION_NAMES), std::end(FILTER_ACTION_NAMES),
                         [&](const FILTER_ACTION_NAME& a) { return name == a.name; });
        if (it == std::end(FILTER_ACTION_NAMES)) {
            *error = "unknown action \"" + std::string(name.substr(0, 40)) + "\"";
            return false;
        }
        *out |= it->bit;
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return true;
}

bool parseLine(std::string_view line, FILTER_RULE* rule, std::string* error) {
    const auto parts = splitTabs(line, 5);
    if (parts.size() != 5) {
        *error = "expected field, match, case, actions and pattern separated by tabs";
        return false;
    }
    FILTER_RULE r;
    r.field = parts[0] == "*" ? std::string() : std::string(parts[0]);
    const auto* m = std::find(kMatchNames.begin(), kMatchNames.end(), parts[1]);
    if (m == kMatchNames.end()) {
        *error = "unknown match \"" + std::string(parts[1].substr(0, 40)) + "\"";
        return false;
    }
    r.match = static_cast<FILTER_MATCH>(m - kMatchNames.begin());
    if (parts[2] == "case")
        r.matchCase = true;
    else if (parts[2] != "nocase") {
        *error = "case must be \"case\" or \"nocase\"";
        return false;
    }
    if (!parseActions(parts[3], &r.actions, error)) return false;
    r.pattern = std::string(parts[4]);
    if (!FilterRules_Check(r, error)) return false;
    *rule = std::move(r);
    return true;
}

} // namespace

bool FilterRules_Check(const FILTER_RULE& rule, std::string* error) {
    std::string ignored;
    std::string& err = error ? *error : ignored;
    if (!rule.field.empty() && !fieldNameOk(rule.field)) {
        err = "the field name must be up to " + std::to_string(FILTER_MAX_FIELD_NAME) +
              " printable characters without blanks or ':'";
        return false;
    }
    if (rule.pattern.empty()) {
        err = "the pattern is empty";
        return false;
    }
    if (rule.pattern.size() > FREGEX_MAX_PATTERN) {
        err = "the pattern is longer than " + std::to_string(FREGEX_MAX_PATTERN) + " bytes";
        return false;
    }
    if (rule.pattern.find_first_of("\r\n") != std::string::npos || !validUtf8(rule.pattern)) {
        err = "the pattern must be one line of UTF-8 text";
        return false;
    }
    if (rule.match == FILTER_MATCH::Regex) {
        FREGEX re;
        std::string why;
        if (!FRegex_Compile(rule.pattern, rule.matchCase, &re, &why)) {
            err = "bad regular expression: " + why;
            return false;
        }
    }
    return true;
}

bool FilterRules_Parse(std::string_view text, bool strict, std::vector<FILTER_RULE>* out,
                       std::string* error, size_t* skipped) {
    std::string ignored;
    std::string& err = error ? *error : ignored;
    if (skipped) *skipped = 0;
    if (text.size() > FILTER_MAX_FILE) {
        err = "the file is larger than " + std::to_string(FILTER_MAX_FILE / 1024) + " KiB";
        return false;
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<FILTER_RULE> rules;
    size_t lineNo = 0;
    bool sawMagic = false;
    while (!text.empty()) {
        const size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!sawMagic) {
            if (line != FILTER_FILE_MAGIC) {
                err = "line 1: not an Inboxwarden filter rule file (the first line must be \"" +
                      std::string(FILTER_FILE_MAGIC) + "\")";
                return false;
            }
            sawMagic = true;
            continue;
        }
        if (trim(line).empty() || line.front() == '#') continue;
        FILTER_RULE r;
        std::string why;
        if (rules.size() >= FILTER_MAX_RULES) {
            why = "more than " + std::to_string(FILTER_MAX_RULES) + " rules";
        } else if (parseLine(line, &r, &why)) {
            rules.push_back(std::move(r));
            continue;
        }
        if (strict) {
            err = "line " + std::to_string(lineNo) + ": " + why;
            return false;
        }
        if (skipped) ++*skipped;
    }
    if (!sawMagic) {
        err = "the file is empty";
        return false;
    }
    *out = std::move(rules);
    return true;
}

std::string FilterRules_Format(const std::vector<FILTER_RULE>& rules) {
    std::string out = std::string(FILTER_FILE_MAGIC) + "\n";
    for (const auto& r : rules) {
        out += r.field.empty() ? "*" : r.field;
        out += '\t';
        out += kMatchNames[static_cast<size_t>(r.match)];
        out += r.matchCase ? "\tcase\t" : "\tnocase\t";
        std::string actions;
        for (const auto& a : FILTER_ACTION_NAMES)
            if (r.actions & a.bit) actions += (actions.empty() ? "" : ",") + std::string(a.name);
        out += actions.empty() ? "none" : actions;
        out += '\t';
        out += r.pattern;
        out += '\n';
    }
    return out;
}

std::string_view FilterRules_HeaderOf(std::string_view text) {
    // The check hands the text as the POP3 answer had it after "+OK ...\r":
    // the status line's LF comes first.
    while (!text.empty() && (text.front() == '\n' || text.front() == '\r'))
        text.remove_prefix(1);
    if (text.size() > FILTER_MAX_HEADER) text = text.substr(0, FILTER_MAX_HEADER);
    if (text.substr(0, 1) == "\n" || text.substr(0, 2) == "\r\n") return {};
    size_t at = 0;
    while (true) {
        const size_t nl = text.find('\n', at);
        if (nl == std::string_view::npos) return text;
        const std::string_view rest = text.substr(nl + 1);
        if (rest.substr(0, 1) == "\n" || rest.substr(0, 2) == "\r\n") return text.substr(0, nl + 1);
        at = nl + 1;
    }
}

std::vector<std::string> FilterRules_FieldValues(std::string_view header, std::string_view name) {
    std::vector<std::string> values;
    std::string current;
    bool in = false;
    auto finish = [&] {
        if (in) values.push_back(decodeWords(trim(current)));
        current.clear();
        in = false;
    };
    while (!header.empty()) {
        const size_t eol = header.find('\n');
        std::string_view line = header.substr(0, eol);
        header.remove_prefix(eol == std::string_view::npos ? header.size() : eol + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            // A folded continuation: unfolding removes only the line break.
            if (in && current.size() < FILTER_MAX_FIELD) current += line;
            continue;
        }
        finish();
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        if (equalFold(trim(line.substr(0, colon)), name)) {
            in = true;
            current = line.substr(colon + 1);
        }
    }
    finish();
    for (auto& v : values)
        if (v.size() > FILTER_MAX_FIELD) v.resize(FILTER_MAX_FIELD);
    return values;
}

bool FilterRules_MatchOne(const FILTER_RULE& rule, const FREGEX* regex, std::string_view text) {
    const std::string_view header = FilterRules_HeaderOf(text);
    if (rule.field.empty()) {
        return matchValue(rule, regex, rule.match == FILTER_MATCH::Regex ? header : trim(header));
    }
    for (const auto& v : FilterRules_FieldValues(header, rule.field))
        if (matchValue(rule, regex, v)) return true;
    return false;
}

void FILTER_RULESET::Assign(const std::vector<FILTER_RULE>& rules) {
    rules_.clear();
    regex_.clear();
    for (const auto& r : rules) {
        if (!FilterRules_Check(r, nullptr)) continue;
        std::shared_ptr<FREGEX> re;
        if (r.match == FILTER_MATCH::Regex) {
            re = std::make_shared<FREGEX>();
            if (!FRegex_Compile(r.pattern, r.matchCase, re.get(), nullptr)) continue;
        }
        rules_.push_back(r);
        regex_.push_back(std::move(re));
    }
}

bool FILTER_RULESET::Match(std::string_view text, uint32_t* actions) const {
    const std::string_view header = FilterRules_HeaderOf(text);
    // Each field is unfolded and decoded once per message, not once per rule.
    std::vector<std::pair<std::string, std::vector<std::string>>> fields;
    auto valuesOf = [&](const std::string& name) -> const std::vector<std::string>& {
        for (const auto& f : fields)
            if (equalFold(f.first, name)) return f.second;
        fields.emplace_back(name, FilterRules_FieldValues(header, name));
        return fields.back().second;
    };
    for (size_t i = 0; i < rules_.size(); ++i) {
        const FILTER_RULE& r = rules_[i];
        bool hit = false;
        if (r.field.empty()) {
            hit = matchValue(r, regex_[i].get(),
                             r.match == FILTER_MATCH::Regex ? header : trim(header));
        } else {
            for (const auto& v : valuesOf(r.field))
                if ((hit = matchValue(r, regex_[i].get(), v))) break;
        }
        if (hit) {
            *actions = r.actions;
            return true;
        }
    }
    return false;
}

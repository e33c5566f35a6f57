// SPDX-License-Identifier: GPL-3.0-or-later
// The rules of the shipped filter plug-in: their text form (the rule file
// that import and export read and write, and the store keeps) and their
// matching. No dependency beyond the standard library, so that the plug-in
// (which links nothing of the program) and the tray's rule editor share it.
//
// Rule file, UTF-8, one rule a line, lines end in LF or CR LF:
//   Inboxwarden filter rules 1
//   # a comment
//   <field>\t<match>\t<case>\t<actions>\t<pattern to the end of the line>
// field: a header field name (From, Subject, X-Spam-Flag ...) or "*" for the
// whole header; match: contains, equals, starts or regex; case: nocase or
// case; actions: names from FILTER_ACTION_NAMES joined by ',', or "none".
//
// What a rule sees. The text handed to the plug-in is a message's header
// (or the whole message, of which only the header counts: up to the first
// empty line; line breaks before it are skipped). A field rule looks at each field of that name
// (names fold ASCII case), unfolded (line breaks inside the field removed), blanks trimmed at both
// ends, with RFC 2047 encoded words decoded to UTF-8 when their charset is UTF-8, US-ASCII,
// ISO-8859-1 or Windows-1252 (others stay as written). The whole-header rule sees the header as it
// came, folds and encoded words included, so a regular expression there can anchor at line starts.
// Case folding is ASCII only.
//
// Bounds: a header is looked at up to FILTER_MAX_HEADER bytes, a field
// value up to FILTER_MAX_FIELD; patterns are at most FREGEX_MAX_PATTERN
// bytes; a file or stored set holds at most FILTER_MAX_RULES rules in at
// most FILTER_MAX_FILE bytes.
//
// Evaluation: the first rule that matches decides the actions; a rule with
// no action ("none") therefore exempts the messages it matches from the
// rules after it.
#pragma once

#include "message/filter_regex.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

inline constexpr size_t FILTER_MAX_HEADER = 64 * 1024;
inline constexpr size_t FILTER_MAX_FIELD = 8 * 1024;
inline constexpr size_t FILTER_MAX_RULES = 1000;
inline constexpr size_t FILTER_MAX_FILE = 1024 * 1024;
inline constexpr size_t FILTER_MAX_FIELD_NAME = 76;
inline constexpr const char* FILTER_FILE_MAGIC = "Inboxwarden filter rules 1";

enum class FILTER_MATCH : uint8_t { Contains, Equals, StartsWith, Regex };

struct FILTER_RULE {
    std::string field; // empty: the whole header
    FILTER_MATCH match = FILTER_MATCH::Contains;
    bool matchCase = false;
    uint32_t actions = 0; // IWF_ACT_* bits
    std::string pattern;
    bool operator==(const FILTER_RULE&) const = default;
};

// Action bits by the names the rule file uses, in the order of their bits.
struct FILTER_ACTION_NAME {
    uint32_t bit;
    const char* name;
};
extern const FILTER_ACTION_NAME FILTER_ACTION_NAMES[8];

// Checks one rule as the file, the store and the editor accept it: field
// name, pattern size and characters, the regular expression. true, or false
// with the reason in *error.
bool FilterRules_Check(const FILTER_RULE& rule, std::string* error);

// Parses a rule file. Strict (import): any bad line fails the whole text,
// *error = "line 3: unknown match \"like\"", and *out is left alone. Lenient
// (the store, written by the plug-in itself): bad lines are skipped and
// counted in *skipped. true on success.
bool FilterRules_Parse(std::string_view text, bool strict, std::vector<FILTER_RULE>* out,
                       std::string* error, size_t* skipped = nullptr);

// The file text of `rules` (which FilterRules_Parse reads back unchanged).
std::string FilterRules_Format(const std::vector<FILTER_RULE>& rules);

// Rules made ready to match: regular expressions compiled once.
class FILTER_RULESET {
  public:
    // Rules that do not pass FilterRules_Check are left out.
    void Assign(const std::vector<FILTER_RULE>& rules);
    const std::vector<FILTER_RULE>& Rules() const { return rules_; }
    bool Empty() const { return rules_.empty(); }
    // The actions of the first matching rule for a header (or whole message)
    // text; false when none matches.
    bool Match(std::string_view messageText, uint32_t* actions) const;

  private:
    std::vector<FILTER_RULE> rules_;
    std::vector<std::shared_ptr<FREGEX>> regex_; // per rule; null unless Regex
};

// The header part of a message text, cut at FILTER_MAX_HEADER.
std::string_view FilterRules_HeaderOf(std::string_view messageText);

// Every value of field `name` in `header`, unfolded, trimmed and with
// encoded words decoded as described above (for the tests and the editor).
std::vector<std::string> FilterRules_FieldValues(std::string_view header, std::string_view name);

// true when `rule` matches the message text.
bool FilterRules_MatchOne(const FILTER_RULE& rule, const FREGEX* regex, std::string_view text);

// SPDX-License-Identifier: GPL-3.0-or-later
#include "message/msg_header.h"

#include "common/text.h"

#include <algorithm>
#include <ctime>
#include <string>

namespace {

constexpr size_t npos = std::string_view::npos;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The header block of a text (up to and including the CR LF of its last
// line, plus the CR LF of the empty line), after a line feed so that a field
// on the text's first line begins a line like every other.
std::string lineHeader(std::string_view text) {
    const size_t end = text.find("\r\n\r\n");
    std::string h = "\n";
    if (end == npos) {
        h.append(text);
        h += "\r\n\r\n";
    } else {
        h.append(text.substr(0, end + 4));
    }
    return h;
}

class DateReader {
  public:
    explicit DateReader(std::string_view s) : s_(s) {}

    bool number(int* out) {
        while (pos_ < s_.size() && isSpace(s_[pos_]))
            ++pos_;
        if (pos_ >= s_.size() || !isDigit(s_[pos_])) return false;
        uint16_t v = 0;
        digits_ = 0;
        while (pos_ < s_.size() && isDigit(s_[pos_])) {
            v = static_cast<uint16_t>(v * 10 + (s_[pos_] - '0'));
            ++pos_;
            ++digits_;
        }
        while (pos_ < s_.size() && isSpace(s_[pos_]))
            ++pos_;
        *out = v;
        return true;
    }
    bool take(char c) {
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    std::string_view rest() const { return s_.substr(pos_); }
    void skip(size_t n) { pos_ = std::min(s_.size(), pos_ + n); }
    size_t pos() const { return pos_; }
    void seek(size_t p) { pos_ = p; }
    int digits() const { return digits_; }

  private:
    std::string_view s_;
    size_t pos_ = 0;
    int digits_ = 0;
};

// Minutes to add to the written time to reach UTC, or false for an unknown
// zone.
bool zoneCorrection(std::string_view z, int* minutes) {
    static constexpr struct {
        std::string_view name;
        int hours;
    } kNames[] = {{"UT", 0},  {"GMT", 0}, {"EST", 5}, {"EDT", 4}, {"CST", 6},
                  {"CDT", 5}, {"MST", 7}, {"MDT", 6}, {"PST", 8}, {"PDT", 7}};
    for (const auto& n : kNames) {
        if (z.size() >= n.name.size() && Text_EqualsNoCase(z.substr(0, n.name.size()), n.name)) {
            *minutes = n.hours * 60;
            return true;
        }
    }
    size_t letters = 0;
    while (letters < z.size() &&
           ((z[letters] >= 'A' && z[letters] <= 'Z') || (z[letters] >= 'a' && z[letters] <= 'z')))
        ++letters;
    // A military letter only when the zone is that one letter: "CEST" is not
    // 'C' and "MEZ" is not 'M'.
    if (letters == 1) {
        const char c = z[0];
        if (c == 'Z') return *minutes = 0, true;
        if (c >= 'A' && c <= 'I') return *minutes = (c - 'A' + 1) * 60, true;
        if (c >= 'K' && c <= 'M') return *minutes = (c - 'K' + 10) * 60, true;
        if (c >= 'N' && c <= 'Y') return *minutes = -(c - 'N' + 1) * 60, true;
        return false;
    }
    if (letters > 0 || z.empty() || (z[0] != '+' && z[0] != '-')) return false;
    size_t d = 1;
    while (d < z.size() && isDigit(z[d]))
        ++d;
    const size_t count = d - 1;
    if (count != 3 && count != 4) return false;
    const int value = std::stoi(std::string(z.substr(1, count)));
    const int total = (value / 100) * 60 + value % 100;
    *minutes = z[0] == '-' ? total : -total;
    return true;
}

} // namespace

int Msg_ParseDate(std::string_view text, DATETIME* date) {
    *date = DateTime_Missing();
    DateReader r(text);
    // Folding white space counts as blanks: a Received field usually breaks
    // its line right before the date.
    size_t i = 0;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    size_t w = i;
    while (w < text.size() && text[w] != ',' && !isSpace(text[w]))
        ++w;
    size_t c = w;
    while (c < text.size() && isSpace(text[c]))
        ++c;
    r.seek(c < text.size() && text[c] == ',' ? c + 1 : i);

    int day, year, hour, minute, second;
    if (!r.number(&day)) return 0;
    static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::string_view m = r.rest().substr(0, 3);
    int month = 0;
    for (int k = 0; k < 12; ++k)
        if (m.size() == 3 && Text_EqualsNoCase(m, kMonths[k])) month = k + 1;
    if (month == 0) return 0;
    r.skip(3);
    while (!r.rest().empty() && !isDigit(r.rest()[0]))
        r.skip(1);
    if (!r.number(&year)) return 0;
    if (r.digits() <= 2)
        year += year < 50 ? 2000 : 1900;
    else if (r.digits() == 3)
        year += 1900;
    if (!r.number(&hour) || !r.take(':') || !r.number(&minute) || !r.take(':') ||
        !r.number(&second))
        return 0;

    int correction = 0;
    const bool known = zoneCorrection(r.rest(), &correction);
    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute + (known ? correction : 0);
    t.tm_sec = second;
    // timegm normalises the fields without any daylight-saving rule, so a
    // time in a local DST gap is neither moved nor refused.
    const time_t utc = timegm(&t);
    if (utc == static_cast<time_t>(-1) && !(t.tm_year == 69 && t.tm_mday == 31)) return 0;
    DATETIME dt;
    if (known) {
        dt = DateTime_FromTime(utc);
    } else {
        tm written{};
        if (!gmtime_r(&utc, &written)) return 0;
        dt = DateTime_FromTm(written);
    }
    if (DateTime_IsMissing(dt)) return 0;
    *date = dt;
    return 1;
}

void Msg_GetDate(std::string_view text, DATETIME* date) {
    const std::string h = lineHeader(text);
    size_t m, vo, vl;
    for (const std::string_view name : {"\nReceived:", "\nX-Apparently-To:"}) {
        if (!MIME_FindField(h, "\r\n\r\n", name, "", &m, &vo, &vl)) continue;
        const std::string_view value = std::string_view(h).substr(vo, vl);
        const size_t semi = value.find(';');
        if (semi == npos) continue;
        if (Msg_ParseDate(value.substr(semi + 1), date)) return;
    }
    if (MIME_FindField(h, "\r\n\r\n", "\nDate:", "", &m, &vo, &vl) &&
        Msg_ParseDate(std::string_view(h).substr(vo, vl), date))
        return;
    *date = DateTime_Missing();
}

void Msg_GetRecordFields(std::string_view text, const MimeMessage* parsed, MSG_FIELDS* fields) {
    const std::string h = lineHeader(text);
    const auto decoded = [&](std::string_view field, size_t max) {
        std::string value;
        MIME_GetHeaderFromText(h, field, &value, max);
        return value;
    };
    fields->From = decoded("\nFrom:", MSG_FIELD_MAX);
    fields->ReplyTo = decoded("\nReply-To:", MSG_FIELD_MAX);
    fields->To = decoded("\nTo:", MSG_TO_MAX);
    fields->Subject = decoded("\nSubject:", MSG_FIELD_MAX);
    // The id as the server sent it, never repaired: that would be another id.
    std::string id;
    if (MIME_GetUnfoldedHeader(h, "\nMessage-ID:", &id, 4 * MSG_FIELD_MAX))
        fields->MsgId = std::string(Text_CutUtf8(id, MSG_FIELD_MAX));
    if (fields->MsgId.empty()) fields->MsgId = " ";
    Msg_GetDate(text, &fields->Date);
    uint32_t flags = 0;
    fields->HasAttach =
        parsed && MIME_GetContentFlags(parsed, &flags) == 0 && (flags & MIME_HAS_ATTACHMENTS) ? 1
                                                                                              : 0;
}

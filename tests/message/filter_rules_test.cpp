// SPDX-License-Identifier: GPL-3.0-or-later
#include "message/filter_rules.h"
#include "message/iwfilter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char* kHeader = "Return-Path: <bulk@ads.example>\r\n"
                      "Received: from a.example by b.example\r\n"
                      "Received: from relay.spam.example by a.example\r\n"
                      "From: \"Deals Team\" <Deals@Ads.Example>\r\n"
                      "To: me@home.example\r\n"
                      "Subject: =?UTF-8?B?R3LDvMOfZQ==?= =?ISO-8859-1?Q?_aus_K=F6ln?= and\r\n"
                      " more\r\n"
                      "X-Spam-Flag: YES\r\n"
                      "\r\n"
                      "Subject: in the body, never a field\r\n";

FILTER_RULE rule(std::string field, FILTER_MATCH m, std::string pattern, bool matchCase = false) {
    FILTER_RULE r;
    r.field = std::move(field);
    r.match = m;
    r.pattern = std::move(pattern);
    r.matchCase = matchCase;
    r.actions = IWF_ACT_DELETE;
    return r;
}

bool matches(const FILTER_RULE& r, std::string_view text = kHeader) {
    FILTER_RULESET set;
    set.Assign({r});
    EXPECT_FALSE(set.Empty()) << r.pattern;
    uint32_t actions = 0;
    return set.Match(text, &actions);
}

using M = FILTER_MATCH;

TEST(FilterRules, MatchingTable) {
    struct Case {
        FILTER_RULE r;
        bool hit;
    } cases[] = {
        // Each kind, with and without case.
        {rule("From", M::Contains, "deals@ads.example"), true},
        {rule("From", M::Contains, "deals@ads.example", true), false},
        {rule("From", M::Contains, "Deals@Ads.Example", true), true},
        {rule("To", M::Equals, "ME@HOME.EXAMPLE"), true},
        {rule("To", M::Equals, "me@home"), false},
        {rule("X-Spam-Flag", M::Equals, "yes"), true},
        {rule("X-Spam-Flag", M::Equals, "yes", true), false},
        {rule("from", M::StartsWith, "\"deals"), true},
        {rule("From", M::StartsWith, "Deals"), false},
        {rule("From", M::Regex, "<[a-z]+@ads\\.example>$"), true},
        {rule("From", M::Regex, "<[a-z]+@ads\\.example>$", true), false},
        // Every field of a name counts; the body is never a field.
        {rule("Received", M::Contains, "relay.spam.example"), true},
        {rule("Subject", M::Contains, "in the body"), false},
        {rule("Cc", M::Contains, "a"), false},
        // A folded field is unfolded; encoded words are decoded, in UTF-8.
        {rule("Subject", M::Equals, "Grüße aus Köln and more"), true},
        {rule("Subject", M::Contains, "GRÜSSE"), false}, // ASCII folding only
        {rule("Subject", M::Contains, "and more"), true},
        // The whole header as it came: raw encoded words, line anchors.
        {rule("", M::Contains, "=?UTF-8?B?R3LDvMOfZQ==?="), true},
        {rule("", M::Contains, "Grüße"), false},
        {rule("", M::Regex, "^x-spam-flag: *yes$"), true},
        {rule("", M::Regex, "^x-spam-flag: *yes$", true), false},
        {rule("", M::StartsWith, "return-path:"), true},
        {rule("", M::Contains, "in the body"), false},
    };
    // The check hands a POP3 answer's text: its status line's LF comes first.
    EXPECT_TRUE(matches(rule("", M::StartsWith, "Return-Path"), std::string("\n") + kHeader));
    EXPECT_TRUE(matches(rule("To", M::Equals, "me@home.example"), std::string("\r\n") + kHeader));
    for (const auto& c : cases)
        EXPECT_EQ(matches(c.r), c.hit)
            << "field '" << c.r.field << "' pattern '" << c.r.pattern << "' case " << c.r.matchCase;
}

TEST(FilterRules, FirstMatchingRuleDecides) {
    FILTER_RULE allow = rule("From", M::Contains, "boss@ads.example");
    allow.actions = 0;
    FILTER_RULE spam = rule("From", M::Contains, "@ads.example");
    spam.actions = IWF_ACT_DELETE | IWF_ACT_SPAM;
    FILTER_RULESET set;
    set.Assign({allow, spam});
    uint32_t actions = 0xFF;
    EXPECT_TRUE(set.Match("From: boss@ads.example\r\n\r\n", &actions));
    EXPECT_EQ(actions, 0u);
    EXPECT_TRUE(set.Match("From: x@ads.example\r\n\r\n", &actions));
    EXPECT_EQ(actions, IWF_ACT_DELETE | IWF_ACT_SPAM);
    EXPECT_FALSE(set.Match("From: x@home.example\r\n\r\n", &actions));
}

TEST(FilterRules, EncodedWordsAndFolding) {
    struct Case {
        const char* header;
        const char* value;
    } cases[] = {
        {"Subject: =?utf-8?q?a_b?=\r\n", "a b"},
        {"Subject: =?UTF-8?B?w6Q=?=   =?UTF-8?B?w7Y=?=\r\n", "äö"}, // blanks between vanish
        {"Subject: =?windows-1252?Q?=80?=\r\n", "€"},
        {"Subject: =?KOI8-R?B?8A==?=\r\n", "=?KOI8-R?B?8A==?="}, // not decoded: kept
        {"Subject: =?UTF-8?B?broken\r\n", "=?UTF-8?B?broken"},
        {"Subject: a\r\n\tb\r\n  c\r\n", "a\tb  c"},
        {"Subject:\r\n", ""},
        {"subject :  x  \n", "x"}, // bare LF, blank before the colon
    };
    for (const auto& c : cases) {
        const auto v = FilterRules_FieldValues(c.header, "Subject");
        ASSERT_EQ(v.size(), 1u) << c.header;
        EXPECT_EQ(v[0], c.value) << c.header;
    }
}

TEST(FilterRules, RegexSyntax) {
    struct Case {
        const char* re;
        const char* text;
        bool hit;
    } cases[] = {
        {"a|b", "xbx", true},
        {"^(ab)+$", "ababab", true},
        {"^(ab)+$", "ababa", false},
        {"colou?r", "color", true},
        {"^a{2,3}$", "aaa", true},
        {"^a{2,3}$", "aaaa", false},
        {"^a{2,}$", "aaaaa", true},
        {"[^0-9]", "123", false},
        {"\\d{3}-\\d{4}", "555-1234", true},
        {"a.c", "a\nc", false},
        {"x{", "x{", true},
        {"(?:ab)*c", "ababc", true},
        {"\\.", "a.b", true},
        {"\\.", "ab", false},
        {"[]a]", "]", true},
        {"^$", "", true},
        {"a*?b", "aab", true},
        {"\\s\\S\\w\\W", " x_!", true},
    };
    for (const auto& c : cases) {
        FREGEX re;
        std::string error;
        ASSERT_TRUE(FRegex_Compile(c.re, true, &re, &error)) << c.re << ": " << error;
        EXPECT_EQ(FRegex_Search(re, c.text), c.hit) << c.re << " on " << c.text;
    }
    const char* refused[] = {"(a",    "a)",  "*a",    "[a",     "a\\",     "(a)\\1",
                             "(?=a)", "\\q", "[z-a]", "a{5,2}", "a{1001}", "((((a{100}){100})))"};
    for (const char* r : refused) {
        FREGEX re;
        std::string error;
        EXPECT_FALSE(FRegex_Compile(r, true, &re, &error)) << r;
        EXPECT_FALSE(error.empty()) << r;
    }
}

// The hostile cases finish because the matcher's work is bounded by text x
// program size; bench/ measures the time (filter_match_bench).
TEST(FilterRules, HostilePatternsAndHeadersStayBounded) {
    const std::string longA(FILTER_MAX_HEADER * 2, 'a');
    FREGEX re;
    ASSERT_TRUE(FRegex_Compile("(a+)+b", true, &re, nullptr));
    EXPECT_FALSE(FRegex_Search(re, std::string(5000, 'a')));
    // A header far over the cap is cut, not refused: a rule still sees its
    // start and never its tail.
    const std::string huge = "Subject: x\r\nX-Long: " + longA + "\r\nX-Tail: t\r\n\r\n";
    EXPECT_TRUE(matches(rule("Subject", M::Equals, "x"), huge));
    EXPECT_FALSE(matches(rule("X-Tail", M::Equals, "t"), huge));
    EXPECT_EQ(FilterRules_HeaderOf(huge).size(), FILTER_MAX_HEADER);
    EXPECT_EQ(FilterRules_FieldValues(huge, "X-Long")[0].size(), FILTER_MAX_FIELD);
}

TEST(FilterRules, FileRoundTripAndStrictErrors) {
    FILTER_RULE a = rule("From", M::Regex, "^x\t[ab]$", true); // a tab inside the pattern
    a.actions = IWF_ACT_SAVE | IWF_ACT_QUIET;
    FILTER_RULE b = rule("", M::StartsWith, "Return-Path: <>");
    b.actions = 0;
    const std::string text = FilterRules_Format({a, b});
    EXPECT_EQ(text, "Inboxwarden filter rules 1\n"
                    "From\tregex\tcase\tsave,quiet\t^x\t[ab]$\n"
                    "*\tstarts\tnocase\tnone\tReturn-Path: <>\n");
    std::vector<FILTER_RULE> back;
    std::string error;
    ASSERT_TRUE(FilterRules_Parse(text, true, &back, &error)) << error;
    EXPECT_EQ(back, (std::vector<FILTER_RULE>{a, b}));

    struct Bad {
        std::string text;
        const char* error;
    } bad[] = {
        {"", "the file is empty"},
        {"rules\n", "line 1: not an Inboxwarden filter rule file"},
        {"Inboxwarden filter rules 1\r\n# c\r\nFrom\tlike\tcase\tsave\tx\r\n",
         "line 3: unknown match \"like\""},
        {"Inboxwarden filter rules 1\nFrom\tcontains\tCASE\tsave\tx\n", "line 2: case must be"},
        {"Inboxwarden filter rules 1\nFrom\tcontains\tcase\tdelete,explode\tx\n",
         "line 2: unknown action \"explode\""},
        {"Inboxwarden filter rules 1\nFrom contains case save x\n", "line 2: expected field"},
        {"Inboxwarden filter rules 1\nFro m\tcontains\tcase\tsave\tx\n", "line 2: the field name"},
        {"Inboxwarden filter rules 1\nFrom\tcontains\tcase\tsave\t\n",
         "line 2: the pattern is empty"},
        {"Inboxwarden filter rules 1\nFrom\tregex\tcase\tsave\t(a\n",
         "line 2: bad regular expression: unbalanced parenthesis at 3"},
        {"Inboxwarden filter rules 1\nFrom\tcontains\tcase\tsave\t\xff\n",
         "line 2: the pattern must be"},
        {"Inboxwarden filter rules 1\nFrom\tcontains\tcase\tsave\t" + std::string(600, 'x') + "\n",
         "line 2: the pattern is longer than 512 bytes"},
        {std::string(FILTER_MAX_FILE + 1, '#'), "the file is larger than 1024 KiB"},
    };
    for (const auto& c : bad) {
        std::vector<FILTER_RULE> kept{a};
        std::string why;
        EXPECT_FALSE(FilterRules_Parse(c.text, true, &kept, &why)) << c.error;
        EXPECT_EQ(why.rfind(c.error, 0), 0u) << why;
        EXPECT_EQ(kept, std::vector<FILTER_RULE>{a}); // untouched
    }
    // Leniently (the store), a bad line is skipped and the rest kept.
    size_t skipped = 0;
    ASSERT_TRUE(FilterRules_Parse(std::string(bad[2].text) + text.substr(text.find('\n') + 1),
                                  false, &back, &error, &skipped));
    EXPECT_EQ(skipped, 1u);
    EXPECT_EQ(back.size(), 2u);
    // The rule count is capped.
    std::string many = FILTER_FILE_MAGIC + std::string("\n");
    for (size_t i = 0; i <= FILTER_MAX_RULES; ++i)
        many += "From\tcontains\tnocase\tnone\tx\n";
    EXPECT_FALSE(FilterRules_Parse(many, true, &back, &error));
    EXPECT_EQ(error, "line 1002: more than 1000 rules");
}

} // namespace

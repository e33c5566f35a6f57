// SPDX-License-Identifier: GPL-3.0-or-later
// vCard files as address books write them, and as an attacker would.
#include "../support/temp_env.h"
#include "common/status.h"
#include "message/vcard.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// The contacts as "name=a,b" joined by " | ".
std::string shown(const VCARD_FILE& f) {
    std::string out;
    for (const VCARD_CONTACT& c : f.contacts) {
        if (!out.empty()) out += " | ";
        out += c.name + "=";
        for (size_t i = 0; i < c.emails.size(); ++i)
            out += (i ? "," : "") + c.emails[i];
    }
    return out;
}

struct Case {
    const char* what;
    std::string text;
    const char* contacts;
    size_t warnings = 0;
};

TEST(VCard, CardsOfEveryVersionGiveNamesAndAddresses) {
    const Case cases[] = {
        {"4.0, CR LF, two addresses with groups and types",
         "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Ann Lee\r\nN:Lee;Ann;;;\r\n"
         "item1.EMAIL;TYPE=work:ann@work.example\r\nEMAIL;PREF=1:ann@home.example\r\n"
         "END:VCARD\r\n",
         "Ann Lee=ann@work.example,ann@home.example"},
        {"folded in the middle of a word, with a tab, LF line ends",
         "BEGIN:VCARD\nVERSION:3.0\nFN:Bar\n ba\n\tra Jones\nEMAIL:bar@exam\n ple.org\nEND:VCARD\n",
         "Barbara Jones=bar@example.org"},
        {"3.0 escapes: comma and semicolon kept, line break as a blank",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Doe\\, John\\; Jr\\nSenior\r\n"
         "EMAIL;TYPE=INTERNET:john@example.com\r\nEND:VCARD\r\n",
         "Doe, John; Jr Senior=john@example.com"},
        {"no FN: N parts in the order a name is written",
         "BEGIN:VCARD\r\nVERSION:2.1\r\nN:M\xC3\xBCller;Hans;Peter;Dr.;\r\n"
         "EMAIL;INTERNET:hans@example.de\r\nEND:VCARD\r\n",
         "Dr. Hans Peter M\xC3\xBCller=hans@example.de"},
        {"2.1 quoted-printable with a soft break and a charset",
         "BEGIN:VCARD\r\nVERSION:2.1\r\n"
         "FN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:J=FCrgen =\r\nSch=F6n\r\n"
         "EMAIL;PREF;INTERNET:juergen@example.de\r\nEND:VCARD\r\n",
         "J\xC3\xBCrgen Sch\xC3\xB6n=juergen@example.de"},
        {"2.1 bare QUOTED-PRINTABLE parameter, UTF-8 charset, soft break inside a sequence",
         "BEGIN:VCARD\r\nVERSION:2.1\r\n"
         "N;CHARSET=UTF-8;QUOTED-PRINTABLE:=D0=98=D0=B2=D0=B0=\r\n=D0=BD;;;;\r\n"
         "EMAIL:ivan@example.ru\r\nEND:VCARD\r\n",
         "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD=ivan@example.ru"},
        {"UTF-8 name without a charset, CR line ends, mailto: taken off",
         "BEGIN:VCARD\rVERSION:4.0\rFN:\xE6\x9D\x8E\xE5\x9B\x9B\rEMAIL:mailto:li@example.cn\r"
         "END:VCARD\r",
         "\xE6\x9D\x8E\xE5\x9B\x9B=li@example.cn"},
        {"Latin-1 bytes without a charset are read as Windows-1252",
         "BEGIN:VCARD\nFN:Ren\xE9\nEMAIL:rene@example.fr\nEND:VCARD\n",
         "Ren\xC3\xA9=rene@example.fr"},
        {"base64 name", "BEGIN:VCARD\nFN;ENCODING=b:Wm/DqQ==\nEMAIL:zoe@example.com\nEND:VCARD\n",
         "Zo\xC3\xA9=zoe@example.com"},
        {"a card without address, a nested agent card, lower case names",
         "begin:vcard\nfn:Nobody\nend:vcard\nBEGIN:VCARD\nFN:Boss\nAGENT:\nBEGIN:VCARD\n"
         "FN:Secretary\nEMAIL:sec@example.com\nEND:VCARD\nemail:boss@example.com\nEND:VCARD\n",
         "Nobody= | Boss=boss@example.com"},
        {"a quoted parameter value holding ':' and ';'",
         "BEGIN:VCARD\nEMAIL;X-LABEL=\"a:b;c\":q@example.com\nEND:VCARD\n", "=q@example.com"},
        {"addresses that would break a header line are skipped",
         "BEGIN:VCARD\nFN:Eve\nEMAIL:eve@example.com>, x@evil.example\nEMAIL:no-at-sign\n"
         "EMAIL:\"a b\"@example.com\nEMAIL:eve2@example.com\nEND:VCARD\n",
         "Eve=eve2@example.com", 3},
        {"line breaks and control bytes in a name become blanks",
         "BEGIN:VCARD\nFN;ENCODING=QUOTED-PRINTABLE:Mal=0D=0ABcc: x=00y\nEMAIL:m@example.com\n"
         "END:VCARD\n",
         "Mal Bcc: x y=m@example.com"},
        {"forgiven: no END, a line without ':', a property outside a card",
         "junk:1\nBEGIN:VCARD\nFN:Open\nnot a property\nEMAIL:open@example.com\n",
         "Open=open@example.com", 3},
    };
    for (const Case& c : cases) {
        VCARD_FILE f;
        std::string error;
        EXPECT_EQ(VCard_Parse(c.text, &f, &error), 0u) << c.what << ": " << error;
        EXPECT_EQ(shown(f), c.contacts) << c.what;
        EXPECT_EQ(f.warnings.size(), c.warnings) << c.what;
    }
}

TEST(VCard, WhatIsNoAddressBookFailsWithAClearTextAndBoundedWork) {
    VCARD_FILE f;
    std::string error;
    EXPECT_EQ(VCard_Parse("", &f, &error), 0u);
    EXPECT_EQ(VCard_Parse("\r\n \r\n", &f, &error), 0u);
    EXPECT_EQ(VCard_Parse("From: someone\r\nSubject: a mail, not a card\r\n", &f, &error),
              ERR_OPERATION);
    EXPECT_EQ(error, "The file holds no vCard (no BEGIN:VCARD line).");

    // One property line of 2 MB (a huge folded photo): skipped, the rest read.
    std::string big = "BEGIN:VCARD\r\nFN:Pic\r\nPHOTO;ENCODING=b:";
    for (int i = 0; i < 2 * 1024; ++i)
        big += std::string(1023, 'A') + "\r\n ";
    big += "\r\nEMAIL:pic@example.com\r\nEND:VCARD\r\n";
    ASSERT_EQ(VCard_Parse(big, &f, &error), 0u);
    EXPECT_EQ(shown(f), "Pic=pic@example.com");
    EXPECT_EQ(f.warnings,
              std::vector<std::string>{"line 3: a property longer than 1 MB was skipped"});

    // Soft breaks alone, many of them: still linear.
    std::string soft = "BEGIN:VCARD\nFN;QUOTED-PRINTABLE:";
    for (int i = 0; i < 200000; ++i)
        soft += "a=\n";
    soft += "b\nEND:VCARD\n";
    ASSERT_EQ(VCard_Parse(soft, &f, &error), 0u);
    EXPECT_EQ(f.contacts.at(0).name.size(), 200001u);

    // Over the card limit: the first cards are kept, and it says so.
    std::string many;
    for (size_t i = 0; i <= VCARD_MAX_CARDS; ++i)
        many += "BEGIN:VCARD\nEND:VCARD\n";
    ASSERT_EQ(VCard_Parse(many, &f, &error), 0u);
    EXPECT_EQ(f.contacts.size(), VCARD_MAX_CARDS);
    EXPECT_EQ(f.warnings.back(), "line 200001: only the first 100000 cards were read");
    EXPECT_EQ(VCard_Parse(std::string(VCARD_MAX_FILE + 1, '\n'), &f, &error), ERR_OPERATION);
    EXPECT_EQ(error, "The file is larger than 16 MB.");
}

TEST(VCard, FilesThatCannotBeReadSayWhy) {
    const std::string dir = iwtest::MakeTempDir("vcard");
    VCARD_FILE f;
    std::string error;
    EXPECT_EQ(VCard_LoadFile(dir, &f, &error), ERR_FAILED);
    EXPECT_EQ(error, "It is a folder.");
    ASSERT_EQ(::mkfifo((dir + "/fifo.vcf").c_str(), 0600), 0);
    EXPECT_EQ(VCard_LoadFile(dir + "/fifo.vcf", &f, &error), ERR_FAILED); // and does not hang
    EXPECT_EQ(error, "It is not a regular file.");
    iwtest::WriteFile(dir + "/big.vcf", std::string(VCARD_MAX_FILE + 1, ' '));
    EXPECT_EQ(VCard_LoadFile(dir + "/big.vcf", &f, &error), ERR_OPERATION);
}

} // namespace

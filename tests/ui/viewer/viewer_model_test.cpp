// SPDX-License-Identifier: GPL-3.0-or-later
// The viewer's rules without a display: which text it shows, its
// attachment rows and the files it writes for them, the search, the links,
// and deleting its own message among many.
#include "../mailbox/window_harness.h"
#include "common/status.h"
#include "net/fastpop3.h"
#include "platform/private_dir.h"
#include "ui/viewer/viewer_model.h"
#include "viewer_support.h"

#include <QRegularExpression>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace {

using iwtest::MakeMessage;
using iwtest::MakeTnef;
using iwtest::Part;

std::string realPath(const std::string& p) {
    char buf[PATH_MAX];
    return realpath(p.c_str(), buf) ? std::string(buf) : std::string();
}

class ViewerModelTest : public ::testing::Test, protected iwtest::WindowHarness {
  protected:
    void SetUp() override {
        Start();
        ASSERT_EQ(GlobalData_SetOptionText("ShowHdr", "0"), 0u);
    }
    void TearDown() override { Stop(); }
    std::unique_ptr<ViewerModel> open(const std::string& text, const std::string& account = "",
                                      const char* id = nullptr) {
        auto m = std::make_unique<ViewerModel>();
        MSG_RECORD r = MsgRecord_Empty();
        if (id) r.SetText(MSGF_ID, id);
        EXPECT_TRUE(m->Open(account, text, id ? &r : nullptr));
        return m;
    }
    // The file a row opens: inside the viewer's folder, a regular file, 0600.
    std::string opened(ViewerModel& m, int row) {
        VIEWER_OUTCOME out;
        const std::string path = m.FileToOpen(row, &out);
        EXPECT_TRUE(out.notices.empty()) << out.notices.front().text;
        EXPECT_FALSE(path.empty());
        const std::string real = realPath(path), folder = realPath(m.Folder());
        EXPECT_EQ(real.rfind(folder + "/", 0), 0u) << real;
        EXPECT_LE(real.substr(real.rfind('/') + 1).size(), 255u);
        struct stat st {};
        EXPECT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        return iwtest::ReadFile(path);
    }
};

TEST_F(ViewerModelTest, TheTextAndTheOfferedCommandsFollowTheParts) {
    auto plain = open(MakeMessage("Plain", "just text"));
    EXPECT_FALSE(plain->HasHtml());
    EXPECT_FALSE(plain->OffersHtmlText());
    EXPECT_EQ(plain->Text(), "just text");
    plain->ToggleSource();
    EXPECT_NE(plain->Text().find("Subject: Plain\r\n"), std::string::npos);
    plain->ToggleSource();
    EXPECT_EQ(plain->Text(), "just text");

    // Both parts: the HTML text is offered, shown as text, never as markup.
    auto both = open(MakeMessage("Both", "the plain one", {}, "<p>the <b>html</b> one</p>"));
    EXPECT_TRUE(both->OffersHtmlText());
    EXPECT_EQ(both->Text(), "the plain one");
    both->ToggleSource();
    both->ToggleHtml();
    EXPECT_FALSE(both->SourceShown());
    EXPECT_NE(both->Text().find("the html one"), std::string::npos) << both->Text();
    EXPECT_EQ(both->Text().find("<b>"), std::string::npos);
    VIEWER_NOTICE notice;
    const std::string page = both->BrowserFile(&notice);
    EXPECT_FALSE(both->HtmlShown());
    EXPECT_NE(both->Text().find("the html one"), std::string::npos); // the text stays
    EXPECT_EQ(iwtest::ReadFile(page), "<p>the <b>html</b> one</p>");

    // HTML alone: its text is the decoded text, and no "Show HTML Text".
    auto html = open(MakeMessage("Html", "", {}, "<p>only <i>html</i></p>"));
    EXPECT_TRUE(html->HasHtml());
    EXPECT_FALSE(html->OffersHtmlText());
    EXPECT_NE(html->Text().find("only html"), std::string::npos) << html->Text();

    // A message inside, in any letter case, opens in the source even when
    // the setting already asks for the source.
    ASSERT_EQ(GlobalData_SetOptionText("ShowHdr", "1"), 0u);
    for (const char* name : {"Report.EML", "Report.eml.txt"}) {
        auto eml = open(MakeMessage("Eml", "text", {{name, "x"}}));
        EXPECT_TRUE(eml->HasEmlAttachment()) << name;
        EXPECT_TRUE(eml->SourceShown()) << name;
    }
    EXPECT_FALSE(open(MakeMessage("No", "text", {{"a.txt", "x"}}))->HasEmlAttachment());
}

TEST_F(ViewerModelTest, HostileNamesStayInsideTheViewersFolder) {
    const std::string longName = std::string(300, 'n') + ".txt";
    const std::string tnef = MakeTnef(
        {{"../../.bashrc", "T1"}, {"50%.txt", "T2"}, {"/etc/passwd", "T3"}, {longName, "T4"}});
    auto m = open(MakeMessage("Names", "t",
                              {{"../../.bashrc", "A1"},
                               {"/etc/passwd", "A2"},
                               {"a\x01\x1b[2Jb.txt", "A3"},
                               {longName, "A4"},
                               {"winmail.dat", tnef}}));
    std::vector<std::string> texts;
    for (const VIEWER_ROW& r : m->Rows())
        texts.push_back(r.text);
    ASSERT_EQ(texts.size(), 9u);
    // The list shows the names as the mail gives them.
    EXPECT_EQ(texts[0], "../../.bashrc");
    EXPECT_EQ(texts[5], "+../../.bashrc");
    EXPECT_EQ(texts[6], "+50%.txt");

    const char* want[] = {"A1", "A2", "A3", "A4", nullptr, "T1", "T2", "T3", "T4"};
    for (int row = 0; row < 9; ++row)
        if (want[row]) {
            EXPECT_EQ(opened(*m, row), want[row]) << "row " << row;
        }
    // Save dialogs propose a harmless base name.
    EXPECT_EQ(m->ProposedName(0), ".bashrc");
    EXPECT_EQ(m->ProposedName(1), "passwd");
    EXPECT_EQ(m->ProposedName(2).find('\x1b'), std::string::npos);
    EXPECT_EQ(m->ProposedName(6), "50%.txt");
    EXPECT_EQ(ViewerModel::Extension("archive.tar.gz"), "gz");
    EXPECT_EQ(ViewerModel::Extension("README"), "dat");

    // Opened files may still be read by their programs after the viewer
    // has closed: the folder stays until the program ends.
    const std::string folder = m->Folder();
    m.reset();
    EXPECT_EQ(access(folder.c_str(), F_OK), 0);
    PrivateDir_RemoveAll();
    EXPECT_NE(access(folder.c_str(), F_OK), 0);
}

TEST_F(ViewerModelTest, EachViewerUnpacksItsOwnWinmailDat) {
    const std::string real =
        iwtest::ReadFile(std::string(IW_SOURCE_DIR) + "/tests/message/data/tnef/two-files.tnef");
    ASSERT_FALSE(real.empty());
    auto a = open(MakeMessage("A", "a", {{"winmail.dat", real}}));
    ASSERT_EQ(a->Rows().size(), 3u);
    EXPECT_EQ(a->Rows()[0].text, "winmail.dat");
    EXPECT_EQ(a->Rows()[1].text[0], '+');
    // B packs files of the same names with other contents; A opened first.
    std::vector<std::pair<std::string, std::string>> same;
    for (const TNEF_NAME& n : a->PackedFiles())
        same.emplace_back(n.display, "B's " + n.display);
    auto b = open(MakeMessage("B", "b", {{"WINMAIL.DAT", MakeTnef(same)}}));
    const std::string fromA = opened(*a, 1);
    EXPECT_EQ(opened(*b, 1), "B's " + a->PackedFiles()[0].display);
    EXPECT_EQ(opened(*a, 1), fromA);
    EXPECT_NE(fromA.rfind("B's ", 0), 0u);
    EXPECT_NE(a->Folder(), b->Folder());

    // Saving copies the packed file out; the user's file is replaced whole.
    const std::string target = iwtest::MakeTempDir("save") + "/out.bin";
    iwtest::WriteFile(target, "old");
    VIEWER_OUTCOME out;
    EXPECT_TRUE(b->SaveRow(2, target, &out));
    EXPECT_EQ(iwtest::ReadFile(target), "B's " + a->PackedFiles()[1].display);
    EXPECT_TRUE(a->SaveRow(0, target, &out));
    EXPECT_EQ(iwtest::ReadFile(target), real);
    EXPECT_FALSE(a->SaveRow(0, target + ".missing/x", &out));
    ASSERT_EQ(out.notices.size(), 1u);
    EXPECT_EQ(iwtest::ReadFile(target), real);
}

TEST_F(ViewerModelTest, SearchWrapsBothWaysAndPreviousPassesTheSelection) {
    const QString t = QStringLiteral("one two One three one");
    // Forward from the caret, then around the end.
    EXPECT_EQ(ViewerText_Find(t, "one", false, true, 0, 0), 0);
    EXPECT_EQ(ViewerText_Find(t, "one", false, true, 0, 3), 8);
    EXPECT_EQ(ViewerText_Find(t, "one", true, true, 0, 3), 18);
    EXPECT_EQ(ViewerText_Find(t, "one", false, true, 18, 21), 0);
    // Backward: the selected match is passed over, then around the start.
    EXPECT_EQ(ViewerText_Find(t, "one", false, false, 18, 21), 8);
    EXPECT_EQ(ViewerText_Find(t, "one", false, false, 8, 11), 0);
    EXPECT_EQ(ViewerText_Find(t, "one", false, false, 0, 3), 18);
    EXPECT_EQ(ViewerText_Find(t, "one", true, false, 0, 3), 18);
    EXPECT_EQ(ViewerText_Find(t, "one", false, false, 21, 21), 18); // caret at the end
    // The only match wraps onto itself; none at all is -1.
    EXPECT_EQ(ViewerText_Find(t, "three", false, false, 12, 17), 12);
    EXPECT_EQ(ViewerText_Find(t, "four", false, true, 0, 0), -1);
    EXPECT_EQ(ViewerText_Find(t, "", false, true, 0, 0), -1);
}

TEST_F(ViewerModelTest, LinksAreFoundButOnlyWebAndMailAreOpened) {
    const QString t = QStringLiteral(
        "See https://example.org/a?b=1&c=2. Or www.example.com, mail mailto:x@example.org;\n"
        "file:///home/u/x.desktop smb://host/share evil-app://run <http://x.org/p>");
    std::vector<QString> urls;
    for (const VIEWER_LINK& l : ViewerText_Links(t)) {
        urls.push_back(l.url);
        if (!l.url.startsWith(QStringLiteral("http://www"))) {
            EXPECT_EQ(t.mid(l.start, l.length), l.url);
        }
    }
    EXPECT_EQ(urls, (std::vector<QString>{"https://example.org/a?b=1&c=2", "http://www.example.com",
                                          "mailto:x@example.org", "file:///home/u/x.desktop",
                                          "smb://host/share", "evil-app://run", "http://x.org/p"}));
    for (const char* yes : {"http://a.org", "HTTPS://a.org/x", "mailto:a@b.org"})
        EXPECT_TRUE(ViewerText_LinkAllowed(yes)) << yes;
    for (const char* no : {"file:///etc/passwd", "smb://h/s", "evil-app://run", "javascript:x()",
                           "ftp://h/f", "", "http"})
        EXPECT_FALSE(ViewerText_LinkAllowed(no)) << no;
}

// The scan for addresses finds what the pattern it stands for finds, on
// texts made of the characters that decide: word and scheme characters,
// the lead-ins, the ends, punctuation, and letters outside ASCII.
TEST_F(ViewerModelTest, LinksAreWhatTheirPatternFinds) {
    const QRegularExpression re(
        QStringLiteral(R"((?:\b[A-Za-z][A-Za-z0-9+.\-]*://|\bmailto:|\bwww\.)[^\s<>"]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QString pieces[] = {"http",   "://",    "MailTo:", "www.",  "WWW.", "a", "_",
                              "9",      "+",      ".",       "-",     ":",    "/", " ",
                              "\t",     "<",      ">",       "\"",    "\x0b", ")", ",",
                              "\u00e9", "\u00a0", "x.org",   "\u2028"};
    uint32_t seed = 12345;
    for (int n = 0; n < 20000; ++n) {
        QString text;
        for (int k = 0; k < 12; ++k) {
            seed = seed * 1103515245 + 12345;
            text += pieces[(seed >> 16) % std::size(pieces)];
        }
        // Sentence punctuation at the end is cut, and what is left of four
        // characters or fewer dropped, after the match.
        std::vector<std::pair<int, int>> want;
        for (auto it = re.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            QString link = m.captured();
            while (!link.isEmpty() && QStringLiteral(".,;:!?)]}'").contains(link.back()))
                link.chop(1);
            if (link.size() > 4)
                want.emplace_back(static_cast<int>(m.capturedStart()),
                                  static_cast<int>(link.size()));
        }
        std::vector<std::pair<int, int>> got;
        for (const VIEWER_LINK& l : ViewerText_Links(text))
            got.emplace_back(l.start, l.length);
        ASSERT_EQ(got, want) << text.toStdString();
    }
}

TEST_F(ViewerModelTest, AddressListsSplitAtTheCommaAfterTheDomainOnly) {
    EXPECT_EQ(ViewerText_SplitAddresses("\"Doe, John\" <j@x.org>, a@b.co,c@d.net"),
              (std::vector<std::string>{"\"Doe, John\" <j@x.org>,", " a@b.co,", "c@d.net"}));
    EXPECT_EQ(ViewerText_SplitAddresses("undisclosed-recipients:;"),
              std::vector<std::string>{"undisclosed-recipients:;"});
}

// Every status in two accounts that share ids: Delete and Delete Now touch
// the viewer's own account and message only.
TEST_F(ViewerModelTest, DeletingActsOnTheViewersOwnMessageOnly) {
    static const char* ids[] = {"s0", "s1", "s2", "s3", "s4", "s5", "s6", "s7", "s8", "s9", "s10"};
    ACCOUNT* a = account("A", {});
    ACCOUNT* b = account("B", {});
    for (int s = MSG_NEW; s <= MSG_DELETED; ++s) {
        add(a, {{ids[s], s}});
        add(b, {{ids[s], s}});
    }
    const auto snapshot = [&] {
        std::string out;
        for (ACCOUNT* acc : {a, b})
            for (const char* id : ids)
                out += std::to_string(status(acc, id)) + ",";
        return out;
    };
    const std::string msg = MakeMessage("Del", "t");
    const std::string before = snapshot();

    // Busy: refused, nothing changes.
    int index = -1;
    ASSERT_EQ(Account_IndexOf(b, &index), 0u);
    ASSERT_EQ(Queue_PushAndCheck(index), 1);
    VIEWER_OUTCOME busy = open(msg, "B", "s2")->Delete();
    Queue_Clear();
    ASSERT_EQ(busy.notices.size(), 1u);
    EXPECT_EQ(busy.notices[0].text, "MailBox is busy.");
    EXPECT_FALSE(busy.close);
    EXPECT_EQ(snapshot(), before);

    const int pending = b->PendingDeletes;
    VIEWER_OUTCOME out = open(msg, "b", "s2")->Delete();
    EXPECT_TRUE(out.notices.empty());
    EXPECT_TRUE(out.close && out.messageMarked);
    EXPECT_EQ(status(b, "s2"), MSG_TO_DELETE);
    EXPECT_EQ(b->PendingDeletes, pending + 1);
    std::string expect = before;
    expect.replace(expect.find(",2,", expect.size() / 2) + 1, 1, "3");
    EXPECT_EQ(snapshot(), expect);

    // Delete now hands exactly its account and id to the runner.
    std::vector<std::string> handed;
    const auto runner = [&](bool confirm) {
        return [&handed, confirm](ACCOUNT* acc, const std::vector<std::string>& list,
                                  FASTPOP3_RESULT* result) -> uint32_t {
            handed.push_back(acc->Name);
            for (const std::string& id : list)
                handed.push_back(id);
            if (confirm) {
                result->deleted = list;
                MsgBox_DropMsgs(acc->hMsgBox, list, acc);
            }
            return confirm ? 0u : ERR_OPERATION;
        };
    };
    auto viewer = open(msg, "A", "s8");
    out = viewer->DeleteNow(runner(false));
    EXPECT_FALSE(out.close); // still on the server: the viewer stays
    EXPECT_TRUE(out.countsChanged);
    out = viewer->DeleteNow(runner(true));
    EXPECT_TRUE(out.close);
    EXPECT_EQ(handed, (std::vector<std::string>{"A", "s8", "A", "s8"}));
    EXPECT_EQ(status(a, "s8"), -1);
    expect.replace(expect.find(",8,") + 1, 1, "-1");
    EXPECT_EQ(snapshot(), expect);

    // Without a record, an account, or the record: the known boxes.
    handed.clear();
    const auto text = [](const VIEWER_OUTCOME& o) {
        return o.notices.empty() ? "" : o.notices[0].caption + ": " + o.notices[0].text;
    };
    EXPECT_EQ(text(open(msg)->DeleteNow(runner(true))),
              "Delete Now!: Didn't get enough info to delete message.");
    EXPECT_EQ(text(open(msg, "Gone", "s1")->DeleteNow(runner(true))),
              "Error: Cannot retrieve account information.");
    EXPECT_EQ(text(open(msg, "Gone", "s1")->Delete()),
              "Error: Cannot retrieve account information.");
    EXPECT_EQ(text(open(msg, "A", "s8")->DeleteNow(runner(true))),
              "DeleteNow: MsgBox_FindMsg didn't find message in table.\r\n\r\n"
              "Unable to delete message from table.");
    EXPECT_TRUE(handed.empty());
    EXPECT_EQ(snapshot(), expect);
}

// The header is read from the first line too; the save name is the subject.
TEST_F(ViewerModelTest, HeadingAndSaveNameComeFromTheHeader) {
    auto m = open(MakeMessage("Sub: ject?", "t"));
    EXPECT_EQ(m->Title(), "Message preview: Sub: ject?");
    EXPECT_EQ(m->ProposedMessageName(), "Sub ject");
    EXPECT_EQ(m->PrintHeading(), "From :\t\tAlice <alice@example.org>\nDate :\t\t" + m->Date() +
                                     "\nTo :\t\tBob <bob@example.org>\nSubject :\tSub: ject?\n");
}

} // namespace

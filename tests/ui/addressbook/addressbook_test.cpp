// SPDX-License-Identifier: GPL-3.0-or-later
// The address book read from real files in the sandbox's data folder, the
// picker's entries and lists, and the report "System Info" shows.
#include "../../support/temp_env.h"
#include "common/status.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "settings/globaldata.h"
#include "settings/reg.h"
#include "ui/addressbook/addressbook.h"
#include "ui/addressbook/addressbook_picker_model.h"

#include <gtest/gtest.h>

namespace {

class AddressBookTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("ab") + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        ASSERT_EQ(GlobalData_Load(root_), 0u);
        ASSERT_EQ(Paths_EnsureDir(Paths_DataDir()), 0);
        dir_ = iwtest::MakeTempDir("abfiles");
    }
    void TearDown() override {
        GlobalData_Free(0);
        Reg_Close(root_);
        ::unlink(defaultFile().c_str());
    }
    static std::string defaultFile() { return Paths_DataDir() + "/contacts.vcf"; }
    void setFiles(const std::string& value) {
        ASSERT_EQ(
            GlobalData_SetParam(GD_ADDRESSBOOKFILES, reinterpret_cast<intptr_t>(value.c_str())),
            0u);
    }
    // The tree as the picker shows it: children indented.
    static std::string tree(const AddressPickerModel& m) {
        std::string out;
        for (const auto& n : m.Nodes())
            out += (n.parent < 0 ? "" : "  ") + n.text + "\n";
        return out;
    }

    REGKEY* root_ = nullptr;
    std::string dir_;
};

TEST_F(AddressBookTest, FilesOfEveryFormGiveTheRightPickerEntries) {
    iwtest::WriteFile(defaultFile(),
                      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Zoe\r\n  Adams\r\nEMAIL:zoe@example.com\r\n"
                      "EMAIL:zoe@work.example\r\nEND:VCARD\r\n"
                      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Doe\\, John\r\nEMAIL:john@example.com\r\n"
                      "END:VCARD\r\nBEGIN:VCARD\r\nFN:No Mail\r\nEND:VCARD\r\n");
    iwtest::WriteFile(dir_ + "/old.vcf",
                      "BEGIN:VCARD\r\nVERSION:2.1\r\n"
                      "N;CHARSET=ISO-8859-9;ENCODING=QUOTED-PRINTABLE:=D6ztr=\r\nk;=C7a=F0la;;;\r\n"
                      "EMAIL;INTERNET:cagla@example.com.tr\r\nEND:VCARD\r\n");
    iwtest::WriteFile(dir_ + "/utf8.vcf", "BEGIN:VCARD\nVERSION:4.0\nFN:\xE5\xBC\xA0\xE4\xBC\x9F\n"
                                          "EMAIL:wei@example.cn\nEND:VCARD\n"
                                          "BEGIN:VCARD\nEMAIL:anon@example.org\nEND:VCARD\n");
    setFiles(" " + dir_ + "/old.vcf ;;" + dir_ + "/utf8.vcf;" + dir_ + "/old.vcf");
    const std::vector<std::string> files = AddressBook_Files();
    EXPECT_EQ(files,
              (std::vector<std::string>{defaultFile(), dir_ + "/old.vcf", dir_ + "/utf8.vcf"}));

    const ADDRESSBOOK book = AddressBook_Load(files);
    const AddressPickerModel m(book.contacts, {});
    // Sorted by name ignoring ASCII case; other letters by their bytes.
    EXPECT_EQ(tree(m), "anon@example.org\n"
                       "\"Doe, John\" <john@example.com>\n"
                       "Zoe Adams\n"
                       "  zoe@example.com\n"
                       "  zoe@work.example\n"
                       "\xC3\x87"
                       "a\xC4\x9F"
                       "la \xC3\x96ztrk <cagla@example.com.tr>\n"
                       "\xE5\xBC\xA0\xE4\xBC\x9F <wei@example.cn>\n");
}

TEST_F(AddressBookTest, ReportNamesEachFileItsCountAndWhyOneWasNotRead) {
    setFiles(dir_ + "/good.vcf;" + dir_ + "/absent.vcf;" + dir_ + "/mail.eml;relative.vcf");
    iwtest::WriteFile(dir_ + "/good.vcf", "BEGIN:VCARD\nFN:A\nEMAIL:a@example.com\nEND:VCARD\n"
                                          "BEGIN:VCARD\nFN:B\nEND:VCARD\nBEGIN:VCARD\nEMAIL:x\n");
    iwtest::WriteFile(dir_ + "/mail.eml", "From: a@example.com\r\n\r\nhello\r\n");
    const ADDRESSBOOK book = AddressBook_Load(AddressBook_Files());
    EXPECT_EQ(book.contacts.size(), 1u);
    EXPECT_EQ(AddressBook_Report(book),
              "Address Book: \r\n\r\n"
              "Default address book file - \r\n  " +
                  defaultFile() +
                  "\r\n"
                  "Not there yet: no contacts of its own.\r\n\r\n"
                  "File named in AddressBookFiles - \r\n  " +
                  dir_ +
                  "/good.vcf\r\n"
                  "Read 1 contact with an e-mail address (2 without one left out).\r\n"
                  "Forgiven: \r\n"
                  "    line 9: an e-mail address that cannot be used was skipped\r\n"
                  "    line 9: the last card has no END:VCARD\r\n\r\n"
                  "File named in AddressBookFiles - \r\n  " +
                  dir_ +
                  "/absent.vcf\r\n"
                  "Could not be read: No such file or directory\r\n\r\n"
                  "File named in AddressBookFiles - \r\n  " +
                  dir_ +
                  "/mail.eml\r\n"
                  "Could not be read: The file holds no vCard (no BEGIN:VCARD line).\r\n\r\n"
                  "File named in AddressBookFiles - \r\n  relative.vcf\r\n"
                  "Could not be read: Not an absolute path.\r\n\r\n"
                  "Contacts in the address book: 1\r\n"
                  "Files that could not be read: 3\r\n");
}

TEST(AddressPicker, FieldsSplitAtSeparatorsOutsideNamesAndAddresses) {
    const struct {
        const char* field;
        std::vector<std::string> entries;
    } cases[] = {
        {"", {}},
        {"a@x.example", {"a@x.example"}},
        {" a@x.example ;b@y.example,, c@z.example ", {"a@x.example", "b@y.example", "c@z.example"}},
        {"Ann <a@x.example>, not an address; bob", {"Ann <a@x.example>"}},
        {"\"Doe, John\" <j@x.example>, \"A \\\"q;\\\" B\" <q@x.example>",
         {"\"Doe, John\" <j@x.example>", "\"A \\\"q;\\\" B\" <q@x.example>"}},
        {"Odd <a,b@x.example>; last@x.example", {"Odd <a,b@x.example>", "last@x.example"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AddressPickerModel::Split(c.field), c.entries) << c.field;
        // What OK writes back splits into the same entries again.
        EXPECT_EQ(AddressPickerModel::Split(AddressPickerModel::Join(c.entries)), c.entries);
    }
    EXPECT_EQ(AddressPickerModel::Entry("", "a@x.example"), "a@x.example");
    EXPECT_EQ(AddressPickerModel::Entry("Ann Lee", "a@x.example"), "Ann Lee <a@x.example>");
    EXPECT_EQ(AddressPickerModel::Entry("J. \"Jay\" Doe", "j@x.example"),
              "\"J. \\\"Jay\\\" Doe\" <j@x.example>");
}

TEST(AddressPicker, ListsStartFromTheFieldsTakeTreeEntriesOnceAndJoinBack) {
    const std::vector<ADDRESSBOOK_CONTACT> contacts{{"Ann", {"ann@x.example"}},
                                                    {"Bob", {"bob@x.example", "bob@home.example"}}};
    AddressPickerModel m(contacts, {"ANN@x.example; someone", "", "\"Z, Z\" <z@x.example>"});
    EXPECT_EQ(m.List(PICK_TO), std::vector<std::string>{"ANN@x.example"});
    EXPECT_EQ(m.Add(PICK_TO, 0), 0); // Ann is there already, whatever the case
    EXPECT_EQ(m.Add(PICK_CC, 1), 2); // a contact brings every address under it
    EXPECT_EQ(m.Add(PICK_CC, 3), 0);
    EXPECT_EQ(m.Add(PICK_BCC, 3), 1); // one address of it
    EXPECT_EQ(m.Add(PICK_BCC, 99), 0);
    m.Remove(PICK_CC, 0);
    m.Remove(PICK_CC, 5);
    const ADDRESS_LINES out = m.Lines();
    EXPECT_EQ(out.to, "ANN@x.example");
    EXPECT_EQ(out.cc, "Bob <bob@home.example>");
    EXPECT_EQ(out.bcc, "\"Z, Z\" <z@x.example>, Bob <bob@home.example>");
}

} // namespace

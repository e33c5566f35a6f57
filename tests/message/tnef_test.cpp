// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "common/status.h"
#include "message/tnef.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string le16(uint16_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8)};
}

std::string le32(uint32_t v) {
    return le16(static_cast<uint16_t>(v)) + le16(static_cast<uint16_t>(v >> 16));
}

// A TNEF stream built attribute by attribute.
struct Stream {
    std::string bytes = std::string("\x78\x9F\x3E\x22", 4) + le16(0x0101);

    Stream& attr(uint8_t level, uint16_t id, const std::string& data, int checksumError = 0) {
        uint16_t sum = 0;
        for (const char c : data)
            sum = static_cast<uint16_t>(sum + static_cast<unsigned char>(c));
        bytes += static_cast<char>(level) + le32(0x00060000u | id) + le32(uint32_t(data.size())) +
                 data + le16(static_cast<uint16_t>(sum + checksumError));
        return *this;
    }
    Stream& file(const std::string& title, const std::string& data) {
        attr(2, 0x9002, std::string(14, '\0'));
        if (!title.empty()) attr(2, 0x8010, title + '\0');
        return attr(2, 0x800F, data);
    }
};

class Tnef : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = iwtest::MakeTempDir("tnef"); }

    uint32_t parse(const Stream& s, TNEF_MODE mode, const std::string& dir) {
        names_.clear();
        boxes_.clear();
        TNEF_PROBLEM problem;
        const uint32_t rc =
            TNEF_Parse({reinterpret_cast<const uint8_t*>(s.bytes.data()), s.bytes.size()}, mode,
                       dir, &names_, &problem);
        if (!problem.text.empty()) boxes_.push_back(problem.caption + ": " + problem.text);
        return rc;
    }
    uint32_t list(const Stream& s) { return parse(s, TNEF_MODE::List, ""); }
    uint32_t write(const Stream& s, const std::string& dir) {
        return parse(s, TNEF_MODE::Write, dir);
    }
    std::vector<std::string> displayNames() const {
        std::vector<std::string> out;
        for (const TNEF_NAME& n : names_)
            out.push_back(n.display);
        return out;
    }
    std::string box() const { return boxes_.empty() ? "" : boxes_.front(); }
    std::string read(const std::string& name) const { return iwtest::ReadFile(dir_ + "/" + name); }
    std::vector<std::string> folder() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir_))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    std::vector<std::string> boxes_;
    std::vector<TNEF_NAME> names_;
    std::string dir_;
};

using Names = std::vector<std::string>;

// Separators, empty names and the length cap are the fuzz target's to check,
// as are property lists that do not fit their attribute.
TEST(TnefDiskName, EscapesWhatAFileSystemOrShellWouldMisread) {
    const std::pair<std::string, std::string> cases[] = {
        {"report:q3.doc", "report%3Aq3.doc"},
        {"50%.txt", "50%25.txt"},
        {"../../.config/autostart/x.desktop", "..%2F..%2F.config%2Fautostart%2Fx.desktop"},
        {"*?\"<>|", "%2A%3F%22%3C%3E%7C"},
        {"caf\xC3\xA9.txt", "caf\xC3\xA9.txt"},
        {".", "ath00003.dat"},
        {"..", "ath00003.dat"},
    };
    for (const auto& [name, disk] : cases)
        EXPECT_EQ(TNEF_DiskName(name, 3), disk) << name;
}

TEST_F(Tnef, SignatureDecidesWhetherTheDataIsTnef) {
    EXPECT_EQ(list(Stream{}), 0u);
    EXPECT_TRUE(names_.empty());
    Stream other;
    other.bytes[0] = 'y';
    EXPECT_EQ(list(other), TNEF_NOT_TNEF);
    EXPECT_EQ(box(), "TNEF Parse File: Seems not to be a TNEF file");
}

// The files and names of real streams (order, names from MAPI properties,
// bodies that are no files, a later file of the same name) are the
// differential test's; here what only a damaged stream shows.

TEST_F(Tnef, ForgivesTrailingGarbageAndBadChecksumsAndSaysSo) {
    Stream s;
    s.file("a", "alpha").bytes += "\r\n";
    EXPECT_EQ(write(s, dir_), 0u);
    EXPECT_EQ(box(), "TNEF data_left: ERROR: garbage at end of file.");
    EXPECT_EQ(read("a"), "alpha");

    Stream bad;
    bad.attr(2, 0x9002, "").attr(2, 0x8010, std::string("b\0", 2)).attr(2, 0x800F, "beta", 1);
    EXPECT_EQ(write(bad, dir_), 0u);
    EXPECT_EQ(box(), "attr_read: ERROR: invalid checksum, attachment may be corrupted");
    EXPECT_EQ(read("b"), "beta");
}

TEST_F(Tnef, DamagedAttributesStopTheDecodingButKeepWhatWasWritten) {
    Stream over;
    over.file("kept", "k").attr(2, 0x9002, "").bytes +=
        std::string(1, 2) + le32(0x800F) + le32(10'000'001);
    EXPECT_EQ(write(over, dir_), ERR_OPERATION);
    EXPECT_EQ(box(), "alloc_limit_assert: Size over allocation limit");
    EXPECT_EQ(read("kept"), "k");

    Stream cut;
    cut.file("one", "1").file("two", "22");
    cut.bytes.resize(cut.bytes.size() - 3);
    EXPECT_EQ(write(cut, dir_), ERR_OPERATION);
    EXPECT_EQ(box(), "getbuf: Unexpected end of input");
    EXPECT_EQ(displayNames(), Names{"one"});

    Stream level;
    level.file("first", "1").file("lost", "2").attr(3, 0x800F, "x");
    EXPECT_EQ(list(level), TNEF_NOT_TNEF);
    EXPECT_EQ(box(), "attr_read: Inboxwarden is having difficulty with this attachment");
    EXPECT_EQ(displayNames(), Names{"first"});
}

TEST_F(Tnef, AFailedWriteReportsErrCreateAndLeavesTheOldFileWhole) {
    Stream s;
    s.file("a", "alpha");
    EXPECT_EQ(write(s, dir_ + "/missing"), ERR_CREATE);
    EXPECT_EQ(box(), "TNEF file_write: Couldn't open file");

    ASSERT_EQ(write(s, dir_), 0u);
    Stream big;
    big.file("a", std::string(64 * 1024, 'x'));
    uint32_t rc = 0;
    iwtest::WithFileSizeLimit(4096, [&] { rc = write(big, dir_); });
    EXPECT_EQ(rc, ERR_CREATE);
    EXPECT_EQ(box(), "TNEF file_write: Problem writing to file.");
    EXPECT_EQ(read("a"), "alpha");
    EXPECT_EQ(folder(), Names{"a"});
}

} // namespace

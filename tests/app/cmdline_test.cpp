// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cmdline.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

CMDLINE parse(std::vector<const char*> args) {
    args.insert(args.begin(), "inboxwarden");
    return CmdLine_Parse(int(args.size()), args.data());
}

TEST(CmdLine, AbsolutePathsSurviveWhole) {
    EXPECT_EQ(parse({"/profile:/home/ann/uninstall-notes/a.iwpf"}).profile,
              "/home/ann/uninstall-notes/a.iwpf");
    const CMDLINE c =
        parse({"/PROFILE:  /tmp/x/y.iwpf\t", "/LogFile:/var/tmp/iw.log", "/smtp:mail.example.org"});
    EXPECT_EQ(c.profile, "/tmp/x/y.iwpf");
    EXPECT_EQ(c.logfile, "/var/tmp/iw.log");
    EXPECT_EQ(c.smtp, "mail.example.org");
    EXPECT_FALSE(c.uninstall);
    EXPECT_FALSE(c.delorig);
    EXPECT_EQ(parse({"/defprofile:/srv/p/d.iwpf"}).defprofile, "/srv/p/d.iwpf");
}

TEST(CmdLine, SwitchesCountOnlyAtTheStartOfAnArgument) {
    // Inside a path neither removal switch does anything.
    const CMDLINE a = parse({"/profile:/x/delorig/uninstall.iwpf"});
    EXPECT_FALSE(a.uninstall);
    EXPECT_FALSE(a.delorig);
    EXPECT_TRUE(parse({"/uninstall"}).uninstall);
    EXPECT_FALSE(parse({"/UNINSTALL"}).uninstall) << "removal switches are case-sensitive";
    // "/delorig" only as the first argument.
    EXPECT_TRUE(parse({"/delorig", "12", "/old/path"}).delorig);
    EXPECT_EQ(parse({"/delorig", "12", "/old/path"}).delorigArgs.size(), 2u);
    EXPECT_FALSE(parse({"/profile:/a", "/delorig"}).delorig);
    EXPECT_EQ(parse({"x/check:All"}).hasCheck, false);
}

TEST(CmdLine, CheckJoinsTheWordsOfAnUnquotedName) {
    CMDLINE c = parse({"/check:Work", "Mail", "/recovery:n"});
    EXPECT_TRUE(c.hasCheck);
    EXPECT_EQ(c.check, "Work Mail");
    EXPECT_EQ(c.recovery, 0);
    EXPECT_EQ(parse({"/CHECK:AllInc"}).check, "AllInc");
    EXPECT_EQ(parse({"/check: Work  Mail "}).check, "Work  Mail");
    EXPECT_FALSE(parse({"/check:"}).hasCheck);
}

TEST(CmdLine, RecoveryModes) {
    EXPECT_EQ(parse({}).recovery, -1);
    EXPECT_EQ(parse({"/Recovery:No"}).recovery, 0);
    EXPECT_EQ(parse({"/recovery:maybe"}).recovery, 1);
}

TEST(CmdLine, HelpVersionAndStrayArguments) {
    const CMDLINE c = parse({"--help", "--version", "hello", "/nosuch:1"});
    EXPECT_TRUE(c.help);
    EXPECT_TRUE(c.version);
    EXPECT_EQ(c.ignored, (std::vector<std::string>{"hello", "/nosuch:1"}));
    const std::string tooLong = "/profile:/" + std::string(CMDLINE_MAX_VALUE + 1, 'a');
    const CMDLINE l = parse({tooLong.c_str()});
    EXPECT_EQ(l.profile, "") << "a value is never cut into another path";
    EXPECT_EQ(l.ignored.size(), 1u);
}

} // namespace

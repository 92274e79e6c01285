// check loads every list configuration file: its warnings, the test-mode
// duplicates, and the example site.
#include <filesystem>

#include "cli/cli.h"

namespace {

using twtest::CliTest;
using twtest::kChecked;
constexpr auto& warning = twtest::config_warning;

class ListsCli : public CliTest {};

TEST_F(ListsCli, ListFileWarnings) {
    dir.write("lists/a.lst", "ListName A\nListAddress a@lists\nColour red\nListUsersOld\n"
                             "+\nann@x\n\n1\n\nstray\n*\nold@x\n\n1\n\n+\nbob@x\nBob\n");
    dir.write("lists/b.lst", "ListName B only\n\n");
    dir.write("sub.cfg", "ListConfig lists/b.lst\nListConfig lists/a.lst\n");
    write_config("ListConfig missing.lst\nInclude sub.cfg\n");
    twtest::RunResult r = run({"check"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, warning("unable to open list configuration file", 0, "./missing.lst") +
                         warning("required list keyword ListName or ListAddress missing", 2, "lists/b.lst") +
                         warning("invalid list configuration keyword", 3, "lists/a.lst") +
                         warning("user list contains erroneous line", 10, "lists/a.lst") +
                         warning("user list ends in incomplete record", 18, "lists/a.lst") + kChecked);
    EXPECT_FALSE(dir.exists("lists/a.~LC"));
}

TEST_F(ListsCli, SixtyFiveLists) {
    dir.write("l.lst", "ListName L\nListAddress l@x\n");
    std::string extra;
    for (int i = 0; i < 65; ++i) extra += "ListConfig l.lst\n";
    write_config(extra);
    twtest::RunResult r = run({"check"});
    EXPECT_EQ(r.err, warning("too many ListConfig keywords", 7 + 65, "./tarnwick.cfg") + kChecked);
}

TEST_F(ListsCli, TestModeUsesDuplicates) {
    const std::string sales = "ListName Sales\nListAddress sales@x\nListUsers\n+\na@x\n\n1\n\n";
    dir.write("lists/sales.cfg", sales);
    dir.write("lists/plain", "ListName Plain\nListAddress plain@x\n");
    dir.write("lists/plain.~LC", "old duplicate");
    write_config("ListConfig lists/sales.cfg\nListConfig lists/plain\n");
    twtest::RunResult r = run({"check", "/test"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, std::string("[Test mode: using list config file duplicates *.~LC]\n\n") + kChecked);
    EXPECT_EQ(dir.read("lists/sales.~LC"), sales);
    EXPECT_EQ(dir.read("lists/plain.~LC"), "ListName Plain\nListAddress plain@x\n");
    EXPECT_EQ(dir.read("lists/sales.cfg"), sales);
    // The notice never reaches the run log.
    write_config("ListConfig lists/sales.cfg\nLogFile run.log\n");
    r = run({"check", "/test"});
    EXPECT_EQ(dir.read("run.log").find("Test mode"), std::string::npos);
}

TEST_F(ListsCli, RandomListFileDoesNotStopCheck) {
    std::string bytes = "ListName R\nListAddress r@x\nListUsers\n";
    unsigned seed = 7;
    for (int i = 0; i < 50000; ++i) {
        seed = seed * 1103515245u + 12345u;
        char c = char(seed >> 16);
        bytes += (seed >> 8) % 9 == 0 ? '\n' : c;
    }
    dir.write("r.lst", bytes);
    write_config("ListConfig r.lst\n");
    twtest::RunResult r = run({"check"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find(kChecked), std::string::npos);
}

TEST_F(ListsCli, ExampleSiteChecksClean) {
    namespace fs = std::filesystem;
    fs::copy(fs::path(TW_SOURCE_DIR) / "examples" / "site", dir.root(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    twtest::RunResult r = run({"check"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, kChecked);
    // Every keyword is in use; Personal only as a comment, since it always
    // warns that it is obsolete.
    const std::string cfg = dir.read("tarnwick.cfg") + dir.read("site-extra.cfg");
    const char* keywords[] = {
        "FidoAddr",        "AddrMap",        "MapFidoOrg",       "TransFidoOrg",    "FidoDomain",   "HeaderInfo",
        "NoSpamText",      "PacketPwd",      "DefCharSet",       "CharSetMap",      "QuoteTo",      "QuoteChar",
        "QuoteMask",       "ImportLimit",    "MaxPKTSize",       "SeparateMSG",     "LineWidth",    "UseQP",
        "Origin",          "Organization",   "OwnOrgAction",     "OwnOrgArea",      "JunkAction",   "JunkArea",
        "JunkCategory",    "JunkFrom",       "JunkSubj",         "JunkStr",         "JunkGroup",    "JunkFromTo",
        "ExportMaxTo",     "ExportMaxXPost", "EmailArea",        "AreaMap",         "StripKludges", "StrictFidoMsgID",
        "KillOrigin",      "LogFile",        "TimeZone",         "QuickScan",       "MailerType",   "ExportAllMail",
        "InboundDir",      "OutboundDir",    "NetmailDir",       "DecodeDir",       "SoupDir",      "TempDir",
        "BaseZone",        "AttachMail",     "AttachNews",       "EncodeFormat",    "Route",        "Alias",
        "MailingList",     "MailingListOption", "IgnoreMessageText", "ListConfig",  "Include"};
    for (const char* k : keywords) EXPECT_NE(cfg.find(std::string("\n").append(k).append(" ")), std::string::npos) << k;
    EXPECT_NE(cfg.find("\n; Personal "), std::string::npos);
    r = run({"check", "/test"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(dir.exists("lists/talk.~LC"));
}

}  // namespace

// check reports every conversion, filter and list-area warning with the
// line and the file it stands in.
#include "cli/cli.h"

namespace {

using twtest::CliTest;
using twtest::kChecked;

std::string warning(const std::string& what, int line, const std::string& file = "./tarnwick.cfg") {
    return twtest::config_warning(what, line, file);
}

class ConfigKeywordsCli : public CliTest {};

TEST_F(ConfigKeywordsCli, ConversionWarnings) {
    // The minimal configuration has 7 lines; these start at line 8.
    write_config("HeaderInfo Name\n"
                 "HeaderInfo Full Yes\n"
                 "CharSetMap IBMPC\n"
                 "QuoteChar >\n"
                 "QuoteChar > 5-3\n"
                 "LineWidth 10\n"
                 "LineWidth 250\n"
                 "LineWidth none\n"
                 "StripKludges Maybe\n"
                 "StripKludges Yes Foo\n"
                 "KillOrigin Always\n"
                 "AttachMail keep\n"
                 "AttachNews keep\n"
                 "EncodeFormat base64\n"
                 "UseQP Yes \n"
                 "ExportMaxTo many\n");
    twtest::RunResult r = run({"check"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, warning("HeaderInfo misses parameter", 8) + warning("HeaderInfo has invalid parameter", 9) +
                         warning("CharSetMap misses parameter", 10) + warning("QuoteChar misses parameter", 11) +
                         warning("QuoteChar has invalid parameter", 12) + warning("line width too small", 13) +
                         warning("line width too large", 14) + warning("invalid number", 15) +
                         warning("line width too small", 15) + warning("unknown StripKludges setting", 16) +
                         warning("unknown StripKludges category", 17) +
                         warning("invalid KillOrigin parameter", 18) + warning("invalid action", 19) +
                         warning("invalid action", 20) + warning("invalid format", 21) +
                         warning("invalid Yes/No parameter", 22) + warning("invalid number", 23) + kChecked);
}

TEST_F(ConfigKeywordsCli, TableLimitsNameTheLine) {
    std::string extra;
    for (int i = 0; i < 257; ++i) extra += "CharSetMap A b\n";
    for (int i = 0; i < 257; ++i) extra += "QuoteChar > 0-1\n";
    for (int i = 0; i < 257; ++i) extra += "QuoteMask w\n";
    for (int i = 0; i < 4097; ++i) extra += "JunkFrom x@y\n";
    for (int i = 0; i < 2049; ++i) extra += "JunkStr x\n";
    write_config(extra);
    twtest::RunResult r = run({"check"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, warning("too many CharSetMap keywords", 7 + 257) +
                         warning("too many QuoteChar keywords", 7 + 2 * 257) +
                         warning("too many QuoteMask keywords", 7 + 3 * 257) +
                         warning("too many JunkFrom keywords", 7 + 3 * 257 + 4097) +
                         warning("too many JunkStr keywords", 7 + 3 * 257 + 4097 + 2049) + kChecked);
}

TEST_F(ConfigKeywordsCli, FilterAndListAreaWarningsInIncludedFile) {
    dir.write("filters.cfg", "OwnOrgAction bounce\n"
                             "JunkAction delete\n"
                             "JunkCategory Spam\n"
                             "JunkFromTo maybe\n"
                             "MailingList AREA list@x.org\n"
                             "MailingList AREA listhost tag\n"
                             "MailingListOption OTHER author=name\n"
                             "MailingListOption AREA author=full\n"
                             "MailingListOption AREA colour=red\n"
                             "MailingListOption AREA\n");
    write_config("Include filters.cfg\nQuoteTo No\nOrigin x\n");
    twtest::RunResult r = run({"check"});
    EXPECT_EQ(r.code, 0);
    const std::string f = "./filters.cfg";
    EXPECT_EQ(r.err, warning("invalid action", 1, f) + warning("invalid action", 2, f) +
                         warning("invalid category", 3, f) + warning("invalid Yes/No parameter", 4, f) +
                         warning("MailingList misses parameter", 5, f) + warning("invalid email address", 6, f) +
                         warning("MailingListOption references undefined mailing list area", 7, f) +
                         warning("MailingListOption specifies invalid author= option", 8, f) +
                         warning("MailingListOption specifies invalid option", 9, f) +
                         warning("MailingListOption misses parameter", 10, f) + kChecked);
}

TEST_F(ConfigKeywordsCli, TooManyMailingListsAndIgnoredTexts) {
    std::string extra;
    for (int i = 0; i < 1025; ++i) extra += "MailingList A l@x t\n";
    for (int i = 0; i < 513; ++i) extra += "IgnoreMessageText t\n";
    for (int i = 0; i < 2049; ++i) extra += "JunkSubj s\n";
    for (int i = 0; i < 513; ++i) extra += "JunkGroup g\n";
    write_config(extra);
    twtest::RunResult r = run({"check"});
    EXPECT_EQ(r.err, warning("too many MailingList keywords", 7 + 1025) +
                         warning("too many IgnoreMessageText keywords", 7 + 1025 + 513) +
                         warning("too many JunkSubj keywords", 7 + 1025 + 513 + 2049) +
                         warning("too many JunkGroup keywords", 7 + 1025 + 513 + 2049 + 513) + kChecked);
}

}  // namespace

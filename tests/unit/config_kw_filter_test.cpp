// The filtering keywords, read through the real reader.
#include <gtest/gtest.h>

#include "config/config.h"
#include "config/reader.h"
#include "support/site_fixture.h"

using namespace tw;

namespace {

using FilterKeywords = twtest::SiteFixture;

TEST_F(FilterKeywords, Actions) {
    GatewayConfig& c = mutable_config();
    EXPECT_EQ(configure("JunkAction Move\nOwnOrgAction junk\n"), "");
    EXPECT_EQ(c.JunkAction, FilterAction::Move);
    EXPECT_EQ(c.OwnOrgAction, FilterAction::Junk);
    EXPECT_EQ(configure("JunkAction delete\nOwnOrgAction KILL\n"), warning("invalid action", 1));
    EXPECT_EQ(c.JunkAction, FilterAction::Ignore);
    EXPECT_EQ(c.OwnOrgAction, FilterAction::Kill);
}

TEST_F(FilterKeywords, AreasUpperCase) {
    GatewayConfig& c = mutable_config();
    EXPECT_EQ(c.OwnOrgArea.view(), "ARCHIVES");
    EXPECT_EQ(c.JunkArea.view(), "JUNKMAIL");
    configure("OwnOrgArea my.archive\nJunkArea\n");
    EXPECT_EQ(c.OwnOrgArea.view(), "MY.ARCHIVE");
    EXPECT_EQ(c.JunkArea.view(), "");
}

TEST_F(FilterKeywords, CategoriesFollowJunkCategory) {
    EXPECT_EQ(configure("JunkFrom *@spam.example\n"
                        "JunkCategory News\n"
                        "JunkSubj MAKE MONEY\n"
                        "JunkSubj free offer\n"
                        "JunkCategory Bogus\n"
                        "JunkGroup alt.spam\n"
                        "JunkCategory email\n"
                        "JunkFrom bulk@*\n"
                        "JunkCategory None\n"
                        "JunkStr  click here \n"),
              warning("invalid category", 5));
    const GatewayConfig& c = config();
    ASSERT_EQ(c.JunkFrom.size(), 2);
    EXPECT_EQ(c.JunkFrom[0].category, JunkCategory::All);
    EXPECT_STREQ(c.JunkFrom[0].text, "*@spam.example");
    EXPECT_EQ(c.JunkFrom[1].category, JunkCategory::Email);
    ASSERT_EQ(c.JunkSubj.size(), 2);
    EXPECT_EQ(c.JunkSubj[0].category, JunkCategory::News);
    EXPECT_EQ(c.JunkSubj[1].category, JunkCategory::News);
    EXPECT_EQ(c.JunkGroup[0].category, JunkCategory::News);  // the invalid line left News in force
    EXPECT_EQ(c.JunkStr[0].category, JunkCategory::None);
    EXPECT_STREQ(c.JunkStr[0].text, "click here ");
}

TEST_F(FilterKeywords, CategoryCarriesAcrossInclude) {
    dir.write("inc.cfg", "JunkSubj inside\nJunkCategory Email\n");
    EXPECT_EQ(configure("JunkCategory News\nInclude " + dir.path("inc.cfg") + "\nJunkSubj after\n"), "");
    const auto& t = config().JunkSubj;
    ASSERT_EQ(t.size(), 2);
    EXPECT_EQ(t[0].category, JunkCategory::News);
    EXPECT_EQ(t[1].category, JunkCategory::Email);
}

TEST_F(FilterKeywords, PatternTablesFull) {
    std::string lines;
    for (int i = 0; i < 2049; ++i) lines += "JunkSubj s" + std::to_string(i) + "\n";
    EXPECT_EQ(configure(lines), warning("too many JunkSubj keywords", 2049));
    EXPECT_EQ(config().JunkSubj.size(), 2048);
    lines.clear();
    for (int i = 0; i < 513; ++i) lines += "IgnoreMessageText t\n";
    for (int i = 0; i < 513; ++i) lines += "JunkGroup g\n";
    EXPECT_EQ(configure(lines), warning("too many IgnoreMessageText keywords", 513) +
                               warning("too many JunkGroup keywords", 1026));
    EXPECT_EQ(config().IgnoreMessageText.size(), 512);
}

TEST_F(FilterKeywords, FromToAndIgnoredTexts) {
    EXPECT_EQ(configure("JunkFromTo Yes\nIgnoreMessageText *daemon\n"), "");
    EXPECT_TRUE(config().JunkFromTo);
    EXPECT_EQ(config().IgnoreMessageText[0], "*daemon");
}

}  // namespace

// Filtering and mailing-list-area keywords, read through the real reader.
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

TEST_F(FilterKeywords, MailingListSplitting) {
    EXPECT_EQ(configure("MailingList TEST.Area list@x.org,me@y.org tag TRUNCATE=----- ;SUBJ:[tag]\n"
                        "MailingList A2 list@x.org tag TRUNCATE=-----;SUBJ:[tag] \n"
                        "MailingList A3 list@x.org some tag TRUNCATE=;SUBJ:[x]\n"
                        "MailingList A4 list@x.org match ;SUBJ:not here\n"
                        "MailingList A5 list@x.org tagTRUNCATE=--\n"
                        "MailingList A6 list@x.org tag truncate=--\n"),
              "");
    const auto& t = config().MailingList;
    ASSERT_EQ(t.size(), 6);
    EXPECT_EQ(t[0].area.view(), "TEST.Area");
    EXPECT_EQ(t[0].list_address.view(), "list@x.org");
    EXPECT_EQ(t[0].sender_address.view(), "me@y.org");
    EXPECT_EQ(t[0].match.view(), "tag");
    EXPECT_EQ(t[0].truncate.view(), "-----");
    EXPECT_EQ(t[0].subject.view(), "[tag]");
    EXPECT_EQ(t[0].author, AuthorForm::None);
    EXPECT_EQ(t[1].truncate.view(), "----");
    EXPECT_EQ(t[1].subject.view(), "[tag] ");
    EXPECT_EQ(t[1].sender_address.view(), "");
    EXPECT_EQ(t[2].match.view(), "some tag");
    EXPECT_EQ(t[2].truncate.view(), "");
    EXPECT_EQ(t[2].subject.view(), "[x]");
    EXPECT_EQ(t[3].match.view(), "match ;SUBJ:not here");
    EXPECT_EQ(t[3].subject.view(), "");
    EXPECT_EQ(t[4].match.view(), "tagTRUNCATE=--");
    EXPECT_EQ(t[4].truncate.view(), "--");
    EXPECT_EQ(t[5].match.view(), "tag truncate=--");
}

TEST_F(FilterKeywords, MailingListWarnings) {
    EXPECT_EQ(configure("MailingList AREA list@x.org\n"
                        "MailingList AREA\n"
                        "MailingList AREA listhost tag\n"
                        "MailingList AREA l@x,nobody tag\n"),
              warning("MailingList misses parameter", 1) + warning("MailingList misses parameter", 2) +
                  warning("invalid email address", 3) + warning("invalid email address", 4));
    EXPECT_EQ(config().MailingList.size(), 2);
    std::string lines;
    for (int i = 0; i < 1023; ++i) lines += "MailingList A l@x t\n";
    EXPECT_EQ(configure(lines), warning("too many MailingList keywords", 1023));
}

TEST_F(FilterKeywords, MailingListOptions) {
    EXPECT_EQ(configure("MailingListOption LIST.A author=both\n"
                        "MailingList List.A l@x.org tag\n"
                        "MailingList LIST.A second@x.org tag2\n"
                        "MailingListOption list.a AUTHOR=Both\n"
                        "MailingListOption LIST.A truncend=-- end of list --\n"
                        "MailingListOption LIST.A Truncate=___ \n"
                        "MailingListOption LIST.A truncsubj=[a b]\n"
                        "MailingListOption LIST.A author=full\n"
                        "MailingListOption LIST.A colour=red\n"
                        "MailingListOption LIST.A\n"),
              warning("MailingListOption references undefined mailing list area", 1) +
                  warning("MailingListOption specifies invalid author= option", 8) +
                  warning("MailingListOption specifies invalid option", 9) +
                  warning("MailingListOption misses parameter", 10));
    const auto& t = config().MailingList;
    EXPECT_EQ(t[0].author, AuthorForm::Both);
    EXPECT_EQ(t[0].truncate_end.view(), "-- end of list --");
    EXPECT_EQ(t[0].truncate.view(), "___ ");
    EXPECT_EQ(t[0].subject.view(), "[a b]");
    EXPECT_EQ(t[1].author, AuthorForm::None);  // only the first entry of the area
    EXPECT_EQ(t[1].truncate_end.view(), "");
}

}  // namespace

// The mailing-list area keywords.
#include <gtest/gtest.h>

#include "config/config.h"
#include "support/site_fixture.h"

using namespace tw;

namespace {

using ListKeywords = twtest::SiteFixture;

TEST_F(ListKeywords, MailingListSplitting) {
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

TEST_F(ListKeywords, MailingListWarnings) {
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

TEST_F(ListKeywords, MailingListOptions) {
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

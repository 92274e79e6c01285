#include <gtest/gtest.h>

#include <string>

#include "driver/helpers.h"
#include "support/site_fixture.h"

using namespace tw;

TEST(Crc32, KnownValues) {
    EXPECT_EQ(crc32_text("abc"), 0x352441C2u);
    EXPECT_EQ(crc32_text("", 0), 0u);
    EXPECT_EQ(crc32_text("123456789"), 0xCBF43926u);
    // Eight bytes a step and the rest one at a time give the bitwise CRC,
    // whatever the length and the byte values.
    std::string text;
    for (int n = 0; n < 40; ++n) {
        std::uint32_t c = 0xFFFFFFFFu;
        for (unsigned char b : text)
            for (int k = 0; k < 8; ++k) c = ((c ^ (b >> k)) & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        EXPECT_EQ(crc32_text(text), c ^ 0xFFFFFFFFu) << n;
        text += char(n * 37 + 200);
    }
}

TEST(DayOfWeek, Calendar) {
    EXPECT_EQ(day_of_week(2000, 1, 1), 6);
    EXPECT_EQ(day_of_week(2000, 2, 29), 2);
    EXPECT_EQ(day_of_week(2026, 12, 9), 3);
    EXPECT_EQ(day_of_week(1970, 1, 1), 4);
}

TEST(TextSearch, ContainsAndWords) {
    EXPECT_FALSE(contains_text("", "abc"));
    EXPECT_TRUE(contains_text("abc", "abc"));
    EXPECT_TRUE(contains_text("BC", "abcd"));
    EXPECT_FALSE(contains_text("abcde", "abcd"));
    EXPECT_EQ(find_word("Import", "IBMPC  Import"), 7u);
    EXPECT_FALSE(find_word("Import", "Imports"));
    EXPECT_FALSE(find_word("Import", "x.Import"));
    EXPECT_EQ(find_word("export", "Exported EXPORT"), 9u);
    EXPECT_FALSE(find_word("", "x"));
}

TEST(TextSearch, TrimBlanks) {
    char a[] = " \t\r\n x y \v\f";
    trim_blanks(a);
    EXPECT_STREQ(a, "x y");
    char b[] = " \t ";
    trim_blanks(b);
    EXPECT_STREQ(b, "");
}

TEST(MailNames, FtnMailNames) {
    EXPECT_TRUE(is_ftn_mail_name("0000001F.PKT"));
    EXPECT_TRUE(is_ftn_mail_name("ABCD0001.MO3"));
    EXPECT_FALSE(is_ftn_mail_name("ABCD0001.MOX"));
    EXPECT_FALSE(is_ftn_mail_name("readme.mo1"));
    EXPECT_TRUE(is_ftn_mail_name("*.su0"));
    EXPECT_TRUE(is_ftn_mail_name("file.pkz"));
    EXPECT_FALSE(is_ftn_mail_name(".pkt"));
    EXPECT_FALSE(is_ftn_mail_name("ABCD0001.XY1"));
    EXPECT_FALSE(is_ftn_mail_name("ABCDG001.FR1"));
}

TEST(MailNames, SameBaseName) {
    EXPECT_EQ(same_base_name("C:\\IN\\FILE.TXT", "/x/file.txt"), 0);
    EXPECT_LT(same_base_name("a/b", "c\\d"), 0);
    EXPECT_GT(same_base_name("zz", "a"), 0);
}

using NameMakers = twtest::SiteFixture;

TEST_F(NameMakers, CounterNames) {
    std::string out;
    EXPECT_EQ(make_counter_name(dir.path("") + "/", ".pkt", out), 0u);
    EXPECT_EQ(out, dir.path("00000000.pkt"));
    dir.write("00000000.pkt", "");
    dir.write("00000001.PKT", "");  // another case is the same name
    EXPECT_EQ(make_counter_name(dir.path("") + "/", ".pkt", out), 2u);
    EXPECT_EQ(out, dir.path("00000002.pkt"));
}

TEST_F(NameMakers, NumberedNames) {
    std::string out;
    auto n = make_numbered_name(dir.path("") + "/", "MAIL", ".MSG", out);
    ASSERT_TRUE(n);
    EXPECT_EQ(*n, 0);
    EXPECT_EQ(out, dir.path("MAIL0000.MSG"));
    dir.write("MAIL0000.MSG", "");
    dir.write("mail0001.msg", "");
    n = make_numbered_name(dir.path("") + "/", "MAIL", ".MSG", out);
    ASSERT_TRUE(n);
    EXPECT_EQ(*n, 2);
    EXPECT_EQ(out, dir.path("MAIL0002.MSG"));
}

TEST_F(NameMakers, FreeVariants) {
    std::string p = dir.path("x.txt");
    EXPECT_TRUE(make_free_variant(p));
    EXPECT_EQ(p, dir.path("x.txt"));
    dir.write("x.txt", "");
    for (int i = 0; i < 10; ++i) dir.write("x.tx" + std::to_string(i), "");
    p = dir.path("x.txt");
    EXPECT_TRUE(make_free_variant(p));
    EXPECT_EQ(p, dir.path("x.t09"));
    for (int i = 0; i < 100; ++i) dir.write((i < 10 ? "x.t0" : "x.t") + std::to_string(i), "");
    p = dir.path("x.txt");
    EXPECT_TRUE(make_free_variant(p));
    EXPECT_EQ(p, dir.path("x.099"));
}

TEST_F(NameMakers, FreeVariantStopsAtSeparator) {
    dir.write("9", "");
    std::string p = dir.path("9");
    EXPECT_FALSE(make_free_variant(p));
    EXPECT_EQ(p, dir.path("9"));
}

TEST_F(NameMakers, WildcardNames) {
    std::string base = dir.path("") + "/";
    std::string p = base + "*";
    EXPECT_TRUE(make_wildcard_name(p, base.size()));
    EXPECT_EQ(p, base + "00000000.ATT");
    p = base + "*.zip";
    EXPECT_TRUE(make_wildcard_name(p, base.size()));
    EXPECT_EQ(p, base + "00000000.zip");
    p = base + "a.*";
    EXPECT_TRUE(make_wildcard_name(p, base.size()));
    EXPECT_EQ(p, base + "00000000.ATT");
    p = base + "report.txt";
    EXPECT_FALSE(make_wildcard_name(p, base.size()));
    EXPECT_EQ(p, base + "report.txt");
    dir.write("00000000.zip", "");
    p = base + "*.zip";
    EXPECT_TRUE(make_wildcard_name(p, base.size()));
    EXPECT_EQ(p, base + "00000001.zip");
}

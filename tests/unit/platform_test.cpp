// The platform layer: separators, case-blind lookup, text mode, sharing.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#include "platform/platform.h"
#include "platform/text.h"
#include "support/scratch.h"

using namespace tw;
using namespace tw::platform;

TEST(BoundedText, CutsInsteadOfOverrunning) {
    Text<8> t{};
    EXPECT_TRUE(t.empty());
    t.assign("abcdefghijkl");
    EXPECT_EQ(t.view(), "abcdefg");
    t.assign("ab");
    t.append("cdefghij");
    EXPECT_EQ(t.view(), "abcdefg");
    t.push_back('x');
    EXPECT_EQ(t.view(), "abcdefg");
    t.assign(std::string_view("a\0b", 3));
    EXPECT_EQ(t.view(), "a");
    t = "MiXeD";
    t.to_upper();
    EXPECT_EQ(t.view(), "MIXED");
    t.truncate(2);
    EXPECT_EQ(t.view(), "MI");
}

TEST(Paths, SeparatorsAndNames) {
    EXPECT_EQ(native_path("C:\\MAIL\\x.pkt"), "C:/MAIL/x.pkt");
    EXPECT_EQ(file_name_pos("C:\\a/b\\c"), 7u);
    EXPECT_EQ(file_name_pos("a/b"), 2u);
    EXPECT_EQ(file_name_pos("abc"), 0u);
    std::string d = "C:\\MAIL";
    append_separator(d);
    EXPECT_EQ(d, "C:\\MAIL\\");
    d = "/var/spool/ftn/in";
    append_separator(d);
    EXPECT_EQ(d, "/var/spool/ftn/in/");
    d = "C:/mixed\\x";
    append_separator(d);
    EXPECT_EQ(d, "C:/mixed\\x\\");
    d = "plain";
    append_separator(d);
    EXPECT_EQ(d, "plain\\");
}

TEST(Paths, Wildcards) {
    EXPECT_TRUE(wildcard_match("*.pkt", "0000ABCD.PKT"));
    EXPECT_TRUE(wildcard_match("????????.?ut", "00010002.out"));
    EXPECT_FALSE(wildcard_match("*.pkt", "x.pk"));
    EXPECT_TRUE(wildcard_match("*.*", "noext"));
    EXPECT_TRUE(wildcard_match("a*b*c", "aXXbYYc"));
    EXPECT_FALSE(wildcard_match("a*b*c", "aXXbYY"));
}

class Files : public ::testing::Test {
protected:
    twtest::Scratch dir;
};

TEST_F(Files, CaseBlindLookup) {
    dir.write("AREAS", "x");
    dir.write("sub/Mail0001.MSG", "y");
    EXPECT_EQ(resolve_case(dir.path("areas")), dir.path("AREAS"));
    EXPECT_TRUE(exists(dir.path("Areas")));
    EXPECT_TRUE(exists(dir.root() + "\\sub\\MAIL0001.msg"));
    EXPECT_FALSE(exists(dir.path("nothing")));
    File f;
    ASSERT_TRUE(f.open(dir.path("sub") + "\\mail0001.msg", OpenMode::Read));
    char c = 0;
    EXPECT_EQ(f.read(&c, 1), 1u);
    EXPECT_EQ(c, 'y');
    EXPECT_TRUE(remove_file(dir.path("areas")));
    EXPECT_FALSE(dir.exists("AREAS"));
}

TEST_F(Files, TextModeDropsCrBeforeLf) {
    dir.write("t.txt", "a\r\nb\rc\n\r\r\n");
    File f;
    ASSERT_TRUE(f.open(dir.path("t.txt"), OpenMode::Read, Share::All, true));
    char buf[64];
    EXPECT_EQ(f.read_line(buf, sizeof buf), 2u);
    EXPECT_STREQ(buf, "a\n");
    EXPECT_EQ(f.read_line(buf, sizeof buf), 4u);
    EXPECT_STREQ(buf, "b\rc\n");
    EXPECT_EQ(f.read_line(buf, sizeof buf), 2u);
    EXPECT_STREQ(buf, "\r\n");
    EXPECT_EQ(f.read_line(buf, sizeof buf), 0u);
    // Binary mode passes every byte.
    File g;
    ASSERT_TRUE(g.open(dir.path("t.txt"), OpenMode::Read));
    EXPECT_EQ(g.read_line(buf, sizeof buf), 3u);
    // A short buffer takes the line in pieces.
    File h;
    ASSERT_TRUE(h.open(dir.path("t.txt"), OpenMode::Read, Share::All, true));
    EXPECT_EQ(h.read_line(buf, 2), 1u);
    EXPECT_STREQ(buf, "a");
}

TEST_F(Files, DenyWriteIsExclusive) {
    File a, b, c;
    ASSERT_TRUE(a.open(dir.path("log"), OpenMode::Append, Share::DenyWrite, true));
    EXPECT_FALSE(b.open(dir.path("log"), OpenMode::Append, Share::DenyWrite, true));
    EXPECT_TRUE(c.open(dir.path("log"), OpenMode::Read));  // others may read
    EXPECT_TRUE(a.close());
    EXPECT_TRUE(b.open(dir.path("log"), OpenMode::Append, Share::DenyWrite, true));
}

TEST_F(Files, WriteTruncatesOnlyUnderItsLock) {
    dir.write("f", "old contents");
    File holder;
    ASSERT_TRUE(holder.open(dir.path("f"), OpenMode::ReadWrite, Share::DenyWrite));
    File w;
    EXPECT_FALSE(w.open(dir.path("f"), OpenMode::Write, Share::DenyWrite));
    EXPECT_EQ(dir.read("f"), "old contents");
    EXPECT_TRUE(holder.close());
    ASSERT_TRUE(w.open(dir.path("f"), OpenMode::Write, Share::DenyWrite));
    w.write("new");
    EXPECT_TRUE(w.close());
    EXPECT_EQ(dir.read("f"), "new");
}

TEST_F(Files, CreateNewNeverTakesAnExistingName) {
    dir.write("MAIL0000.MSG", "");
    File f;
    EXPECT_FALSE(f.open(dir.path("MAIL0000.MSG"), OpenMode::CreateNew));
    EXPECT_FALSE(f.open(dir.path("mail0000.msg"), OpenMode::CreateNew));
    EXPECT_TRUE(f.open(dir.path("MAIL0001.MSG"), OpenMode::CreateNew));
    EXPECT_FALSE(f.open(dir.path("sub"), OpenMode::Read));
}

TEST_F(Files, DirectoryListingIsSortedAndCaseBlind) {
    for (const char* n : {"b.PKT", "a.pkt", "c.txt", "D.Pkt"}) dir.write(n, "");
    std::vector<std::string> seen;
    list_directory(dir.root(), "*.pkt", [&](const std::string& n) {
        seen.push_back(n);
        return true;
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"D.Pkt", "a.pkt", "b.PKT"}));
}

TEST_F(Files, PositionIsCountedAndSeeksStayExact) {
    // Big enough that seeks fall both inside and outside the stream's buffer.
    std::string bytes;
    for (int i = 0; bytes.size() < 100000; ++i) bytes += "line " + std::to_string(i) + "\r\n";
    dir.write("pos.bin", bytes);
    for (bool text : {false, true}) {
        File f;
        ASSERT_TRUE(f.open(dir.path("pos.bin"), OpenMode::Read, Share::All, text));
        std::string seen;
        for (int c; (c = f.getc()) != EOF;) {
            seen.push_back(char(c));
            if (seen.size() % 997 == 0) {
                long long at = f.tell();
                ASSERT_EQ(at, (long long)::ftello(f.stream())) << text;
                // Back a little (inside the buffer), far back, then home again.
                for (long long to : {at - 10, at / 2, 0LL, at}) {
                    ASSERT_TRUE(f.seek(to));
                    ASSERT_EQ(f.tell(), to);
                    int want = text && bytes[to] == '\r' ? '\n' : (unsigned char)bytes[to];
                    ASSERT_EQ(f.getc(), want) << text << " " << to;
                }
                ASSERT_TRUE(f.seek(at));
            }
        }
        EXPECT_TRUE(f.eof());
        EXPECT_EQ(f.tell(), (long long)bytes.size());
        // A seek clears the end-of-file mark, as fseek does.
        ASSERT_TRUE(f.seek((long long)bytes.size() - 1));
        EXPECT_FALSE(f.eof());
        EXPECT_EQ(f.getc(), '\n');
        std::string want = bytes;
        if (text) want = std::regex_replace(bytes, std::regex("\r\n"), "\n");
        EXPECT_EQ(seen, want) << text;
    }
}

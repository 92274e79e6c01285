// The configuration reader: line syntax, Include, and its value parsers.
#include <gtest/gtest.h>

#include "config/config.h"
#include "config/reader.h"
#include "support/site_fixture.h"

using namespace tw;

namespace {

class Reader : public twtest::SiteFixture {
protected:
    std::string program() const { return dir.path("tarnwick"); }

    GatewayConfig& c = mutable_config();
};

TEST_F(Reader, LineSyntax) {
    std::string err = configure(
        "; comment\n"
        " FidoAddr 2:280/1\n"
        "FidoAddr\t2:280/2\n"
        "fidoaddr 2:280/3\r\n"
        "\n"
        "BaseZone    7\n");
    EXPECT_TRUE(loaded);
    EXPECT_EQ(err, warning("unknown keyword", 2) + warning("unknown keyword", 3));
    EXPECT_EQ(config().FidoAddr, (FtnAddress{2, 280, 3, 0}));
    EXPECT_EQ(config().BaseZone, 7);
}

TEST_F(Reader, MissingFile) {
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(read_config_file(dir.path("none.cfg"), program()));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: can't read " + dir.path("none.cfg") + "\n");
}

TEST_F(Reader, FtnAddresses) {
    EXPECT_EQ(configure("FidoAddr 2:280\n"), warning("invalid FTN address", 1));
    EXPECT_EQ(config().FidoAddr, (FtnAddress{2, 280, 0, 0}));
    EXPECT_EQ(configure("FidoAddr 2:280/1\n"), "");
    EXPECT_EQ(config().FidoAddr, (FtnAddress{2, 280, 1, 0}));
    EXPECT_EQ(configure("FidoAddr 2:280/1.5\n"), "");
    EXPECT_EQ(config().FidoAddr, (FtnAddress{2, 280, 1, 5}));
    EXPECT_EQ(configure("FidoAddr  3:1/2\n"), "");  // leading blanks go with the keyword's
    EXPECT_EQ(config().FidoAddr, (FtnAddress{3, 1, 2, 0}));
}

TEST_F(Reader, YesNo) {
    EXPECT_EQ(configure("QuickScan yes\n"), "");
    EXPECT_TRUE(c.QuickScan);
    EXPECT_EQ(configure("QuickScan Y\n"), warning("invalid Yes/No parameter", 1));
    EXPECT_FALSE(c.QuickScan);
    configure("QuickScan YES\n");
    EXPECT_EQ(configure("QuickScan Yes \n"), warning("invalid Yes/No parameter", 1));
    EXPECT_FALSE(c.QuickScan);
    configure("ExportAllMail Yes\nMapFidoOrg yes\nTransFidoOrg no\n");
    EXPECT_TRUE(c.ExportAllMail);
    EXPECT_TRUE(c.MapFidoOrg);
    EXPECT_FALSE(c.TransFidoOrg);
}

TEST_F(Reader, IncludeIsReadInPlace) {
    dir.write("inc.cfg", "BaseZone 5\nnonsense\n");
    // A bare name is looked up in the program directory.
    std::string err = configure("BaseZone 1\nInclude inc.cfg\nInclude gone.cfg\nMaxPKTSize 9\n");
    EXPECT_EQ(err, warning("unknown keyword", 2, "inc.cfg") + "Error: can't read " + dir.path("gone.cfg") + "\n");
    EXPECT_EQ(c.BaseZone, 5);
    EXPECT_EQ(c.MaxPKTSize, 9u);
}

TEST_F(Reader, SelfIncludeEnds) {
    std::string err = configure("AddrMap 2:1/1 a@b\nInclude t.cfg\n");
    EXPECT_TRUE(loaded);
    EXPECT_EQ(c.AddrMap.count, kMaxIncludeDepth);
    EXPECT_NE(err.find(warning("Include nested too deeply", 2)), std::string::npos);

    // Included twice by itself it would be read 2^16 times; the reading
    // ends after a few hundred files, with the same warning.
    err = configure("AddrMap 2:1/1 a@b\nInclude t.cfg\nInclude t.cfg\n");
    EXPECT_TRUE(loaded);
    EXPECT_LE(c.AddrMap.count, 300);
    EXPECT_NE(err.find(warning("Include nested too deeply", 3)), std::string::npos);
}

TEST_F(Reader, LongLinesAreReadInPieces) {
    // 254 characters make one read; the rest of the line is a line of its own.
    std::string line = "BaseZone 3" + std::string(244, ' ') + "FidoAddr 2:3/4\n";
    std::string err = configure(line + "MaxPKTSize 8\n");
    EXPECT_EQ(err, "");
    EXPECT_EQ(c.BaseZone, 3);
    EXPECT_EQ(c.FidoAddr, (FtnAddress{2, 3, 4, 0}));
    EXPECT_EQ(c.MaxPKTSize, 8u);
}

TEST_F(Reader, HostileBytesNeverBreakTheReader) {
    std::string junk = twtest::random_bytes(200000, 12345);
    junk += std::string(10000, 'x') + "\n" + std::string(3000, '\0') + "\nFidoAddr 2:1/2\n";
    configure(junk);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(c.FidoAddr, (FtnAddress{2, 1, 2, 0}));
}

}  // namespace

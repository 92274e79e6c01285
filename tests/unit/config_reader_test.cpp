// The configuration reader, its value parsers and the keywords of
// addresses, mapping, directories and run limits.
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

TEST_F(Reader, AddrMapAndPersonal) {
    EXPECT_EQ(configure("AddrMap 2:280/1.1 jd@host,reply@other John Doe\n"
                        "AddrMap 2:280/1.2\n"
                        "AddrMap 2:280/1.3 nohost\n"
                        "Personal 2:280/1.4 Old Style\n"
                        "Personal 2:280/1.5\n"),
              warning("AddrMap misses parameter", 2) + warning("invalid email address", 3) +
                  warning("obsolete keyword Personal", 4) + warning("obsolete keyword Personal", 5) +
                  warning("Personal misses parameter", 5));
    ASSERT_EQ(c.AddrMap.count, 3);
    EXPECT_EQ(c.AddrMap[0].ftn, (FtnAddress{2, 280, 1, 1}));
    EXPECT_EQ(c.AddrMap[0].inet.view(), "jd@host");
    EXPECT_EQ(c.AddrMap[0].inet2.view(), "reply@other");
    EXPECT_EQ(c.AddrMap[0].name.view(), "John Doe");
    EXPECT_EQ(c.AddrMap[1].inet.view(), "nohost");
    EXPECT_EQ(c.AddrMap[1].name.view(), "");
    EXPECT_EQ(c.AddrMap[2].inet.view(), "");
    EXPECT_EQ(c.AddrMap[2].name.view(), "Old Style");
}

TEST_F(Reader, AddrMapTableFull) {
    std::string text;
    for (int i = 0; i < 1024; ++i) text += "AddrMap 2:280/1." + std::to_string(i) + " u" + std::to_string(i) + "@h\n";
    text += "AddrMap 2:280/2 x@y\nPersonal 2:280/3 Name\n";
    EXPECT_EQ(configure(text), warning("too many AddrMap keywords", 1025) + warning("obsolete keyword Personal", 1026) +
                               warning("too many AddrMap/Personal keywords", 1026));
    EXPECT_EQ(c.AddrMap.count, 1024);
    EXPECT_EQ(c.AddrMap[1023].inet.view(), "u1023@h");
}

TEST_F(Reader, FidoDomain) {
    EXPECT_EQ(configure("FidoDomain 1-6 fidonet.org\n"
                        "FidoDomain 2 #z2.net\n"
                        "FidoDomain x other.net\n"
                        "FidoDomain 7\n"
                        "FidoDomain 3-x dom\n"),
              warning("FidoDomain has invalid parameter", 3) + warning("FidoDomain misses parameter", 4) +
                  warning("FidoDomain has invalid parameter", 5));
    ASSERT_EQ(c.FidoDomain.count, 2);
    EXPECT_EQ(c.FidoDomain[0].zone_low, 1);
    EXPECT_EQ(c.FidoDomain[0].zone_high, 6);
    EXPECT_STREQ(c.FidoDomain[0].domain, "fidonet.org");
    EXPECT_EQ(c.FidoDomain[1].zone_low, 2);
    EXPECT_EQ(c.FidoDomain[1].zone_high, 2);
    EXPECT_STREQ(c.FidoDomain[1].domain, "#z2.net");
}

TEST_F(Reader, EmailAndAreaMap) {
    EXPECT_EQ(configure("EmailArea email\nEmailArea\n"), "");
    EXPECT_EQ(c.EmailArea.view(), "NETMAIL");
    configure("EmailArea email\n");
    EXPECT_EQ(c.EmailArea.view(), "EMAIL");
    EXPECT_EQ(configure("AreaMap fido.area comp.misc\n"
                        "AreaMap A2 alt.two IMPORT\n"
                        "AreaMap A3 alt.three export\n"
                        "AreaMap A4 alt.four sideways\n"
                        "AreaMap lonely\n"),
              warning("unknown direction", 4) + warning("AreaMap misses parameter", 5));
    ASSERT_EQ(c.AreaMap.count, 4);
    EXPECT_EQ(c.AreaMap[0].area.view(), "FIDO.AREA");
    EXPECT_EQ(c.AreaMap[0].newsgroup.view(), "comp.misc");
    EXPECT_EQ(c.AreaMap[0].direction, Direction::Both);
    EXPECT_EQ(c.AreaMap[1].direction, Direction::Import);
    EXPECT_EQ(c.AreaMap[2].direction, Direction::Export);
    EXPECT_EQ(c.AreaMap[3].direction, Direction::Both);
}

TEST_F(Reader, Routes) {
    EXPECT_EQ(configure("Route 2:280/9 gw@remote\n"
                        "Route 2:280/10 gw@remote pw\n"
                        "Route 2:280/11 gw@remote SUBJ=tag\n"
                        "Route 2:280/12 gw@remote pw SUBJ=two words\n"
                        "Route 2:280/13 gw@remote SUBJ=tag more\n"
                        "Route 2:280/14 gw@remote pw other\n"
                        "Route 2:280/15\n"),
              warning("Route has too many parameters", 5) + warning("Route has invalid parameter", 6) +
                  warning("Route misses parameter", 7));
    ASSERT_EQ(c.Route.count, 4);
    EXPECT_EQ(c.Route[0].password.view(), "");
    EXPECT_EQ(c.Route[1].password.view(), "pw");
    EXPECT_EQ(c.Route[2].password.view(), "");
    EXPECT_EQ(c.Route[2].subject.view(), "tag");
    EXPECT_EQ(c.Route[3].password.view(), "pw");
    EXPECT_EQ(c.Route[3].subject.view(), "two words");
    EXPECT_EQ(c.Route[3].ftn, (FtnAddress{2, 280, 12, 0}));
}

TEST_F(Reader, Aliases) {
    EXPECT_EQ(configure("Alias real@host the boss\nAlias nohost x\nAlias single\n"),
              warning("invalid email address", 2) + warning("Alias misses parameter", 3));
    ASSERT_EQ(c.Alias.count, 2);
    EXPECT_EQ(c.Alias[0].inet.view(), "real@host");
    EXPECT_EQ(c.Alias[0].alias.view(), "the boss");
}

TEST_F(Reader, Directories) {
    configure("InboundDir C:\\MAIL\nOutboundDir C:/OUT/\nSoupDir /var/spool/ftn/in\nNetmailDir rel\\x\nTempDir\n");
    EXPECT_EQ(c.InboundDir.view(), "C:\\MAIL\\");
    EXPECT_EQ(c.OutboundDir.view(), "C:/OUT/");
    EXPECT_EQ(c.SoupDir.view(), "/var/spool/ftn/in/");
    EXPECT_EQ(c.NetmailDir.view(), "rel\\x\\");
    EXPECT_EQ(c.TempDir.view(), "");
    // A line is read 254 characters at a time: the value ends there.
    std::string longdir(300, 'd');
    configure("InboundDir " + longdir + "\n");
    EXPECT_EQ(c.InboundDir.view(), longdir.substr(0, 243) + "\\");
}

TEST_F(Reader, DecodeDir) {
    EXPECT_EQ(configure("DecodeDir dec all\n"), "");
    EXPECT_TRUE(c.DecodeAll);
    EXPECT_EQ(c.DecodeDir.view(), "dec\\");
    EXPECT_EQ(configure("DecodeDir dec/ none\n"), warning("invalid DecodeDir parameter", 1));
    EXPECT_FALSE(c.DecodeAll);
    EXPECT_EQ(c.DecodeDir.view(), "dec/");
    EXPECT_EQ(configure("DecodeDir dec  ALL\n"), warning("invalid DecodeDir parameter", 1));
    EXPECT_FALSE(c.DecodeAll);
    EXPECT_EQ(configure("DecodeDir dec ALLES\n"), "");
    EXPECT_TRUE(c.DecodeAll);
}

TEST_F(Reader, MailerAndLimits) {
    EXPECT_EQ(configure("MailerType binkley\n"), "");
    EXPECT_EQ(c.MailerType, MailerKind::Binkley);
    EXPECT_EQ(configure("MailerType ARCMAIL\n"), "");
    EXPECT_EQ(c.MailerType, MailerKind::ArcMail);
    EXPECT_EQ(configure("MailerType FrontDoor\n"), warning("invalid mailer type", 1));
    EXPECT_EQ(c.MailerType, MailerKind::None);

    EXPECT_EQ(configure("ImportLimit 1000\n"), warning("limit too small", 1));
    EXPECT_EQ(c.ImportLimit, 2048u);
    EXPECT_EQ(configure("ImportLimit 1024\nMaxPKTSize 4\n"), "");
    EXPECT_EQ(c.ImportLimit, 1024u);
    EXPECT_EQ(configure("ImportLimit 0\nMaxPKTSize 2\n"), warning("limit too small", 2));
    EXPECT_EQ(c.ImportLimit, 0u);
    EXPECT_EQ(c.MaxPKTSize, 4u);
    EXPECT_EQ(configure("ImportLimit lots\n"), warning("invalid number", 1));
    EXPECT_EQ(c.ImportLimit, 0u);
    EXPECT_EQ(configure("BaseZone x\n"), warning("invalid number", 1));
    EXPECT_EQ(c.BaseZone, 0);
    configure("BaseZone 2 extra\nMaxPKTSize 4096kb\n");
    EXPECT_EQ(c.BaseZone, 2);
    EXPECT_EQ(c.MaxPKTSize, 4096u);

    configure("PacketPwd secretpass\n");
    EXPECT_EQ(c.PacketPwd.view(), "SECRETPA");
}

TEST_F(Reader, LogFileLookup) {
    configure("LogFile run.log\n");
    EXPECT_EQ(c.LogFile.view(), dir.path("run.log"));
    configure("LogFile logs\\run.log\n");
    EXPECT_EQ(c.LogFile.view(), "logs\\run.log");
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

// The keywords of addresses and their mapping.
#include <gtest/gtest.h>

#include "config/config.h"
#include "support/site_fixture.h"

using namespace tw;

namespace {

class AddressKeywords : public twtest::SiteFixture {
protected:
    GatewayConfig& c = mutable_config();
};

TEST_F(AddressKeywords, AddrMapAndPersonal) {
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

TEST_F(AddressKeywords, AddrMapTableFull) {
    std::string text;
    for (int i = 0; i < 1024; ++i) text += "AddrMap 2:280/1." + std::to_string(i) + " u" + std::to_string(i) + "@h\n";
    text += "AddrMap 2:280/2 x@y\nPersonal 2:280/3 Name\n";
    EXPECT_EQ(configure(text), warning("too many AddrMap keywords", 1025) + warning("obsolete keyword Personal", 1026) +
                               warning("too many AddrMap/Personal keywords", 1026));
    EXPECT_EQ(c.AddrMap.count, 1024);
    EXPECT_EQ(c.AddrMap[1023].inet.view(), "u1023@h");
}

TEST_F(AddressKeywords, FidoDomain) {
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

TEST_F(AddressKeywords, EmailAndAreaMap) {
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

TEST_F(AddressKeywords, Routes) {
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

TEST_F(AddressKeywords, Aliases) {
    EXPECT_EQ(configure("Alias real@host the boss\nAlias nohost x\nAlias single\n"),
              warning("invalid email address", 2) + warning("Alias misses parameter", 3));
    ASSERT_EQ(c.Alias.count, 2);
    EXPECT_EQ(c.Alias[0].inet.view(), "real@host");
    EXPECT_EQ(c.Alias[0].alias.view(), "the boss");
}

}  // namespace

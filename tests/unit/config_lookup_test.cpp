// Configuration lookups in both directions, over one configured site.
#include <gtest/gtest.h>

#include "config/config.h"
#include "config/lookup.h"
#include "support/site_fixture.h"

using namespace tw;

namespace {

class Lookup : public twtest::SiteFixture {
protected:
    void SetUp() override {
        SiteFixture::SetUp();
        ASSERT_EQ(configure("FidoAddr 2:280/464\n"
                            "AddrMap 2:280/464.1 sysop@tarnwick.example.org Sam Sysop\n"
                            "AddrMap 2:280/464.2 carol@tarnwick.example.org\n"
                            "AddrMap 2:280/464.3 dave@tarnwick.example.org Dave Dunn\n"
                            "AreaMap TW.TALK comp.misc.tw\n"
                            "AreaMap TW.OUT comp.outbound export\n"
                            "AreaMap tw.talk alt.second.name\n"
                            "Route 2:280/9 gw@remote.example\n"
                            "CharSetMap IBMPC#2 ibm437 Import\n"
                            "CharSetMap LATIN-1#2 iso-8859-1\n"
                            "CharSetMap CP866#2 koi8-r export\n"
                            "CharSetMap LATIN-1#2x latin9 export\n"
                            "Alias sam@tarnwick.example.org Sam\n"
                            "FidoDomain 1-6 fidonet.org\n"
                            "FidoDomain 2 #z2.net\n"),
                  "");
    }
};

TEST_F(Lookup, AreasAndCharsetsBothWays) {
    const GatewayConfig& c = config();
    // The first entry wins either way, the names compared case-blind.
    ASSERT_NE(area_map_for_newsgroup(c, "COMP.misc.TW"), nullptr);
    EXPECT_EQ(area_map_for_newsgroup(c, "COMP.misc.TW")->area.view(), "TW.TALK");
    ASSERT_NE(area_map_for_area(c, "tw.talk"), nullptr);
    EXPECT_EQ(area_map_for_area(c, "tw.talk")->newsgroup.view(), "comp.misc.tw");
    EXPECT_EQ(area_map_for_area(c, "TW.OUT")->direction, Direction::Export);
    EXPECT_EQ(area_map_for_area(c, "TW.NONE"), nullptr);
    EXPECT_EQ(area_map_for_newsgroup(c, "comp.misc"), nullptr);

    // Each direction passes over the entries of the other.
    EXPECT_STREQ(charset_for_import(c, "IBM437")->ftn, "IBMPC#2");
    EXPECT_STREQ(charset_for_import(c, "iso-8859-1")->ftn, "LATIN-1#2");
    EXPECT_EQ(charset_for_import(c, "koi8-r"), nullptr);
    EXPECT_EQ(charset_for_export(c, "IBMPC#2"), nullptr);
    EXPECT_STREQ(charset_for_export(c, "cp866#2")->inet, "koi8-r");
    // On export the kludge's name may be shorter than the entry's.
    EXPECT_STREQ(charset_for_export(c, "LATIN-1#2")->inet, "iso-8859-1");
    EXPECT_STREQ(charset_for_export(c, "LATIN")->inet, "iso-8859-1");
    EXPECT_EQ(charset_for_export(c, "LATIN-2"), nullptr);
    EXPECT_EQ(ftn_charset_name(*charset_for_export(c, "CP866")), "CP866 2");
}

TEST_F(Lookup, AddressesRoutesAliasesDomains) {
    const GatewayConfig& c = config();
    RecipientList none{};
    Field name;
    name = "carol@TARNWICK.example.org";
    EXPECT_EQ(addr_map_for_recipient(c, "carol@TARNWICK.example.org", name, none), 1);
    EXPECT_EQ(name.view(), "carol@TARNWICK.example.org");  // the entry has no name to give
    name = "sysop@tarnwick.example.org";
    EXPECT_EQ(addr_map_for_recipient(c, "sysop@tarnwick.example.org", name, none), 0);
    EXPECT_EQ(name.view(), "Sam Sysop");
    name = "DAVE DUNN";
    EXPECT_EQ(addr_map_for_recipient(c, "dd@elsewhere.example", name, none), 2);
    RecipientList more{};
    more.count = 1;
    more.entries[0].address = "dave@tarnwick.example.org";
    name = "Nobody";
    EXPECT_EQ(addr_map_for_recipient(c, "x@y.example", name, more), 2);

    EXPECT_EQ(addr_map_for_ftn(c, FtnAddress{2, 280, 464, 2})->inet.view(), "carol@tarnwick.example.org");
    EXPECT_EQ(addr_map_for_ftn(c, FtnAddress{2, 280, 464, 2}, true), nullptr);
    EXPECT_EQ(addr_map_for_ftn(c, FtnAddress{2, 280, 464, 9}), nullptr);

    EXPECT_EQ(route_for_sender(c, "GW@remote.example"), 0);
    EXPECT_EQ(route_for_sender(c, "other@remote.example"), -1);
    EXPECT_EQ(route_for_ftn(c, FtnAddress{2, 280, 9, 0}), 0);
    EXPECT_EQ(route_for_ftn(c, FtnAddress{2, 280, 9, 1}), -1);

    EXPECT_EQ(alias_for_name(c, "SAM")->inet.view(), "sam@tarnwick.example.org");
    EXPECT_EQ(alias_for_inet(c, "Sam@Tarnwick.example.org")->alias.view(), "Sam");
    EXPECT_EQ(alias_for_name(c, "Sa"), nullptr);

    EXPECT_EQ(fido_domain_for_zone(c, 1), "fidonet.org");
    EXPECT_EQ(fido_domain_for_zone(c, 6), "fidonet.org");
    EXPECT_EQ(fido_domain_for_zone(c, 7), kDefaultFidoDomain);
}

}  // namespace

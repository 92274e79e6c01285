// FTN addresses read from Internet domains.
#include <gtest/gtest.h>

#include "config/config.h"
#include "rfc822/ftn_domain.h"
#include "support/site_fixture.h"

using namespace tw;

using FtnDomain = twtest::SiteFixture;

TEST_F(FtnDomain, FtnDomains) {
    EXPECT_TRUE(is_ftn_domain("f200.n123.z2.fidonet.org"));
    EXPECT_TRUE(is_ftn_domain("x.FIDONET.ORG"));
    EXPECT_FALSE(is_ftn_domain("fidonet.org"));
    EXPECT_FALSE(is_ftn_domain("xfidonet.org"));
    EXPECT_FALSE(is_ftn_domain("example.org"));

    auto add = [](const char* d) {
        FidoDomainEntry* e = mutable_config().FidoDomain.add();
        e->domain = dup_text(d);
    };
    add("ftn.example.net");   // not of the '#' form: never an FTN domain
    add("#amiganet.ORG");
    EXPECT_FALSE(is_ftn_domain("z39.ftn.example.net"));
    EXPECT_TRUE(is_ftn_domain("f1.n2.z39.AmigaNet.org"));
    EXPECT_FALSE(is_ftn_domain("amiganet.org"));
    EXPECT_FALSE(is_ftn_domain("f1.n2.z39.xamiganet.org"));
}

TEST_F(FtnDomain, FtnAddressFromDomain) {
    FtnAddress a{9, 9, 9, 9};
    EXPECT_TRUE(ftn_address_from_domain("@p5.f200.n123.z2.fidonet.org", a));
    EXPECT_EQ(a, (FtnAddress{2, 123, 200, 5}));
    EXPECT_TRUE(ftn_address_from_domain("@F200.N123.Z2.fidonet.org", a));
    EXPECT_EQ(a, (FtnAddress{2, 123, 200, 0}));
    EXPECT_TRUE(ftn_address_from_domain("@fidonet.org", a));
    EXPECT_EQ(a, (FtnAddress{0, 0, 0, 0}));
    EXPECT_TRUE(ftn_address_from_domain("@n5.z1.x", a));
    EXPECT_EQ(a, (FtnAddress{1, 5, 0, 0}));
    // Nothing after the zone label, or a label past 16 bits: no address.
    EXPECT_FALSE(ftn_address_from_domain("@f1.n2.z3", a));
    EXPECT_FALSE(ftn_address_from_domain("@f70000.n2.z3.fidonet.org", a));
    EXPECT_TRUE(ftn_address_from_domain("@", a));
    EXPECT_FALSE(ftn_address_from_domain("@p", a));
}

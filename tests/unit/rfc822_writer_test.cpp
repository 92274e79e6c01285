// Message identifiers as the Internet header writer gives them.
#include <gtest/gtest.h>

#include "config/config.h"
#include "rfc822/writer.h"
#include "support/site_fixture.h"

using namespace tw;

namespace {

class MessageIdText : public twtest::SiteFixture {
protected:
    void add_domain(std::uint16_t lo, std::uint16_t hi, const char* text) {
        FidoDomainEntry* e = mutable_config().FidoDomain.add();
        e->zone_low = lo;
        e->zone_high = hi;
        e->domain = dup_text(text);
    }
};

TEST_F(MessageIdText, KeepsOrBuildsTheIdentifier) {
    EXPECT_EQ(message_id_text("a@b", 0, {}), "<a@b>");
    EXPECT_EQ(message_id_text("<a@b", 0, {}), "<a@b>");
    EXPECT_EQ(message_id_text("a@b>", 0, {}), "<a@b>");
    EXPECT_EQ(message_id_text("", 1234567, {2, 292, 854, 0}), "<1234567@f854.n292.z2.fidonet.org>");
    EXPECT_EQ(message_id_text("", 7, {2, 292, 854, 3}), "<7@p3.f854.n292.z2.fidonet.org>");
    add_domain(1, 6, "gate.example.org");
    add_domain(21, 21, "#fsxnet.example");
    EXPECT_EQ(message_id_text("", 7, {2, 292, 854, 3}), "<7@gate.example.org>");
    EXPECT_EQ(message_id_text("", 7, {21, 1, 2, 0}), "<7@f2.n1.z21.fsxnet.example>");
    EXPECT_EQ(message_id_text("", 7, {7, 1, 2, 0}), "<7@f2.n1.z7.fidonet.org>");

    platform::File f;
    ASSERT_TRUE(f.open(dir.path("id"), platform::OpenMode::Write));
    write_message_id(f, "x@y", 0, {});
    EXPECT_TRUE(f.close());
    EXPECT_EQ(dir.read("id"), "<x@y>\n");
}

}  // namespace

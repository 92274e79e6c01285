#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "config/config.h"
#include "driver/message.h"
#include "rfc822/ftn_domain.h"
#include "rfc822/header.h"
#include "support/site_fixture.h"

using namespace tw;

namespace {

// A working copy of a header value, as the converter hands it over.
struct Value {
    char buf[512];
    explicit Value(std::string_view s) {
        std::memset(buf, 0, sizeof buf);
        std::memcpy(buf, s.data(), s.size() < sizeof buf - 1 ? s.size() : sizeof buf - 1);
    }
    operator char*() { return buf; }
};

class Header : public twtest::SiteFixture {
protected:
    Field addr{}, name{};
    RecipientList& list() { return recipients(); }
    void parse(std::string_view v, AddressKind kind, bool fields = true) {
        addr.clear();
        name.clear();
        Value copy(v);
        parse_address_list(copy, fields ? &addr : nullptr, fields ? &name : nullptr, kind);
    }
};

}  // namespace

TEST_F(Header, EscapesQuotesAndBlanks) {
    Value a("a\\\\b\\ c\\\"d\\");  // a\\b\ c\"d\ : the final backslash escapes nothing
    unescape_text(a);
    EXPECT_EQ(std::string(a), std::string("a\\b\xFF") + "c\"d");
    restore_blanks(a);
    EXPECT_STREQ(a, "a\\b c\"d");

    Value q("\"'x'\"");
    unquote(q);
    EXPECT_STREQ(q, "x");
    Value one("\"");
    unquote(one);
    EXPECT_STREQ(one, "\"");
    Value mixed("\"x'");
    unquote(mixed);
    EXPECT_STREQ(mixed, "\"x'");
}

TEST_F(Header, AddressForms) {
    parse("\"Doe, John\" <jd@host>, other@host", AddressKind::To);
    EXPECT_EQ(addr.view(), "jd@host");
    EXPECT_EQ(name.view(), "Doe, John");
    ASSERT_EQ(list().count, 1);
    EXPECT_EQ(list().entries[0].kind, RecipientKind::To);
    EXPECT_EQ(list().entries[0].address.view(), "other@host");
    EXPECT_TRUE(list().entries[0].name.empty());

    parse("jd@host (John Doe)", AddressKind::From);
    EXPECT_EQ(addr.view(), "jd@host");
    EXPECT_EQ(name.view(), "John Doe");
    parse("<jd@host>", AddressKind::From);
    EXPECT_EQ(addr.view(), "jd@host");
    EXPECT_TRUE(name.empty());
    parse("  John   Doe  <jd@host>", AddressKind::ReplyTo);
    EXPECT_EQ(name.view(), "John   Doe");

    // An escaped blank does not end an address.
    parse("A\\ B@host", AddressKind::From);
    EXPECT_EQ(addr.view(), "A B@host");

    // No address: the name alone is set, the address is left alone.
    addr.assign("kept@host");
    Value all("All");
    parse_address_list(all, &addr, &name, AddressKind::To);
    EXPECT_EQ(addr.view(), "kept@host");
    EXPECT_EQ(name.view(), "All");
    EXPECT_EQ(list().count, 1);  // still only the first To entry
}

TEST_F(Header, ApostropheTogglesQuote) {
    parse("O'Brien <ob@host>, x@host", AddressKind::To);
    EXPECT_EQ(addr.view(), "ob@host");
    EXPECT_EQ(name.view(), ", x@host");
    EXPECT_EQ(list().count, 0);
    parse("O'Brien <ob@host>", AddressKind::From);
    EXPECT_EQ(name.view(), "O'Brien");
}

TEST_F(Header, RecipientListKindsAndLimit) {
    parse("a@x, Bea <b@y>", AddressKind::Cc, false);
    ASSERT_EQ(list().count, 2);
    EXPECT_EQ(list().entries[0].kind, RecipientKind::Cc);
    EXPECT_EQ(list().entries[0].address.view(), "a@x");
    EXPECT_EQ(list().entries[1].address.view(), "b@y");
    EXPECT_EQ(list().entries[1].name.view(), "Bea");
    parse("c@z (Cee)", AddressKind::Bcc, false);
    EXPECT_EQ(list().entries[2].kind, RecipientKind::Bcc);
    EXPECT_EQ(list().entries[2].name.view(), "Cee");
    // From and Reply-To never feed the list.
    parse("a@x, b@y", AddressKind::From, false);
    parse("a@x, b@y", AddressKind::ReplyTo);
    EXPECT_EQ(list().count, 3);

    list().count = RecipientList::capacity;
    parse("a@x, b@y", AddressKind::Cc, false);
    EXPECT_EQ(list().count, RecipientList::capacity);
}

TEST_F(Header, LongAddressesAreCut) {
    std::string local(300, 'l');
    parse(local + "@host (Name)", AddressKind::From);
    EXPECT_EQ(addr.size(), 127u);
    EXPECT_EQ(addr.view(), local.substr(0, 127));
    parse("\"" + std::string(300, 'N') + "\" <a@b>", AddressKind::From);
    EXPECT_EQ(addr.view(), "a@b");
    EXPECT_EQ(name.size(), 127u);
}

TEST_F(Header, MessageIds) {
    Field id;
    Value a("<abc@host>");
    extract_message_id(a, id, false);
    EXPECT_EQ(id.view(), "abc@host");
    Value none("no identifier here");
    extract_message_id(none, id, false);
    EXPECT_EQ(id.view(), "abc@host");
    Value two("<a@b> (from <c@d>)");
    extract_message_id(two, id, true);
    EXPECT_EQ(id.view(), "c@d");
    Value first("<a@b> <c@d>");
    extract_message_id(first, id, false);
    EXPECT_EQ(id.view(), "a@b");
    Value quoted("\"x y\"@host");
    extract_message_id(quoted, id, false);
    EXPECT_EQ(id.view(), "@host");
    Value escaped("<a\\ b@host>");
    extract_message_id(escaped, id, false);
    EXPECT_EQ(id.view(), "a b@host");
    std::string long_id = std::string("<").append(400, 'i').append("@host>");
    Value longer(long_id);
    extract_message_id(longer, id, false);
    EXPECT_EQ(id.view(), std::string(127, 'i'));
}

TEST_F(Header, TrimField) {
    Field f;
    f.assign("old");
    trim_field(" \t \t", f);
    EXPECT_EQ(f.view(), "old");
    trim_field("\t Subject text \\ \"q\" \r ", f);
    EXPECT_EQ(f.view(), "Subject text \\ \"q\" \r");
    trim_field("a\xFF" "b", f);
    EXPECT_EQ(f.view(), "a b");
    trim_field(std::string(200, 's'), f);
    EXPECT_EQ(f.size(), 127u);
    Text<64> password;
    trim_field(std::string(100, 'p'), password);
    EXPECT_EQ(password.size(), 63u);
}

TEST_F(Header, Newsgroups) {
    Value v("alt.a, alt.b,, alt.a");
    split_newsgroups(v, "alt.a");
    ASSERT_EQ(crossposts().count, 1);
    EXPECT_EQ(crossposts().names[0].view(), "alt.b");
    EXPECT_STREQ(v, "alt.a, alt.b,, alt.a");  // unchanged afterwards

    crossposts().clear();
    Value w(" ALT.A ,\tcomp.x\r, misc.y ");
    split_newsgroups(w, "alt.a");
    ASSERT_EQ(crossposts().count, 2);
    EXPECT_EQ(crossposts().names[0].view(), "comp.x");
    EXPECT_EQ(crossposts().names[1].view(), "misc.y");

    crossposts().count = CrosspostList::capacity;
    Value full("x.y");
    split_newsgroups(full, "alt.a");
    EXPECT_EQ(crossposts().count, CrosspostList::capacity);
}

TEST_F(Header, Dates) {
    MessageDate d{};
    Field zone;
    auto date = [&](std::string_view s) {
        Value v(s);
        parse_date(v, d, &zone);
    };
    date("Tue, 8 Dec 2026 11:22:36 +0100");
    EXPECT_EQ(d.day, 8);
    EXPECT_EQ(d.month, 11);
    EXPECT_EQ(d.year, 2026);
    EXPECT_EQ(d.hour, 11);
    EXPECT_EQ(d.minute, 22);
    EXPECT_EQ(d.second, 36);
    EXPECT_EQ(zone.view(), "+0100");

    date("8 Dec 96 11:22");
    EXPECT_EQ(d.year, 1996);
    EXPECT_EQ(d.minute, 22);
    EXPECT_EQ(d.second, 0);
    EXPECT_TRUE(zone.empty());

    date("8 Dec 2026");  // the year token is last and not taken
    EXPECT_EQ(d.day, 8);
    EXPECT_EQ(d.month, 11);
    EXPECT_EQ(d.year, 1970);

    date("Mon, 3 Foo 05 01:02:03 -0500 (EST)");
    EXPECT_EQ(d.month, 0);
    EXPECT_EQ(d.year, 2005);
    EXPECT_EQ(zone.view(), "-0500 (EST)");

    // A comma past position 12 is no weekday separator: parsing starts at
    // the beginning, so "Wednesday," is read as the day (0).
    date("Wednesdayyyyy, 9 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(d.day, 0);
    EXPECT_EQ(d.month, 0);
    date("  12 jan\t2070  1:2:3   Z");
    EXPECT_EQ(d.day, 12);
    EXPECT_EQ(d.year, 2070);
    EXPECT_EQ(d.hour, 1);
    EXPECT_EQ(d.second, 3);
    EXPECT_EQ(zone.view(), "Z");

    // Stopping early leaves no zone of an earlier message behind.
    date("8");
    EXPECT_EQ(d.day, 1);
    EXPECT_TRUE(zone.empty());

    reset_message();
    Value m("Sat, 31 Jan 1998 23:59:59 +1300");
    parse_date(m, message());
    EXPECT_EQ(message().date.day, 31);
    EXPECT_EQ(message().date.year, 1998);
    EXPECT_EQ(message().zone_text.view(), "+1300");
}

// Arbitrary bytes through every parser: nothing grows, every field keeps
// its terminator, and the lists never pass their capacity.
TEST_F(Header, ArbitraryBytesStayInTheirFields) {
    std::mt19937 rng(99);
    const char alphabet[] = "@<>()\"',;\\ \t.pfnz0123456789:aB\xFF\r\n";
    for (int round = 0; round < 3000; ++round) {
        std::string s;
        int len = int(rng() % 480);
        for (int i = 0; i < len; ++i)
            s.push_back(rng() % 5 == 0 ? char(1 + rng() % 255) : alphabet[rng() % (sizeof alphabet - 1)]);
        if (round % 50 == 0) {
            recipients().clear();
            crossposts().clear();
        }
        for (int k = 0; k < 6; ++k) {
            Value v(s);
            parse_address_list(v, k % 2 ? &addr : nullptr, &name, AddressKind(k));
            ASSERT_LE(std::strlen(v), s.size());
        }
        Value v1(s);
        extract_message_id(v1, addr, round % 2);
        Value v2(s);
        split_newsgroups(v2, "a.b");
        ASSERT_STREQ(v2, Value(s));
        MessageDate d{};
        Value v3(s);
        parse_date(v3, d, &name);
        trim_field(s, name);
        FtnAddress a{};
        std::size_t at = s.find('@');
        if (at != std::string::npos) {
            (void)is_ftn_domain(std::string_view(s).substr(at + 1));
            (void)ftn_address_from_domain(std::string_view(s).substr(at), a);
        }
        ASSERT_LE(addr.size(), 127u);
        ASSERT_LE(name.size(), 127u);
        ASSERT_LE(recipients().count, RecipientList::capacity);
        ASSERT_LE(crossposts().count, CrosspostList::capacity);
    }
}

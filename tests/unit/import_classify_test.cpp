// The import decision: where a scanned message goes, from its header and
// the configuration alone.
#include <gtest/gtest.h>

#include <cstring>

#include "config/config.h"
#include "driver/message.h"
#include "import/classify.h"
#include "lists/lists.h"
#include "support/site_fixture.h"

using namespace tw;

namespace {

const char kSite[] =
    "FidoAddr 2:280/464\n"
    "AddrMap 2:280/464.1 sysop@tarnwick.example.org Sam Sysop\n"
    "AddrMap 2:280/464.2 carol@tarnwick.example.org Carol Cole\n"
    "AddrMap 2:280/464.3 dave@tarnwick.example.org Dave Dunn\n"
    "AreaMap TW.TALK comp.misc.tw\n"
    "AreaMap TW.OUT comp.outbound export\n"
    "Route 2:280/9 gw@remote.example\n"
    "Route 2:280/10 locked@remote.example s3cr3t\n"
    "MailingList TW.TECH tech@lists.example tech TRUNCATE=----- ;SUBJ:[tech] \n"
    "IgnoreMessageText *mailer-daemon@tarnwick.example.org\n"
    "ListConfig tw.lst\n";

struct Header {
    AreaKind area_kind = AreaKind::Mail;
    const char* from = "alice@example.com";
    const char* from_name = "Alice Ames";
    const char* to = "sysop@tarnwick.example.org";
    const char* to_name = "";
    const char* subject = "hello";
    const char* newsgroup = "";
    const char* password = "";
    const char* quoted = "";
};

struct Expected {
    MessageKind kind;
    const char* area;
    FtnAddress destination;
    FtnAddress origin;
    const char* recipient_name;
    const char* subject;
    int route = -1;
    bool bad_password = false;
    int mailing_list = -1;
    int hosted_list = -1;
    ListCommand command = ListCommand::None;
    bool ignore_text = false;
    JunkKind junk = JunkKind::None;
    const char* truncate = "";
};

struct Case {
    const char* what;
    Header in;
    Expected out;
};

const FtnAddress kGate{2, 280, 464, 0};

const Case kCases[] = {
    {"mail to a mapped user takes the entry's name",
     {},
     {MessageKind::Mail, "NETMAIL", {2, 280, 464, 1}, kGate, "Sam Sysop", "hello"}},
    {"mail by name alone",
     {.to = "dd@elsewhere.example", .to_name = "dave dunn"},
     {MessageKind::Mail, "NETMAIL", {2, 280, 464, 3}, kGate, "dave dunn", "hello"}},
    {"mail to nobody known goes to the first entry",
     {.to = "who@nowhere.example", .to_name = "who@nowhere.example"},
     {MessageKind::Mail, "NETMAIL", {2, 280, 464, 1}, kGate, "who@nowhere.example", "hello"}},
    {"a routed sender without a password comes from its node",
     {.from = "GW@remote.example"},
     {MessageKind::Mail, "NETMAIL", {2, 280, 464, 1}, {2, 280, 9, 0}, "Sam Sysop", "hello", 0}},
    {"a wrong route password keeps the gateway as origin",
     {.from = "locked@remote.example", .password = "guess"},
     {MessageKind::Mail, "NETMAIL", {2, 280, 464, 1}, kGate, "Sam Sysop", "hello", 1, true}},
    {"the right route password",
     {.from = "locked@remote.example", .password = "s3cr3t"},
     {MessageKind::Mail, "NETMAIL", {2, 280, 464, 1}, {2, 280, 10, 0}, "Sam Sysop", "hello", 1}},
    {"mail from a mailing list: its area, tag cut, truncation, addressed to whom it quotes",
     {.from = "tech@lists.example", .to = "carol@tarnwick.example.org", .to_name = "carol@tarnwick.example.org",
      .subject = "[tech] boot loader", .quoted = "Bob Brown"},
     {MessageKind::List, "TW.TECH", {2, 280, 464, 2}, kGate, "Carol Cole", "boot loader", -1, false, 0, -1,
      ListCommand::None, false, JunkKind::None, "-----"}},
    {"a list posting to nobody by name goes to all",
     {.from = "tech@lists.example", .to = "who@nowhere.example", .to_name = "who@nowhere.example",
      .subject = "[tech] hi"},
     {MessageKind::List, "TW.TECH", {2, 280, 464, 1}, kGate, "All", "hi", -1, false, 0, -1, ListCommand::None,
      false, JunkKind::None, "-----"}},
    {"text from the mailer daemon is ignored",
     {.from = "MAILER-DAEMON@tarnwick.example.org", .subject = "Undelivered Mail"},
     {MessageKind::Mail, "NETMAIL", {2, 280, 464, 1}, kGate, "Sam Sysop", "Undelivered Mail", -1, false, -1, -1,
      ListCommand::None, true}},
    {"a posting to a hosted list",
     {.to = "TW-L@lists.tarnwick.example.org", .subject = "news of the week"},
     {MessageKind::List, "TW.LIST", {2, 280, 464, 1}, kGate, "All", "news of the week", -1, false, -1, 0}},
    {"a command to a hosted list",
     {.to = "tw-l@lists.tarnwick.example.org", .subject = "UNSUBSCRIBE me"},
     {MessageKind::List, "TW.LIST", {2, 280, 464, 1}, kGate, "All", "UNSUBSCRIBE me", -1, false, -1, 0,
      ListCommand::Unsubscribe}},
    {"news of a mapped group, to the person it quotes",
     {.area_kind = AreaKind::News, .to = "", .newsgroup = "comp.misc.tw", .quoted = "Bob Brown"},
     {MessageKind::News, "TW.TALK", {2, 280, 464, 1}, kGate, "Bob Brown", "hello"}},
    {"news of an unmapped group keeps its name, upper case",
     {.area_kind = AreaKind::News, .to = "", .newsgroup = "alt.Folklore"},
     {MessageKind::News, "ALT.FOLKLORE", {2, 280, 464, 1}, kGate, "All", "hello"}},
    {"news of a group mapped for export only is refused",
     {.area_kind = AreaKind::News, .to = "", .newsgroup = "comp.outbound"},
     {MessageKind::News, "TW.OUT", {2, 280, 464, 1}, kGate, "All", "hello", -1, false, -1, -1, ListCommand::None,
      false, JunkKind::ImpExp}},
};

class ImportDecisionTest : public twtest::SiteFixture {
protected:
    void SetUp() override {
        SiteFixture::SetUp();
        dir.write("tw.lst", "ListName TW List\nListAddress tw-l@lists.tarnwick.example.org\nListArea TW.LIST\n");
        ASSERT_EQ(configure(kSite), "");
    }

    // The current message as the scan pass and the name defaults leave it.
    static void scanned(const Header& h) {
        reset_message();
        CurrentMessage& m = message();
        m.area_kind = h.area_kind;
        m.sender_address = h.from;
        m.sender_name = h.from_name;
        m.recipient_address = h.to;
        m.recipient_name = *h.to_name ? h.to_name : h.to;
        m.reply_address = m.sender_address;
        m.reply_name = m.sender_name;
        m.subject = h.subject;
        m.newsgroup = h.newsgroup;
        m.password = h.password;
        m.quoted_name = h.quoted;
    }
};

TEST_F(ImportDecisionTest, Table) {
    for (const Case& t : kCases) {
        SCOPED_TRACE(t.what);
        scanned(t.in);
        const CurrentMessage before = message();
        ImportDecision d = decide_import(message(), config());
        const Expected& e = t.out;
        EXPECT_EQ(d.kind, e.kind);
        EXPECT_EQ(d.area_name.view(), e.area);
        EXPECT_EQ(d.destination, e.destination);
        EXPECT_EQ(d.origin, e.origin);
        EXPECT_EQ(d.recipient_name.view(), e.recipient_name);
        EXPECT_EQ(d.subject.view(), e.subject);
        EXPECT_EQ(d.route, e.route);
        EXPECT_EQ(d.bad_route_password, e.bad_password);
        EXPECT_EQ(d.mailing_list, e.mailing_list);
        EXPECT_EQ(d.hosted_list, e.hosted_list);
        EXPECT_EQ(d.command, e.command);
        EXPECT_EQ(d.ignore_text, e.ignore_text);
        EXPECT_EQ(d.junk, e.junk);
        EXPECT_EQ(d.truncate_start, e.truncate);
        // Deciding changes nothing.
        EXPECT_EQ(std::memcmp(&before, &message(), sizeof before), 0);
    }
}

}  // namespace

// Import classification and conversion rules, seen in the packets written.
#include "cli/cli.h"
#include "support/packet_builder.h"
#include "support/soup_builder.h"

using namespace twtest;

namespace {

using Message = FtnMessage;

class Classify : public CliTest {
protected:
    // Imports the messages as one mail or news area and returns what the
    // packets hold.
    std::vector<Message> import(const std::string& extra_config, const std::vector<std::string>& msgs,
                                bool news = false, const std::vector<std::string>& args = {}) {
        write_config(extra_config);
        SoupBuilder soup(dir, "soup");
        soup.area("A", news ? "comp.misc.tw" : "Email", news ? "un" : "mn", news ? rnews(msgs) : mbox(msgs));
        std::vector<std::string> a{"import"};
        a.insert(a.end(), args.begin(), args.end());
        last = run(a);
        return parse_packets_in(dir, "in");
    }
    RunResult last;
};

const char* kTwoUsers = "AddrMap 2:280/1.2 jane@example.com Jane Doe\nAddrMap 2:280/1.3 pat@example.com Pat\n";

TEST_F(Classify, DestinationByAddressAndName) {
    auto m = import(kTwoUsers,
                    {"From: a@b.example\nTo: Stranger <who@nowhere.example>\nSubject: one\n\nx\n",
                     "From: a@b.example\nTo: joe@example.com\nCc: pat@example.com\nSubject: two\n\nx\n",
                     "From: a@b.example\nTo: joe@example.com\nSubject: three\n\nx\n",
                     "From: a@b.example\nTo: \"Jane Doe\" <elsewhere@x.example>\nSubject: four\n\nx\n"});
    ASSERT_EQ(m.size(), 4u);
    // Unknown: the first entry's address, the name from To:.
    EXPECT_EQ(m[0].to, "Stranger");
    EXPECT_NE(m[0].text.find("\x01TOPT 1\r"), std::string::npos);
    // The first entry names the recipient; the later one in Cc: is the destination.
    EXPECT_EQ(m[1].to, "Joe Sysop");
    EXPECT_NE(m[1].text.find("\x01TOPT 3\r"), std::string::npos);
    EXPECT_EQ(m[2].to, "Joe Sysop");
    EXPECT_NE(m[2].text.find("\x01TOPT 1\r"), std::string::npos);
    // A name match selects the entry too.
    EXPECT_NE(m[3].text.find("\x01TOPT 2\r"), std::string::npos);
    EXPECT_EQ(m[0].attribute, 1u);  // private netmail
}

TEST_F(Classify, DefaultsForMissingHeaders) {
    auto m = import("", {"Subject: bare\n\nx\n"});
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].from, "anonymous");
    EXPECT_EQ(m[0].to, "unknown");
    EXPECT_NE(m[0].text.find("\x01REPLYADDR anonymous\r"), std::string::npos);
}

TEST_F(Classify, FtnStyleDomainsAndRoutes) {
    auto m = import("TransFidoOrg Yes\nRoute 2:999/9 John.Doe@p3.f4.n5.z2.fidonet.org pw\n",
                    {"From: John.Doe@p3.f4.n5.z2.fidonet.org\nTo: joe@example.com\nX-MailPassword: pw\n"
                     "Subject: fido\n\nx\n",
                     "From: John.Doe@p3.f4.n5.z2.fidonet.org\nTo: joe@example.com\nX-MailPassword: wrong\n"
                     "Subject: bad pw\n\nx\n"});
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].from, "John Doe");
    // The domain labels win over the route's address.
    EXPECT_EQ(m[0].orig.net, 5u);
    EXPECT_EQ(m[0].orig.node, 4u);
    EXPECT_NE(m[0].text.find("\x01INTL 2:280/1 2:5/4\r\x01" "FMPT 3\r"), std::string::npos) << m[0].text;
    // Routed senders get no REPLYADDR/REPLYTO.
    EXPECT_EQ(m[0].text.find("REPLYADDR"), std::string::npos);
    EXPECT_EQ(m[0].text.find("X-MailPassword"), std::string::npos);
    EXPECT_NE(last.err.find("! Incorrect password for node 2:999/9\n"), std::string::npos);
    EXPECT_NE(m[1].text.find("*** Incorrect Tarnwick Route-password for node 2:999/9 ***\r\r"), std::string::npos);
}

TEST_F(Classify, CharsetMapping) {
    auto m = import("CharSetMap LATIN-1#2 iso-8859-1\n",
                    {"From: a@b\nTo: joe@example.com\nSubject: plain\nContent-Type: text/plain; charset=iso-8859-1\n\nx\n",
                     "From: a@b\nTo: joe@example.com\nSubject: quoted\nContent-Type: text/plain; "
                     "charset=\"iso-8859-1\"\n\nx\n"});
    ASSERT_EQ(m.size(), 2u);
    EXPECT_NE(m[0].text.find("\x01" "CHRS: LATIN-1 2\r"), std::string::npos);
    EXPECT_EQ(m[1].text.find("CHRS"), std::string::npos);
}

TEST_F(Classify, MailingListArea) {
    auto m = import("MailingList TW.LIST list@lists.example [tw] TRUNCATE=--- cut ;SUBJ:[tw] \n"
                    "MailingListOption TW.LIST truncend=--- end\n",
                    {"From: member@x.example\nTo: list@lists.example\nSubject: [tw] hello\n\n"
                     "Text\n--- cut\nfooter\n--- end\nafter\n"});
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].subject, "hello");
    EXPECT_EQ(m[0].to, "All");
    EXPECT_EQ(m[0].text.substr(0, 13), "AREA:TW.LIST\r");
    EXPECT_NE(m[0].text.find("\rText\rafter\r"), std::string::npos) << m[0].text;
    EXPECT_NE(m[0].text.find("SEEN-BY: 280/1\r"), std::string::npos);
    EXPECT_NE(last.err.find("lists: 1 "), std::string::npos);
}

TEST_F(Classify, IgnoredText) {
    auto m = import("IgnoreMessageText *noise@x.example\nIgnoreMessageText Daily digest\n",
                    {"From: noise@x.example\nTo: joe@example.com\nSubject: s\n\nx\n",
                     "From: a@x.example\nTo: joe@example.com\nSubject: The DAILY DIGEST of today\n\nx\n",
                     "From: a@noise@x.example\nTo: joe@example.com\nSubject: kept\n\nx\n"});
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].subject, "kept");
    EXPECT_NE(last.err.find("ign/txt: 2 "), std::string::npos) << last.err;
}

TEST_F(Classify, HeaderInfoLinesAndNames) {
    auto m = import("HeaderInfo Email Yes\n", {"From: Ann <ann@x.example>\nTo: Joe <joe@example.com>\nSubject: s\n\nbody\n",
                                               "From: Ann <ann@x.example>\nTo: joe@example.com\nSubject: s2\n\n"
                                               "From: someone quoted\nbody\n"});
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].from, "ann@x.example");
    EXPECT_EQ(m[0].to, "joe@example.com");
    EXPECT_NE(m[0].text.find("\rFrom: Ann\rTo: Joe\r\rbody\r"), std::string::npos) << m[0].text;
    // A body that starts with a From: line gets no HeaderInfo lines.
    EXPECT_NE(m[1].text.find("\rFrom: someone quoted\rbody\r"), std::string::npos);
    EXPECT_EQ(m[1].text.find("From: Ann\r"), std::string::npos);
}

TEST_F(Classify, NewsStripsSomeKludgesAndMapsAreas) {
    auto m = import("StripKludges Some News\nAreaMap TW.TALK comp.misc.tw\n",
                    {"Path: a!b\nFrom: w@x\nNewsgroups: comp.misc.tw\nSubject: n\nReferences: <r@x>\n"
                     "Message-ID: <m@x>\nReceived: by x\n\nArticle\n"},
                    true);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].text.substr(0, 13), "AREA:TW.TALK\r");
    EXPECT_EQ(m[0].text.find("\x01Path:"), std::string::npos);
    EXPECT_EQ(m[0].text.find("\x01References:"), std::string::npos);
    EXPECT_EQ(m[0].text.find("\x01Received:"), std::string::npos);
    EXPECT_NE(m[0].text.find("\x01Message-ID: <m@x>\r"), std::string::npos);
    EXPECT_EQ(m[0].attribute, 0u);
}

TEST_F(Classify, BodiesQuotedPrintableAndMime) {
    auto m = import("StripKludges Yes\n",
                    {"From: a@b\nTo: joe@example.com\nSubject: nobody\n",
                     "From: a@b\nTo: joe@example.com\nSubject: qp\nContent-Transfer-Encoding: quoted-printable\n\n"
                     "caf=E9 and a soft=\nbreak, =3D kept, =00 nul\n",
                     "From: a@b\nTo: joe@example.com\nSubject: mime\nContent-Type: multipart/mixed; boundary=\"BB\"\n\n"
                     "preamble\n--BB\nContent-Type: text/plain\n\npart one\n--BB--\nafter the end\n"});
    ASSERT_EQ(m.size(), 3u);
    // No empty line: header lines only, and those are stripped.
    EXPECT_EQ(m[0].text.find("\r\r--- "), m[0].text.find("--- ") - 2);
    EXPECT_NE(m[1].text.find("caf\xE9 and a softbreak, = kept,   nul\r"), std::string::npos) << m[1].text;
    EXPECT_NE(m[2].text.find("preamble\r"), std::string::npos);
    EXPECT_NE(m[2].text.find("part one\r"), std::string::npos);
    EXPECT_EQ(m[2].text.find("after the end"), std::string::npos);
}

TEST_F(Classify, PartsCountedForTheKindThatIsWritten) {
    // E-mail keeps its header lines, list mail drops them: the parts are
    // those of list mail.
    std::string msg = "From: member@x.example\nTo: list@lists.example\nSubject: [tw] long\n";
    for (int i = 0; i < 30; ++i) msg += "X-Filler-" + std::to_string(i) + ": " + std::string(60, 'h') + "\n";
    msg += "\n";
    for (int i = 0; i < 30; ++i) msg += "Body line " + std::to_string(i) + " " + std::string(40, 'b') + "\n";
    auto m = import("ImportLimit 2048\nStripKludges No Email\nStripKludges Yes List\n"
                    "MailingList TW.LIST list@lists.example [tw]\n",
                    {msg});
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].subject, "[tw] long (1/2)");
    EXPECT_EQ(m[1].subject, "[tw] long (2/2)");
    EXPECT_EQ(m[0].text.find("X-Filler"), std::string::npos);
}

TEST_F(Classify, VerboseLine) {
    import("", {"From: Ann <ann@x.example>\nTo: joe@example.com\nCc: c@x\nSubject: s\n\nx\n"}, false, {"/v"});
    EXPECT_NE(last.err.find("\r- from ann@x.example (Ann) to joe@example.com (Joe Sysop) et al.\n"), std::string::npos)
        << last.err;
}

}  // namespace

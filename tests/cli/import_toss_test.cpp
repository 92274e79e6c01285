// A real tosser takes what an import wrote: crashmail tosses the packets
// into *.MSG netmail and echomail directories. Skipped without crashmail.
#include <unistd.h>

#include <cstdlib>
#include <map>

#include "cli/cli.h"
#include "support/soup_builder.h"
#include "support/stored_msg.h"

using namespace twtest;

namespace {

class ImportToss : public CliTest {};

TEST_F(ImportToss, CrashmailTossesEveryImportedPacket) {
    std::string crashmail = find_program("crashmail");
    if (crashmail.empty()) GTEST_SKIP() << "SKIPPED: crashmail is not installed (Debian package crashmail)";

    dir.write("tarnwick.cfg",
              "FidoAddr 2:280/1\n"
              "AddrMap 2:280/100 sysop@example.com Sam Sysop\n"
              "AddrMap 2:280/100.7 pointy@example.com Pat Point\n"
              "AreaMap TW.TALK comp.misc.tw\n"
              "AreaMap TW.JUNK tw.junk export\n"
              "MailerType Binkley\nInboundDir in/\nOutboundDir out/\nSoupDir soup/\nTempDir tmp/\n"
              "PacketPwd tossme\nImportLimit 2048\nStripKludges Some\n");
    std::string longbody;
    for (int i = 0; i < 60; ++i) longbody += "Paragraph line " + std::to_string(i) + " of a message too long for one part\n";
    SoupBuilder soup(dir, "soup");
    soup.area("MAIL", "Email", "mn",
              mbox({"From: Ann Writer <ann@net.example>\nTo: sysop@example.com\nSubject: First mail\n"
                    "Date: Mon, 07 Dec 2026 11:22:33 +0000\nMessage-ID: <mail1@net.example>\n\nHello Sam.\n",
                    "From: bob@net.example\nTo: Pat Point <pointy@example.com>\nSubject: Second mail\n"
                    "Date: Mon, 07 Dec 2026 12:00:00 +0000\nMessage-ID: <mail2@net.example>\n\n" + longbody}));
    soup.area("NEWS", "comp.misc.tw", "un",
              rnews({"From: poster@news.example (Poster)\nNewsgroups: comp.misc.tw\nSubject: News one\n"
                     "Date: 6 Dec 2026 08:00:00 GMT\nMessage-ID: <news1@news.example>\n\nFirst article.\n",
                     "From: other@news.example\nNewsgroups: comp.misc.tw\nSubject: News two\n"
                     "Date: 6 Dec 2026 09:00:00 GMT\nMessage-ID: <news2@news.example>\n\nSecond article.\n"}));
    soup.area("JUNK", "tw.junk", "Bn",
              binary({"From: x@spam.example\nNewsgroups: tw.junk\nSubject: Junk post\n"
                      "Date: 6 Dec 2026 09:00:00 GMT\nMessage-ID: <j1@spam.example>\n\nBuy.\n"}));
    RunResult r = run({"import"});
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(dir.list("in").size(), 3u);

    std::string root = dir.root();
    for (const char* d : {"net", "talk", "junk", "bad", "ctmp", "cout"}) dir.mkdir(d);
    dir.write("cm.prefs",
              "SYSOP \"Test Sysop\"\nLOGFILE \"" + root + "/cm.log\"\nLOGLEVEL 6\n"
              "INBOUND \"" + root + "/in\"\nOUTBOUND \"" + root + "/cout\"\n"
              "TEMPDIR \"" + root + "/ctmp\"\nCREATEPKTDIR \"" + root + "/ctmp\"\n"
              "PACKETDIR \"" + root + "/cout\"\nSTATSFILE \"" + root + "/cm.stats\"\n"
              "DUPEFILE \"" + root + "/cm.dupes\" 200\nDUPEMODE BAD\n"
              "DEFAULTZONE 2\nAKA 2:280/100\nDOMAIN \"FidoNet\"\nAKA 2:280/100.7\nDOMAIN \"FidoNet\"\n"
              "NODE 2:280/1 \"\" \"TOSSME\"\n"
              "NETMAIL \"NETMAIL\" 2:280/100 MSG \"" + root + "/net\"\n"
              "AREA \"BAD\" 2:280/100 MSG \"" + root + "/bad\"\n"
              "AREA \"TW.TALK\" 2:280/100 MSG \"" + root + "/talk\"\nEXPORT 2:280/1\n"
              "AREA \"TW.JUNK\" 2:280/100 MSG \"" + root + "/junk\"\nEXPORT 2:280/1\n");
    RunResult t = run_process({crashmail, "SETTINGS", dir.path("cm.prefs"), "TOSS"}, root);
    std::string log = dir.read("cm.log");
    ASSERT_EQ(t.code, 0) << t.out << t.err;
    EXPECT_TRUE(dir.list("in").empty()) << log;
    EXPECT_TRUE(dir.list("bad").empty()) << log;

    auto net = stored_area(dir, "net");
    auto talk = stored_area(dir, "talk");
    auto junk = stored_area(dir, "junk");
    // One mail, and the parts of the other (1536 bytes a part after the
    // lowering of the limit: three parts).
    EXPECT_EQ(net.size(), 4u) << log;
    EXPECT_EQ(talk.size(), 2u) << log;
    EXPECT_EQ(junk.size(), 1u) << log;

    const StoredMsg& first = net["First mail"];
    EXPECT_EQ(first.from, "Ann Writer");
    EXPECT_EQ(first.to, "Sam Sysop");
    EXPECT_EQ(first.date, "07 Dec 26  11:22:33");
    EXPECT_NE(first.text.find("\x01INTL 2:280/100 2:280/1\r"), std::string::npos) << first.text;
    EXPECT_NE(first.text.find("\x01REPLYADDR ann@net.example\r"), std::string::npos);
    EXPECT_NE(first.text.find("Hello Sam.\r\r--- Tarnwick-DOS v1.05\r"), std::string::npos);

    for (const char* part : {"Second mail (1/3)", "Second mail (2/3)", "Second mail (3/3)"})
        ASSERT_TRUE(net.count(part)) << part;
    const StoredMsg& part2 = net["Second mail (2/3)"];
    EXPECT_EQ(part2.from, "bob@net.example");
    EXPECT_EQ(part2.to, "Pat Point");
    EXPECT_NE(part2.text.find("\x01TOPT 7\r"), std::string::npos) << part2.text;
    EXPECT_NE(part2.text.find("[continued from previous message]\r\rParagraph line"), std::string::npos);

    const StoredMsg& news = talk["News one"];
    EXPECT_EQ(news.from, "Poster");
    EXPECT_EQ(news.to, "All");
    EXPECT_NE(news.text.find("First article.\r"), std::string::npos);
    EXPECT_NE(news.text.find(" * Origin: poster@news.example (2:280/1)\r"), std::string::npos);

    const StoredMsg& j = junk["Junk post"];
    EXPECT_NE(j.text.find("\x01JUNKMAIL: imp/exp\r"), std::string::npos) << j.text;
}

}  // namespace

// The export against the world around it: crashmail writes the outbound,
// the reply packet goes back through the import, a peer sends broken
// packets, and the reply packet's disk refuses to take more.
#include <algorithm>
#include <cstdio>

#include "cli/cli.h"
#include "support/soup_builder.h"
#include "support/packet_builder.h"

using namespace twtest;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> lines_of(const std::string& text, char end) {
    std::vector<std::string> out;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t e = text.find(end, at);
        if (e == std::string::npos) e = text.size();
        out.push_back(text.substr(at, e - at));
        at = e + 1;
    }
    return out;
}

class ExportPeer : public CliTest {
protected:
    // The gateway 2:280/1 serves the points of 2:280/100 and the echo TW.TALK.
    void SetUp() override {
        CliTest::SetUp();
        write_config("AddrMap 2:280/100 sam@example.org Sam Sysop\nAddrMap 2:280/100.7 ann@example.org Ann Point\n"
                     "AreaMap TW.TALK comp.misc.tw\nSeparateMSG No\nTimeZone +0100\n");
    }

    // Every message of the reply packet must parse with Python's email
    // package; returns the decoded text bodies (none without Python).
    std::vector<std::string> python_bodies() {
        std::string python = find_program("python3");
        if (python.empty()) return {};
        RunResult r = run_process({python, std::string(TW_SOURCE_DIR) + "/tests/cli/check_replies.py", "soup"},
                                  dir.root());
        EXPECT_EQ(r.code, 0) << r.err;
        std::vector<std::string> bodies;
        for (std::size_t at = 0, nul; (nul = r.out.find('\0', at)) != std::string::npos; at = nul + 1) {
            std::string part = r.out.substr(at, nul - at);
            bodies.push_back(part.substr(part.find('\n') + 1));
        }
        return bodies;
    }

    static PacketBuilder from_ann() { return PacketBuilder({2, 280, 100, 7}, {2, 280, 1, 0}); }
};

TEST_F(ExportPeer, CrashmailTossesAndScansForTheGatewayAndEverythingIsExported) {
    std::string crashmail = find_program("crashmail"), crashwrite = find_program("crashwrite");
    if (crashmail.empty() || crashwrite.empty())
        GTEST_SKIP() << "SKIPPED: crashmail is not installed (Debian package crashmail)";
    const std::string root = dir.root();
    for (const char* d : {"cin", "ctmp", "net", "talk", "bad", "wr"}) dir.mkdir(d);
    // The tosser at 2:280/100 routes netmail for 2:280/1 there and feeds it TW.TALK.
    dir.write("cm.prefs", "SYSOP \"Test Sysop\"\nLOGFILE \"" + root + "/cm.log\"\nLOGLEVEL 6\n"
                          "INBOUND \"" + root + "/cin\"\nOUTBOUND \"" + root + "/out\"\n"
                          "TEMPDIR \"" + root + "/ctmp\"\nCREATEPKTDIR \"" + root + "/ctmp\"\n"
                          "PACKETDIR \"" + root + "/out\"\nSTATSFILE \"" + root + "/cm.stats\"\n"
                          "DUPEFILE \"" + root + "/cm.dupes\" 200\nDUPEMODE BAD\nDEFAULTZONE 2\n"
                          "AKA 2:280/100\nDOMAIN \"FidoNet\"\nNODE 2:280/1 \"\" \"\"\n"
                          "ROUTE \"2:280/1\" \"2:280/1\" 2:280/100\n"
                          "NETMAIL \"NETMAIL\" 2:280/100 MSG \"" + root + "/net\"\n"
                          "AREA \"BAD\" 2:280/100 MSG \"" + root + "/bad\"\n"
                          "AREA \"TW.TALK\" 2:280/100 MSG \"" + root + "/talk\"\nEXPORT 2:280/1\n");
    dir.write("netmail.txt", "To: nina@example.net\nCopy: bob@example.com\n\nHello from FTN to the Internet.\n");
    dir.write("echo.txt", "An echomail for the newsgroup.\nSecond line.\n");
    RunResult w = run_process({crashwrite, "DIR", "wr", "FROMNAME", "Ann Point", "FROMADDR", "2:280/100.7", "TONAME",
                               "UUCP", "TOADDR", "2:280/1", "SUBJECT", "To the net", "TEXT", "netmail.txt",
                               "PKTTOADDR", "2:280/100"},
                              root);
    ASSERT_EQ(w.code, 0) << w.out << w.err;
    w = run_process({crashwrite, "DIR", "wr", "FROMNAME", "Sam Sysop", "FROMADDR", "2:280/100", "AREA", "TW.TALK",
                     "SUBJECT", "Tossed echo", "TEXT", "echo.txt", "ORIGIN", "Crash test node"},
                    root);
    ASSERT_EQ(w.code, 0) << w.out << w.err;
    RunResult t = run_process({crashmail, "SETTINGS", "cm.prefs", "TOSSDIR", "wr", "NOSECURITY"}, root);
    ASSERT_EQ(t.code, 0) << t.out << dir.read("cm.log");
    // A message written on the node itself, found by the scan.
    std::string hdr(190, '\0');
    auto put = [&](std::size_t at, const std::string& s) { hdr.replace(at, s.size(), s); };
    put(0, "Sam Sysop");
    put(36, "All");
    put(72, "Scanned echo");
    put(144, "08 Dec 26  10:00:00");
    hdr[172] = char(280 & 0xFF), hdr[173] = char(280 >> 8), hdr[168] = 100, hdr[187] = 0x01;  // net, node, Local
    dir.write("talk/9.msg", hdr + "Written on the node and scanned out.\r--- editor\r * Origin: node (2:280/100)\r" +
                                std::string(1, '\0'));
    t = run_process({crashmail, "SETTINGS", "cm.prefs", "SCAN"}, root);
    ASSERT_EQ(t.code, 0) << t.out << dir.read("cm.log");
    // The netmail in the mail packet, the echomail in packets a flow file names.
    ASSERT_TRUE(dir.exists("out/01180001.out")) << dir.read("cm.log");
    ASSERT_TRUE(dir.exists("out/01180001.flo")) << dir.read("cm.log");

    // Whatever crashmail left there, all of it is exported (its scan may
    // bundle the scanned echo with the tossed one or not).
    std::size_t waiting = 0;
    for (const std::string& f : dir.list("out"))
        if (!f.ends_with(".flo")) waiting += parse_packet(dir.read("out/" + f)).size();
    ASSERT_GE(waiting, 2u);

    RunResult r = run({"export"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "-> " + std::to_string(waiting) + " messages exported\nmail: 1 ")) << r.err;
    EXPECT_TRUE(dir.list("out").empty()) << r.err;
    std::vector<std::string> m = reply_messages(dir, "soup");
    ASSERT_EQ(m.size(), waiting) << r.err;
    EXPECT_TRUE(m[0].starts_with("To: nina@example.net\nCc: bob@example.com\nFrom: ann@example.org (Ann Point)\n"))
        << m[0];
    EXPECT_TRUE(contains(m[0], "\n\nHello from FTN to the Internet.\n")) << m[0];
    for (std::size_t i = 1; i < m.size(); ++i) {
        EXPECT_TRUE(m[i].starts_with("Newsgroups: comp.misc.tw\nFrom: sam@example.org (Sam Sysop)\n")) << m[i];
        EXPECT_FALSE(contains(m[i], "SEEN-BY") || contains(m[i], "Origin:")) << m[i];
    }
    std::vector<std::string> bodies = python_bodies();
    if (!bodies.empty()) {
        ASSERT_EQ(bodies.size(), waiting);
        std::string all;
        for (const std::string& b : bodies) all += b;
        EXPECT_TRUE(contains(all, "An echomail for the newsgroup.\nSecond line.\n"));
    }
}

TEST_F(ExportPeer, ExportedMailAndNewsComeBackThroughTheImport) {
    dir.mkdir("pk");
    const std::vector<std::string> mail_text{"Dear Joe,", "", "this goes out and comes back again.", "Ann"};
    const std::vector<std::string> news_text{"A posting to the echo,", "and its second line."};
    dir.write("pk/a.pkt", from_ann()
                              .netmail("Ann Point", "UUCP", "There and back",
                                       ftn_text({"To: joe@example.com", "", mail_text[0], mail_text[1],
                                                 mail_text[2], mail_text[3]}))
                              .echomail("TW.TALK", "Ann Point", "Echo round trip",
                                        ftn_text({news_text[0], news_text[1], "--- peer", " * Origin: a (2:280/100)"}))
                              .bytes());
    RunResult r = run({"export", "/pkt=pk/"});
    ASSERT_EQ(r.code, 0) << r.err;
    // The reply packet, framed as a SOUP input: REPLIES lines become AREAS lines.
    std::string areas;
    for (const std::string& line : lines_of(dir.read("soup/REPLIES"), '\n')) {
        std::vector<std::string> f = lines_of(line, '\t');
        ASSERT_EQ(f.size(), 3u) << line;
        areas += f[0] + "\t" + (f[1] == "news" ? "comp.misc.tw" : "Email") + "\t" + f[2] + "\n";
    }
    dir.write("soup/AREAS", areas);
    std::remove(dir.path("soup/REPLIES").c_str());
    r = run({"import"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<FtnMessage> back;
    for (const std::string& p : dir.list("in"))
        for (const FtnMessage& m : parse_packet(dir.read("in/" + p))) back.push_back(m);
    ASSERT_EQ(back.size(), 2u) << r.err;
    std::sort(back.begin(), back.end(), [](const FtnMessage& a, const FtnMessage& b) { return a.subject > b.subject; });
    EXPECT_EQ(back[0].subject, "There and back");
    EXPECT_EQ(back[0].to, "Joe Sysop");
    EXPECT_EQ(back[1].subject, "Echo round trip");
    EXPECT_TRUE(back[1].text.starts_with("AREA:TW.TALK\r")) << back[1].text;
    for (int i = 0; i < 2; ++i) {
        std::vector<std::string> got = lines_of(back[i].text, '\r');
        for (const std::string& line : i == 0 ? mail_text : news_text)
            EXPECT_NE(std::find(got.begin(), got.end(), line), got.end()) << line << "\n" << back[i].text;
    }
}

TEST_F(ExportPeer, BrokenPacketsFromAPeerLoseNoMailAndAreNotTakenTwice) {
    dir.mkdir("pk");
    PacketBuilder good = from_ann();
    for (int i = 0; i < 3; ++i)
        good.netmail("Ann Point", "UUCP", "Whole " + std::to_string(i), ftn_text({"To: x@example.net", "", "text"}));
    const std::string whole = good.bytes();
    std::vector<std::size_t> ends;  // after each message
    for (std::size_t p = 58; p + 2 < whole.size();) {
        for (int s = 0; s < 5; ++s) p = whole.find('\0', s == 0 ? p + 14 : p) + 1;
        ends.push_back(p);
    }
    ASSERT_EQ(ends.size(), 3u);
    // Cuts inside the first, second and third message, and one of its NUL.
    long expected = 0;
    for (std::size_t cut : {ends[0] - 30, ends[1] - 3, ends[2] - 1}) {
        dir.write("pk/cut" + std::to_string(cut) + ".pkt", whole.substr(0, cut));
        expected += std::count_if(ends.begin(), ends.end(), [&](std::size_t e) { return e <= cut; });
    }
    // Random bytes after a good header, and random bytes with no header at all.
    dir.write("pk/random.pkt", packet_header({2, 280, 100, 7}, {2, 280, 1, 0}) + random_bytes(65536, 3));
    dir.write("pk/noise.pkt", random_bytes(4096, 4));
    // Whole but outsized messages: a 1 MB line, 10,000 To: lines, a 100 KB
    // kludge, dates that cannot be.
    std::string many_to;
    for (int i = 0; i < 10000; ++i) many_to += "To: r" + std::to_string(i) + "@example.net\r";
    PacketBuilder big = from_ann();
    big.netmail("Ann Point", "UUCP", "Long line", ftn_text({"To: a@example.net", "", std::string(1 << 20, 'x')}));
    big.netmail("Ann Point", "UUCP", "Many recipients", many_to + "\rbody\r");
    big.netmail("Ann Point", "UUCP", "Huge kludge",
                ftn_text({"\x01X-HUGE: " + std::string(100 * 1024, 'k'), "To: a@example.net", "", "body"}));
    for (const char* date : {"99 Foo 99  99:99:99", "", "31 Feb 26  25:61:61", "\xff\xfe garbage date"}) {
        FtnMessage m;
        m.orig = {2, 280, 100, 7};
        m.dest = {2, 280, 1, 0};
        m.date = date;
        m.to = "UUCP";
        m.from = "Ann Point";
        m.subject = "Odd date";
        m.text = ftn_text({"To: a@example.net", "", "dated oddly"});
        big.add(m);
    }
    dir.write("pk/big.pkt", big.bytes());
    expected += 7;

    RunResult r = run({"export", "/pkt=pk/"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "-> " + std::to_string(expected) + " messages exported\n")) << r.err;
    EXPECT_EQ(reply_messages(dir, "soup").size(), std::size_t(expected));
    EXPECT_TRUE(contains(r.err, "! To/Copy-limit exceeded in msg from 2:280/100.7 (Ann Point)\n")) << r.err;
    // Every damaged packet is kept under a name no run takes again, and
    // said so; the packet that is no packet stays as it was.
    std::vector<std::string> left = dir.list("pk");
    EXPECT_EQ(left.size(), 5u);
    for (const std::string& name : left) {
        if (name == "noise.pkt") continue;
        EXPECT_TRUE(name.ends_with(".bad")) << name;
        EXPECT_TRUE(contains(r.err, "! pk/" + name.substr(0, name.size() - 4) + ".pkt is damaged at byte ")) << r.err;
    }
    EXPECT_FALSE(python_bodies().empty() && !find_program("python3").empty());

    for (const std::string& f : dir.list("soup")) std::remove(dir.path("soup/" + f).c_str());
    r = run({"export", "/pkt=pk/"});
    EXPECT_TRUE(contains(r.err, "No outbound messages found. Nothing to do.\n")) << r.err;
    EXPECT_EQ(dir.list("pk"), left);
}

TEST_F(ExportPeer, AReplyPacketThatCannotBeWrittenKeepsTheMailForTheNextRun) {
    std::string sh = find_program("sh");
    ASSERT_FALSE(sh.empty());
    dir.mkdir("pk");
    dir.mkdir("inb");
    // 8-bit text triples in quoted-printable, so the reply file fills up
    // while the rest of the packet still fits beside it.
    PacketBuilder three = from_ann();
    for (int i = 1; i <= 3; ++i)
        three.netmail("Ann Point", "UUCP", "Message " + std::to_string(i),
                      ftn_text({"To: x@example.net", "", std::string(1000, char(0xE0 + i))}));
    dir.write("pk/three.pkt", three.bytes());
    // Files may grow to 5 KB: the first message fits, the second does not.
    auto limited = [&](const std::string& blocks, const std::string& args) {
        return run_process({sh, "-c", "trap '' XFSZ; ulimit -f " + blocks + "; exec ./tarnwick " + args},
                           dir.root(), {{"TZ", std::nullopt}, {"TEMP", std::nullopt}});
    };
    RunResult r = limited("10", "export /pkt=pk/");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "! Can't write msg from 2:280/100.7 (Ann Point) to the reply packet")) << r.err;
    EXPECT_TRUE(contains(r.err, "! pk/three.pkt kept for the next run from its message 2 on\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "-> 1 messages exported\n")) << r.err;
    std::vector<FtnMessage> kept = parse_packet(dir.read("pk/three.pkt"));
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].subject, "Message 2");
    // The next run, with room, takes the rest: each message once in all.
    r = run({"export", "/pkt=pk/"});
    EXPECT_TRUE(contains(r.err, "-> 2 messages exported\n")) << r.err;
    EXPECT_TRUE(dir.list("pk").empty());
    std::vector<std::string> m = reply_messages(dir, "soup");
    ASSERT_EQ(m.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(contains(m[i], "Subject: Message " + std::to_string(i + 1) + "\n"));

    // In the outbound, no message fits at all: the mail packet, the
    // packet a flow file names and the flow file stay as they were.
    for (const std::string& f : dir.list("soup")) std::remove(dir.path("soup/" + f).c_str());
    auto packet = [&](const std::string& subject, char fill) {
        return from_ann()
            .netmail("Ann Point", "UUCP", subject, ftn_text({"To: l@x.net", "", std::string(600, fill)}))
            .bytes();
    };
    const std::string out_pkt = packet("Out", 'o'), listed = packet("Listed", 'l');
    const std::string flow = "^" + dir.path("inb/listed.pkt") + "\n";
    dir.write("out/01180001.out", out_pkt);
    dir.write("inb/listed.pkt", listed);
    dir.write("out/01180001.flo", flow);
    r = limited("1", "export");
    EXPECT_TRUE(contains(r.err, "! out/01180001.out kept for the next run\n")) << r.err << r.out;
    EXPECT_EQ(dir.read("out/01180001.out"), out_pkt);
    EXPECT_EQ(dir.read("inb/listed.pkt"), listed);
    EXPECT_EQ(dir.read("out/01180001.flo"), flow);
    r = run({"export"});
    EXPECT_TRUE(contains(r.err, "-> 2 messages exported\n")) << r.err;
    EXPECT_TRUE(dir.list("out").empty());
    EXPECT_TRUE(dir.list("inb").empty());
}

// Packets of a packet directory wait for one commit of the reply packet.
// When it fails, every message since the last commit is taken out of the
// reply file again, each reported, and each packet resumes at its first
// message taken out: a packet whose first message went out is cut there,
// one with none kept whole. The next run sends each message once.
TEST_F(ExportPeer, AFailedCommitKeepsEveryPacketFromItsFirstMessageNotOnTheDisk) {
    std::string sh = find_program("sh");
    ASSERT_FALSE(sh.empty());
    dir.mkdir("pk");
    auto packet = [&](const std::string& name, int first, int count) {
        PacketBuilder p = from_ann();
        for (int i = first; i < first + count; ++i)
            p.netmail("Ann Point", "UUCP", "Message " + std::to_string(i),
                      ftn_text({"To: x@example.net", "", std::string(1500, char('a' + i))}));
        dir.write("pk/" + name, p.bytes());
    };
    packet("a.pkt", 1, 3);
    packet("b.pkt", 4, 2);
    packet("c.pkt", 6, 2);
    // The first message, which names the file in REPLIES, is committed at
    // once; files may not grow beyond 5 KB, room for two messages.
    RunResult r = run_process({sh, "-c", "trap '' XFSZ; ulimit -f 10; exec ./tarnwick export /pkt=pk/ /verbose"},
                              dir.root(), {{"TZ", std::nullopt}, {"TEMP", std::nullopt}});
    ASSERT_EQ(r.code, 0) << r.err;
    std::size_t reported = 0;
    for (std::size_t at = 0; (at = r.err.find("! Can't write msg from 2:280/100.7 (Ann Point)", at)) != std::string::npos;
         ++at)
        ++reported;
    EXPECT_EQ(reported, 6u) << r.err;
    EXPECT_TRUE(contains(r.err, "! pk/a.pkt kept for the next run from its message 2 on\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "! pk/b.pkt kept for the next run\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "! pk/c.pkt kept for the next run\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "-> 1 messages exported\nmail: 1 ")) << r.err;
    EXPECT_EQ(reply_messages(dir, "soup").size(), 1u);
    EXPECT_EQ(parse_packet(dir.read("pk/a.pkt")).size(), 2u);
    EXPECT_EQ(parse_packet(dir.read("pk/b.pkt")).size(), 2u);

    r = run({"export", "/pkt=pk/"});
    EXPECT_TRUE(contains(r.err, "-> 6 messages exported\n")) << r.err;
    EXPECT_TRUE(dir.list("pk").empty());
    std::vector<std::string> m = reply_messages(dir, "soup");
    ASSERT_EQ(m.size(), 7u);
    for (int i = 0; i < 7; ++i) EXPECT_TRUE(contains(m[i], "Subject: Message " + std::to_string(i + 1) + "\n")) << i;
}

}  // namespace

// tarnwick-dump on what the gateway and its peers write: packets from the
// import and from crashwrite, damaged packets, stored messages, SOUP packets
// in every framing, and a Binkley outbound with zone and point directories.
// The tool must show each, say what is damaged, and change nothing.
#include <sys/stat.h>

#include <random>

#include "cli/cli.h"
#include "support/packet_builder.h"
#include "support/soup_builder.h"
#include "support/stored_msg.h"

using namespace twtest;

// The output holds the text (the whole output is shown when it does not).
#define EXPECT_SHOWS(out, text) EXPECT_NE((out).find(text), std::string::npos) << "wanted:\n" << (text) << "\nin:\n" << (out)

namespace {

class Dump : public CliTest {
protected:
    RunResult dump(std::vector<std::string> args) {
        args.insert(args.begin(), TW_DUMP);
        return run_process(args, dir.root());
    }

    // Every file below rel with its bytes and modification time.
    std::map<std::string, std::string> snapshot(const std::string& rel) {
        std::map<std::string, std::string> files;
        for (const std::string& name : dir.list(rel)) {
            std::string p = rel + "/" + name;
            struct stat st {};
            ::stat(dir.path(p).c_str(), &st);
            if (S_ISDIR(st.st_mode)) {
                for (auto& [k, v] : snapshot(p)) files[k] = v;
            } else {
                files[p] = dir.read(p) + "@" + std::to_string(st.st_mtim.tv_sec) + "." +
                           std::to_string(st.st_mtim.tv_nsec);
            }
        }
        return files;
    }

    // A stored message from 292/77 to 292/854.
    static std::string stored(const std::string& from, const std::string& to, const std::string& subject,
                              std::uint16_t attribute, const std::string& text) {
        return StoredMsg{from, to, subject, "09 Dec 26  10:11:12", 292, 77, 292, 854, attribute, text}.bytes();
    }
};

const char kMail[] =
    "From: Ann Writer <ann@net.example>\nTo: joe@example.com\nSubject: Dump me\n"
    "Date: Mon, 07 Dec 2026 11:22:33 +0000\nMessage-ID: <dump1@net.example>\n\nHello Joe.\n";
const char kNews[] =
    "From: poster@news.example (Poster)\nNewsgroups: comp.misc.tw\nSubject: News one\n"
    "Date: 6 Dec 2026 08:00:00 GMT\nMessage-ID: <news1@news.example>\n\nFirst article.\n";

TEST_F(Dump, PacketsTheImportWroteAndTheirDamage) {
    write_config("AreaMap TW.TALK comp.misc.tw\nPacketPwd dumpme\n");
    SoupBuilder soup(dir, "soup");
    soup.area("MAIL", "Email", "mn", mbox({kMail}));
    soup.area("NEWS", "comp.misc.tw", "un", rnews({kNews}));
    ASSERT_EQ(run({"import"}).code, 0);
    std::vector<std::string> pkts = dir.list("in");
    ASSERT_EQ(pkts.size(), 2u);
    auto before = snapshot("in");

    RunResult r = dump({"-c", "tarnwick.cfg", "in"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_SHOWS(r.out, ("== in/" + pkts[0] + ": FTN packet\npacket      Type 2+, from 2:280/1 to 2:280/1.1\n"));
    EXPECT_SHOWS(r.out, ("password    \"DUMPME\"\n"));
    EXPECT_SHOWS(r.out, ("for         neither the gateway nor a route: export leaves it alone\n"));
    EXPECT_SHOWS(r.out, ("-- message 1 at offset 58\n  from     Ann Writer, 280/1\n  to       Joe Sysop, 280/1\n"
                                 "  subject  Dump me\n  date     07 Dec 26  11:22:33\n  attr     0001 Private, cost 0\n"));
    EXPECT_SHOWS(r.out, ("  kludge   ^AMSGID: <dump1@net.example> "));
    EXPECT_SHOWS(r.out, ("  text     Hello Joe.\n"));
    EXPECT_SHOWS(r.out, ("  area     AREA:TW.TALK\n"));
    EXPECT_SHOWS(r.out, ("  text     First article.\n"));
    EXPECT_SHOWS(r.out, ("  tear     --- Tarnwick-DOS v1.05\n"));
    EXPECT_SHOWS(r.out, ("  seen-by  SEEN-BY: 280/1\n  path     ^APATH: 280/1\n"));
    EXPECT_SHOWS(r.out, ("end         terminator at offset "));
    r = dump({"--no-text", "in/" + pkts[0]});
    EXPECT_EQ(r.out.find("Hello Joe."), std::string::npos);
    EXPECT_SHOWS(r.out, ("text lines not shown)\n"));
    EXPECT_EQ(snapshot("in"), before);

    // Cut and spoiled copies: each says where it breaks, exit status 1.
    std::string good = dir.read("in/" + pkts[0]);
    std::size_t text_at = good.find("Hello Joe.");
    std::size_t subject_at = good.find("Dump me");
    ASSERT_NE(text_at, std::string::npos);
    struct Case {
        std::string bytes, says;
    } cases[] = {
        {good.substr(0, 40), "! truncated: 40 bytes, a packet header alone has 58\n"},
        {good.substr(0, 64), "! truncated inside the header of message 1\n"},
        {good.substr(0, subject_at + 3), "! truncated inside the subject field of message 1\n"},
        {good.substr(0, text_at + 5), "  text     Hello\n! truncated inside the text of message 1\n"},
        {good.substr(0, good.size() - 2), "! truncated: the packet ends at offset " +
                                               std::to_string(good.size() - 2) +
                                               " without its terminator, after 1 message\n"},
        {good.substr(0, good.size() - 2) + std::string("\x07\x00", 2), "! out of step at offset " + std::to_string(good.size() - 2) +
                                                            ": message type 0007"},
    };
    for (const Case& c : cases) {
        dir.write("bad.pkt", c.bytes);
        r = dump({"bad.pkt"});
        EXPECT_EQ(r.code, 1) << c.says;
        EXPECT_SHOWS(r.out, (c.says));
    }

    // Any bytes at all: shown, never a crash.
    std::mt19937 rng(17);
    for (int round = 0; round < 40; ++round) {
        std::string junk = good.substr(0, 58);
        std::size_t n = rng() % 3000;
        for (std::size_t i = 0; i < n; ++i) junk += char(rng() % 4 == 0 ? 2 : rng() & 0xff);
        junk[2 * (rng() % 29)] = char(rng());
        dir.write("junk.pkt", junk);
        r = dump({"junk.pkt"});
        EXPECT_TRUE(r.code == 0 || r.code == 1) << r.code << r.err;
    }
}

TEST_F(Dump, PacketsCrashwriteWroteForTheGatewayAndARoute) {
    std::string crashwrite = find_program("crashwrite");
    if (crashwrite.empty()) GTEST_SKIP() << "SKIPPED: crashwrite is not installed (Debian package crashmail)";
    write_config("Route 2:292/900 uucp@remote.example\n");
    dir.write("text.txt", "Hello gateway\nSecond line\n");
    dir.mkdir("pk");
    RunResult w = run_process({crashwrite, "DIR", dir.path("pk"), "FROMNAME", "Fred Fido", "FROMADDR", "2:292/77.3",
                                "TONAME", "UUCP", "TOADDR", "2:280/1", "SUBJECT", "To the Internet", "TEXT",
                                dir.path("text.txt"), "PASSWORD", "secret"},
                               dir.root());
    ASSERT_EQ(w.code, 0) << w.out;
    RunResult r = dump({"--config=tarnwick.cfg", "pk"});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_SHOWS(r.out, ("packet      Type 2+, from 2:292/77.3 to 2:280/1\n"));
    EXPECT_SHOWS(r.out, ("password    \"secret\"\n"));
    EXPECT_SHOWS(r.out, ("for         the gateway\n"));
    EXPECT_SHOWS(r.out, ("  from     Fred Fido, 292/77\n  to       UUCP, 280/1\n  subject  To the Internet\n"));
    EXPECT_SHOWS(r.out, ("  kludge   ^AFMPT 3\n"));
    EXPECT_SHOWS(r.out, ("  text     Hello gateway\n  text     Second line\n"));

    for (const std::string& old : dir.list("pk")) std::remove(dir.path("pk/" + old).c_str());
    w = run_process({crashwrite, "DIR", dir.path("pk"), "FROMNAME", "Eve Echo", "FROMADDR", "2:292/78", "TONAME", "All",
                     "SUBJECT", "Echo subject", "AREA", "FIDO.TEST", "ORIGIN", "Somewhere BBS", "TEXT",
                     dir.path("text.txt"), "PKTTOADDR", "2:292/900"},
                    dir.root());
    ASSERT_EQ(w.code, 0) << w.out;
    r = dump({"-c", "tarnwick.cfg", "pk"});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_SHOWS(r.out, ("for         a route\n"));
    EXPECT_SHOWS(r.out, ("  area     AREA:FIDO.TEST\n"));
    EXPECT_SHOWS(r.out, ("  origin    * Origin: Somewhere BBS (2:292/78.0)\n"));
}

TEST_F(Dump, StoredMessages) {
    dir.write("netmail/1.MSG", stored("Fred Fido", "UUCP", "Stored one", 0x0181,
                                      "\x01INTL 2:280/1 2:292/77\r\x01" "FMPT 3\rTo: joe@example.com\r\rBody \x1b[1m\r"));
    dir.write("netmail/2.msg", std::string(100, 'x'));
    RunResult r = dump({"netmail"});
    EXPECT_EQ(r.code, 1);
    EXPECT_SHOWS(r.out, ("== netmail/1.MSG: stored message\n  from     Fred Fido, 292/77\n  to       UUCP, 292/854\n"
                                 "  subject  Stored one\n  date     09 Dec 26  10:11:12\n"
                                 "  attr     0181 Private KillSent Local, cost 0\n"));
    EXPECT_SHOWS(r.out, ("  kludge   ^AINTL 2:280/1 2:292/77\n  kludge   ^AFMPT 3\n  text     To: joe@example.com\n"
                                 "  text\n  text     Body ^[[1m\n"));
    EXPECT_SHOWS(r.out, ("== netmail/2.msg: stored message\n! truncated: 100 bytes, a stored message header alone "
                                 "has 190\n"));
    // -m takes any name as a stored message; -p takes it as a packet.
    dir.write("odd.bin", stored("A", "B", "C", 0, "text\r"));
    EXPECT_SHOWS(dump({"-m", "odd.bin"}).out, "  subject  C\n");
    EXPECT_SHOWS(dump({"-p", "odd.bin"}).out, "! not a Type 2 packet");
}

TEST_F(Dump, SoupPacketsInEveryFraming) {
    SoupBuilder soup(dir, "soup");
    soup.area("M1", "Email", "mn", mbox({kMail, kMail}));
    soup.area("M2", "Email", "Mn", mmdf({kMail}));
    soup.area("N1", "comp.misc.tw", "un", rnews({kNews}));
    soup.area("N2", "comp.misc.tw", "Bn", binary({kNews, kNews, kNews}));
    dir.append("soup/AREAS", "no tabs here\nX1\tOdd\tzn\n");
    auto before = snapshot("soup");
    RunResult r = dump({"soup"});
    EXPECT_EQ(r.code, 1);  // two bad index lines
    EXPECT_SHOWS(r.out, ("line 1: M1^IEmail^Imn\n  area \"Email\", mail\n"));
    EXPECT_SHOWS(r.out, (", mailbox (From_ lines)\n  -- message 1: bytes "));
    EXPECT_SHOWS(r.out, ("    Subject: Dump me\n    Date: Mon, 07 Dec 2026 11:22:33 +0000\n"));
    EXPECT_SHOWS(r.out, (", MMDF (01h separators)\n"));
    EXPECT_SHOWS(r.out, (", rnews batch\n"));
    EXPECT_SHOWS(r.out, (", binary, length-prefixed news\n"));
    EXPECT_SHOWS(r.out, ("  2 messages\n"));
    EXPECT_SHOWS(r.out, ("  3 messages\n"));
    EXPECT_SHOWS(r.out, ("line 5: no tabs here\n  ! not an index line"));
    EXPECT_SHOWS(r.out, ("line 6: X1^IOdd^Izn\n  ! unknown message format"));
    EXPECT_EQ(snapshot("soup"), before);

    // REPLIES as the gateway writes it, and a broken length prefix.
    dir.mkdir("rep");
    dir.write("rep/REPLIES", "R1\tmail\tbn\nR2\tnews\tBn\n");
    dir.write("rep/R1.MSG", binary({kMail}));
    dir.write("rep/R2.MSG", binary({kNews}) + std::string("\x00\x00\x10\x00", 4) + "short");
    r = dump({"rep/R1.MSG"});  // a message file is shown with its packet
    EXPECT_EQ(r.code, 1);
    EXPECT_SHOWS(r.out, ("REPLIES (rep/REPLIES)\nline 1: R1^Imail^Ibn\n  replies of kind \"mail\"\n"));
    EXPECT_SHOWS(r.out, ("    To: joe@example.com\n"));
    EXPECT_SHOWS(r.out, ("  ! framing broken at offset "));
}

TEST_F(Dump, OutboundWithZoneAndPointDirectories) {
    write_config("BaseZone 2\nRoute 1:100/5 uucp@remote.example\n");
    std::string pkt = packet_header({2, 280, 1, 0}, {2, 280, 1, 0}) + std::string(2, '\0');
    dir.write("out/01180001.out", pkt);
    dir.write("out/01180001.hut", pkt);
    dir.write("out/01180001.bsy", "");
    dir.mkdir("out.001");
    dir.write("files/a.pkt", pkt);
    dir.write("out.001/00640005.flo", std::string("^").append(dir.path("files/a.pkt")) + "\n#" + dir.path("files/gone.txt"));
    dir.mkdir("out/01180001.pnt");
    dir.write("out/01180001.pnt/00000003.cut", pkt);
    dir.mkdir("out.003");
    dir.write("out.003/00010001.dut", pkt);
    auto before = snapshot("out");

    RunResult r = dump({"-c", "tarnwick.cfg", "-o"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_SHOWS(r.out, ("== outbound out/: as export scans it (BaseZone 2, ExportAllMail No)\n"
                                 "gateway 2:280/1: out/01180001.*\n  normal  01180001.out         60 bytes, 0 min old\n"
                                 "  hold    01180001.hut         60 bytes, 0 min old; on hold: export skips it "
                                 "(ExportAllMail No)\n  busy    01180001.bsy: a mailer is working on this node"));
    EXPECT_SHOWS(r.out, ("route 1:100/5 (uucp@remote.example): out.001/00640005.*\n  normal  00640005.flo"));
    EXPECT_SHOWS(r.out, ("            packet ^" + dir.path("files/a.pkt") + " (60 bytes, deleted after sending)\n"
                                 "            file   #" + dir.path("files/gone.txt") + " (missing, truncated after sending)\n"));
    EXPECT_SHOWS(r.out, ("mail in the outbound that export does not take (not for the gateway or a route):\n"
                                 "  2:280/1.3 out/01180001.pnt/00000003.cut: 60 bytes"));
    EXPECT_SHOWS(r.out, ("  3:1/1    out.003/00010001.dut: 60 bytes"));
    EXPECT_EQ(snapshot("out"), before);
    EXPECT_EQ(dump({"-o"}).code, 2);  // the outbound needs the configuration
}

}  // namespace

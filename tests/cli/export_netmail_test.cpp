// Stored netmail (MailerType ArcMail) through the binary: which messages go,
// what is written back, the quick-scan state across runs, files and packets
// a file-attach message carries, a real tosser's netmail, hostile input.
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <ctime>
#include <map>

#include "cli/cli.h"
#include "support/packet_builder.h"
#include "support/stored_msg.h"

using namespace twtest;

namespace {

class ExportNetmailCli : public CliTest {
protected:
    void site(const std::string& extra = "") {
        dir.mkdir("net");
        dir.write("tarnwick.cfg",
                  "FidoAddr 2:292/854\n"
                  "AddrMap 2:292/100 fred@example.com Fred Fido\n"
                  "Route 2:292/5 relay@uucp.example SUBJ=files\n"
                  "MailerType ArcMail\nNetmailDir net/\nInboundDir in/\nSoupDir soup/\nTempDir tmp/\n"
                  "QuickScan Yes\n" +
                      extra);
    }
    StoredMsg msg(const std::string& to_line, std::uint16_t attribute = 0) {
        StoredMsg m;
        m.orig_net = m.dest_net = 292;
        m.orig_node = 100;
        m.dest_node = 854;
        m.attribute = attribute;
        m.text = "To: " + to_line + "\r\rText for " + to_line + ".\r";
        return m;
    }
    // Every *.MSG file of NetmailDir modified `age` seconds ago.
    void age_all(int age) {
        for (const auto& n : dir.list("net")) {
            struct utimbuf t;
            t.actime = t.modtime = std::time(nullptr) - age;
            ::utime(dir.path("net/" + n).c_str(), &t);
        }
    }
    std::map<std::string, std::string> snapshot(const std::string& rel) {
        std::map<std::string, std::string> s;
        for (const auto& n : dir.list(rel)) s[n] = dir.read(rel + "/" + n);
        return s;
    }
    std::string replies() {
        std::string all;
        for (const auto& n : dir.list("soup"))
            if (n != "REPLIES") all += dir.read("soup/" + n);
        return all;
    }
    static int count(const std::string& text, const std::string& what) {
        int n = 0;
        for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
        return n;
    }
};

TEST_F(ExportNetmailCli, CandidatesMarksAndQuickScanAcrossRuns) {
    site();
    StoredMsg plain = msg("a@inet.example");
    StoredMsg other_zone = msg("b@inet.example");
    other_zone.text = "\x01INTL 1:292/854 2:292/100\r" + other_zone.text;
    StoredMsg route = msg("c@inet.example");
    route.dest_node = 5;
    route.to = "Rita Relay";
    route.text = "Hello relay.\r";
    StoredMsg attach = msg("d@inet.example", kMsgFileAttached);
    attach.subject = "in/ABCD0001.PKT in/REPORT.TXT";
    dir.write("net/1.MSG", plain.bytes());
    dir.write("net/2.MSG", other_zone.bytes());
    dir.write("net/3.MSG", route.bytes());
    dir.write("net/4.MSG", msg("e@inet.example", kMsgSent).bytes());
    dir.write("net/5.MSG", msg("f@inet.example", kMsgHold).bytes());
    dir.write("net/6.MSG", msg("g@inet.example", kMsgKillSent).bytes());
    dir.write("net/7.MSG", attach.bytes());
    StoredMsg point = msg("i@inet.example");  // the gateway has no point 3
    point.text = "\x01" "FMPT 7\r\x01TOPT 3\r" + point.text;
    dir.write("net/8.MSG", point.bytes());
    dir.write("net/9.MSG", point.bytes().substr(0, 189));  // shorter than the header
    dir.write("in/REPORT.TXT", "quarterly numbers\n");
    dir.write("in/ABCD0001.PKT", PacketBuilder({2, 292, 100, 0}, {2, 292, 854, 0})
                                     .netmail("Fred Fido", "UUCP", "In the packet", "To: h@inet.example\r\rPacked.\r")
                                     .bytes());
    age_all(100);
    const auto net_before = snapshot("net");
    const auto in_before = snapshot("in");

    // First run, no state file, /test: everything for the gateway or the
    // route is exported, and only the state file appears.
    RunResult r = run({"export", "/test"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(count(r.err, "Exporting netmail message from 2:292/100 to 2:292/854\n"), 3) << r.err;
    EXPECT_EQ(count(r.err, "Exporting netmail message from 2:292/100 to 2:292/5\n"), 1) << r.err;
    EXPECT_NE(r.err.find("-> 5 messages exported\n"), std::string::npos) << r.err;
    std::string out = replies();
    for (const char* to : {"To: a@inet.example\n", "To: relay@uucp.example (Rita Relay)\n", "To: g@inet.example\n",
                           "To: d@inet.example\n", "To: h@inet.example\n"})
        EXPECT_EQ(count(out, to), 1) << to;
    for (const char* to : {"b@inet", "e@inet", "f@inet", "i@inet"}) EXPECT_EQ(out.find(to), std::string::npos) << to;
    EXPECT_NE(out.find("name=\"REPORT.TXT\"\nContent-Transfer-Encoding: base64\n\ncXVhcnRlcmx5IG51bWJlcnMK\n"),
              std::string::npos);
    EXPECT_EQ(out.find("name=\"ABCD0001.PKT\""), std::string::npos);  // a packet travels as a packet
    auto net_after = snapshot("net");
    ASSERT_EQ(net_after.count("tarnwick.dat"), 1u);
    EXPECT_EQ(net_after["tarnwick.dat"].size(), 16u);
    net_after.erase("tarnwick.dat");
    EXPECT_EQ(net_after, net_before);
    EXPECT_EQ(snapshot("in"), in_before);

    // The state moved under /test: the unchanged files are passed over.
    for (const auto& n : dir.list("soup")) ::unlink(dir.path("soup/" + n).c_str());
    r = run({"export"});
    EXPECT_NE(r.err.find("No outbound messages found. Nothing to do.\n"), std::string::npos) << r.err;

    // Changed since: exported for good, marked, killed, the packet gone.
    age_all(0);
    r = run({"export"});
    EXPECT_NE(r.err.find("-> 5 messages exported\n"), std::string::npos) << r.err;
    for (const char* n : {"1.MSG", "3.MSG", "7.MSG"}) EXPECT_EQ(msg_attribute(dir.read("net/" + std::string(n))) & kMsgSent, kMsgSent) << n;
    for (const char* n : {"2.MSG", "4.MSG", "5.MSG", "8.MSG", "9.MSG"})
        EXPECT_EQ(dir.read("net/" + std::string(n)), net_before.at(n)) << n;
    // Only the header's attribute word changed.
    std::string b = dir.read("net/1.MSG"), was = net_before.at("1.MSG");
    EXPECT_EQ(b.substr(0, 186) + b.substr(188), was.substr(0, 186) + was.substr(188));
    EXPECT_FALSE(dir.exists("net/6.MSG"));
    EXPECT_FALSE(dir.exists("in/ABCD0001.PKT"));
    EXPECT_EQ(dir.read("in/REPORT.TXT"), "quarterly numbers\n");  // no KFS: kept

    age_all(0);
    r = run({"export"});
    EXPECT_NE(r.err.find("No outbound messages found. Nothing to do.\n"), std::string::npos) << r.err;

    // ExportAllMail takes the held message too.
    site("ExportAllMail Yes\n");
    age_all(0);
    r = run({"export"});
    EXPECT_NE(r.err.find("-> 1 messages exported\n"), std::string::npos) << r.err;
    EXPECT_EQ(msg_attribute(dir.read("net/5.MSG")), kMsgHold | kMsgSent);
}

// A message the reply packet cannot take stays unsent, its files untouched,
// and the next run (state file not moved on) takes it up.
TEST_F(ExportNetmailCli, UnwritableReplyKeepsMessageAndFiles) {
    site();
    StoredMsg m = msg("a@inet.example", kMsgFileAttached | kMsgKillSent);
    m.subject = "in/DATA.BIN";
    m.text = "\x01" "FLAGS KFS\r" + m.text;
    dir.write("net/1.MSG", m.bytes());
    dir.write("in/DATA.BIN", random_bytes(8000, 5));
    age_all(100);
    // Files may grow to 4 KB: the reply file cannot take the message
    // (root writes into read-only directories, so a size limit stands in
    // for a full disk).
    RunResult r = run_process({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 8; exec ./tarnwick export"}, dir.root());
    EXPECT_NE(r.err.find("! "), std::string::npos) << r.err;
    EXPECT_EQ(dir.read("net/1.MSG"), m.bytes());
    EXPECT_EQ(dir.read("in/DATA.BIN"), random_bytes(8000, 5));
    EXPECT_FALSE(dir.exists("net/tarnwick.dat"));

    r = run({"export"});
    EXPECT_NE(r.err.find("-> 1 messages exported\n"), std::string::npos) << r.err;
    EXPECT_FALSE(dir.exists("net/1.MSG"));
    EXPECT_FALSE(dir.exists("in/DATA.BIN"));
    EXPECT_TRUE(dir.exists("net/tarnwick.dat"));
}

// Files a message names by itself come from InboundDir or AttachPath only.
TEST_F(ExportNetmailCli, MessageNamedFilesAreConfined) {
    site();
    dir.mkdir("etc");
    dir.write("etc/SECRET", "do not send");
    StoredMsg m = msg("a@inet.example", kMsgFileAttached);
    m.subject = "etc/SECRET in/../etc/SECRET in/OK.TXT";
    m.text = "\x01" "FLAGS KFS\r" + m.text;
    dir.write("net/1.MSG", m.bytes());
    dir.write("in/OK.TXT", "fine");
    RunResult r = run({"export"});
    EXPECT_NE(r.err.find("! etc/SECRET lies outside AttachPath: not sent\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("! in/../etc/SECRET lies outside AttachPath: not sent\n"), std::string::npos);
    EXPECT_NE(r.err.find("* MIME-encoding OK.TXT\n"), std::string::npos);
    EXPECT_EQ(dir.read("etc/SECRET"), "do not send");
    EXPECT_FALSE(dir.exists("in/OK.TXT"));  // KFS: sent, then deleted
    EXPECT_EQ(replies().find("name=\"SECRET\""), std::string::npos);

    site("AttachPath etc/\nEncodeFormat UU\n");
    dir.write("net/2.MSG", m.bytes());
    r = run({"export"});
    EXPECT_NE(r.err.find("* UU-encoding SECRET\n"), std::string::npos) << r.err;
    EXPECT_FALSE(dir.exists("etc/SECRET"));
}

// Bad input never crashes, hangs, loses a message or deletes a file that was
// not sent.
TEST_F(ExportNetmailCli, HostileStoredMessages) {
    site("ExportAllMail Yes\n");
    StoredMsg base = msg("a@inet.example", kMsgFileAttached | kMsgKillSent);
    dir.write("net/SHORT.MSG", base.bytes().substr(0, 100));
    std::string words;
    for (int i = 0; i < 36; ++i) words += "x ";
    StoredMsg many = base;
    many.subject = words;  // as many words as the field holds
    dir.write("net/MANY.MSG", many.bytes());
    StoredMsg gone = base;
    gone.subject = "in/GONE.BIN";  // listed once, gone by now
    dir.write("net/GONE.MSG", gone.bytes());
    ASSERT_EQ(::mkfifo(dir.path("in/PIPE").c_str(), 0644), 0);
    StoredMsg pipe = base;
    pipe.subject = "in/PIPE";
    dir.write("net/PIPE.MSG", pipe.bytes());
    StoredMsg nonul = base;
    nonul.attribute = 0;
    std::string b = nonul.bytes();
    b.pop_back();  // no ending NUL
    dir.write("net/NONUL.MSG", b + std::string(300, 'L'));
    dir.mkdir("net/DIR.MSG");
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::string junk = random_bytes(190 + seed * 37, seed);
        junk[186] = junk[187] = 0;
        junk[166] = char(854 & 0xFF), junk[167] = char(854 >> 8), junk[174] = char(292), junk[175] = char(292 >> 8);
        dir.write("net/J" + std::to_string(seed) + ".MSG", junk);
    }
    dir.write("net/tarnwick.dat", random_bytes(33, 7));
    RunResult r = run({"export"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(count(r.err, "Exporting netmail message"), 24) << r.err;
    EXPECT_TRUE(dir.exists("net/SHORT.MSG"));
    EXPECT_TRUE(dir.exists("in/PIPE"));
    EXPECT_EQ(msg_attribute(dir.read("net/NONUL.MSG")), kMsgSent);
    // Every exported KillSent message went; the reply packet holds them all.
    for (const char* n : {"MANY.MSG", "GONE.MSG", "PIPE.MSG"}) EXPECT_FALSE(dir.exists("net/" + std::string(n))) << n;
    EXPECT_EQ(dir.read("net/tarnwick.dat").substr(0, 8), std::string(8, '\0'));
}

// crashmail tosses netmail for the gateway into a *.MSG directory; each
// message is exported once.
TEST_F(ExportNetmailCli, CrashmailTossedNetmail) {
    std::string crashmail = find_program("crashmail");
    if (crashmail.empty()) GTEST_SKIP() << "SKIPPED: crashmail is not installed (Debian package crashmail)";
    site();
    std::string root = dir.root();
    for (const char* d : {"bad", "ctmp", "cout", "cin"}) dir.mkdir(d);
    PacketBuilder pkt({2, 292, 100, 0}, {2, 292, 854, 0}, "TOSSME");
    for (int i = 1; i <= 3; ++i)
        pkt.netmail("Fred Fido", "UUCP", "Tossed " + std::to_string(i),
                    "To: user" + std::to_string(i) + "@inet.example\r\rMessage " + std::to_string(i) + ".\r");
    dir.write("cin/00000001.pkt", pkt.bytes());
    dir.write("cm.prefs", "SYSOP \"Test Sysop\"\nLOGFILE \"" + root + "/cm.log\"\nLOGLEVEL 6\n"
                          "INBOUND \"" + root + "/cin\"\nOUTBOUND \"" + root + "/cout\"\n"
                          "TEMPDIR \"" + root + "/ctmp\"\nCREATEPKTDIR \"" + root + "/ctmp\"\n"
                          "PACKETDIR \"" + root + "/cout\"\nSTATSFILE \"" + root + "/cm.stats\"\n"
                          "DUPEFILE \"" + root + "/cm.dupes\" 200\nDUPEMODE BAD\n"
                          "DEFAULTZONE 2\nAKA 2:292/854\nDOMAIN \"FidoNet\"\n"
                          "NODE 2:292/100 \"\" \"TOSSME\"\n"
                          "NETMAIL \"NETMAIL\" 2:292/854 MSG \"" + root + "/net\"\n"
                          "AREA \"BAD\" 2:292/854 MSG \"" + root + "/bad\"\n");
    RunResult t = run_process({crashmail, "SETTINGS", dir.path("cm.prefs"), "TOSS"}, root);
    ASSERT_EQ(t.code, 0) << t.out << t.err;
    std::vector<std::string> tossed = dir.list("net");
    ASSERT_EQ(tossed.size(), 3u) << dir.read("cm.log");
    // crashmail marks what it imports Sent, so that its own scan does not
    // send it on again; an ArcMail-style mailer leaves netmail for the
    // gateway unsent. Only that bit is taken back: the rest is crashmail's.
    for (const auto& n : tossed) {
        std::string b = dir.read("net/" + n);
        ASSERT_EQ(msg_attribute(b) & kMsgSent, kMsgSent) << n;
        b[186] = char(b[186] & ~kMsgSent);
        dir.write("net/" + n, b);
    }

    RunResult r = run({"export"});
    EXPECT_NE(r.err.find("-> 3 messages exported\n"), std::string::npos) << r.err;
    std::string out = replies();
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(count(out, "To: user" + std::to_string(i) + "@inet.example\n"), 1) << out;
    for (const auto& n : tossed) EXPECT_EQ(msg_attribute(dir.read("net/" + n)) & kMsgSent, kMsgSent) << n;
    age_all(0);  // even looked at again, nothing goes twice
    r = run({"export"});
    EXPECT_NE(r.err.find("No outbound messages found. Nothing to do.\n"), std::string::npos) << r.err;
}

}  // namespace

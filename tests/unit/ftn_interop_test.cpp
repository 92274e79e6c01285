// Interoperation with a real FTN tosser: crashmail tosses what our writer
// makes, and our reader reads what crashwrite makes. Skipped when the
// crashmail package is not installed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "config/config.h"
#include "driver/message.h"
#include "ftn/format.h"
#include "ftn/reader.h"
#include "ftn/writer.h"
#include "support/site_fixture.h"
#include "support/stored_msg.h"

using namespace tw;
using namespace std::string_literals;

namespace {

#define REQUIRE_PROGRAM(var, name)                                                                     \
    std::string var = twtest::find_program(name);                                                              \
    if (var.empty()) GTEST_SKIP() << "SKIPPED: " name " is not installed (Debian package crashmail)"

class FtnInterop : public twtest::SiteFixture {
protected:
    void SetUp() override {
        SiteFixture::SetUp();
        set_writer_clock(twtest::fixed_clock);
        ASSERT_EQ(configure("FidoAddr 2:292/854\nAddrMap 2:292/100 uucp-gate@example.org\n"
                            "Route 2:292/900 far@example.net\nPacketPwd SECRET\n"),
                  "");
        for (const char* d : {"in", "out", "tmp", "net", "echo", "junk", "bad", "pk"}) dir.mkdir(d);
    }
    // A crashmail configuration of its own for this test: the tosser is
    // 2:292/100, the first AddrMap entry; the gateway is its node.
    std::string write_prefs() {
        std::string r = dir.root();
        std::string prefs = "SYSOP \"Test Sysop\"\n"
                            "LOGFILE \"" + r + "/cm.log\"\nLOGLEVEL 6\n"
                            "INBOUND \"" + r + "/in\"\nOUTBOUND \"" + r + "/out\"\n"
                            "TEMPDIR \"" + r + "/tmp\"\nCREATEPKTDIR \"" + r + "/tmp\"\n"
                            "PACKETDIR \"" + r + "/out\"\nSTATSFILE \"" + r + "/cm.stats\"\n"
                            "DUPEFILE \"" + r + "/cm.dupes\" 200\nDUPEMODE BAD\n"
                            "DEFAULTZONE 2\nAKA 2:292/100\nDOMAIN \"FidoNet\"\n"
                            "NODE 2:292/854 \"\" \"SECRET\"\n"
                            "NETMAIL \"NETMAIL\" 2:292/100 MSG \"" + r + "/net\"\n"
                            "AREA \"BAD\" 2:292/100 MSG \"" + r + "/bad\"\n"
                            "AREA \"TEST.ECHO\" 2:292/100 MSG \"" + r + "/echo\"\nEXPORT 2:292/854\n"
                            "AREA \"JUNKMAIL\" 2:292/100 MSG \"" + r + "/junk\"\nEXPORT 2:292/854\n";
        dir.write("cm.prefs", prefs);
        return dir.path("cm.prefs");
    }

    // Sets the current message for one write.
    void prepare(const char* area, const char* to, const char* from, const char* subject, FtnAddress dest,
                 int parts = 1) {
        CurrentMessage& m = message();
        m = CurrentMessage{};
        m.area_name = area;
        m.recipient_name = to;
        m.sender_name = from;
        m.sender_address = "joe@example.com";
        m.reply_address = "joe@example.com";
        m.subject = subject;
        m.origin = config().FidoAddr;
        m.destination = dest;
        m.date = {17, 5, 2024, 10, 11, 12};  // day, month, year, hour, minute, second
        m.parts = parts;
        m.current_part = 1;
    }

    twtest::ScopedUtc utc_;
};

}  // namespace

TEST_F(FtnInterop, CrashmailTossesWhatWeWrite) {
    REQUIRE_PROGRAM(crashmail, "crashmail");
    GatewayConfig& c = mutable_config();
    c.JunkAction = FilterAction::Junk;
    c.OwnOrgAction = FilterAction::Junk;
    const FtnAddress hub{2, 292, 100, 0};
    {
        platform::File f;
        ASSERT_TRUE(f.open(dir.path("in/0000abcd.pkt"), platform::OpenMode::Write));
        begin_packet(f);

        prepare("NETMAIL", "Sysop", "Joe User", "Plain netmail", hub);
        CurrentMessage& m = message();
        m.message_id.text = "n1@example.com";
        m.reference_id.text = "earlier@example.com";
        m.ftn_charset = "LATIN-1 2";
        m.organization = "Example Org";
        write_message_header(MessageKind::Mail, f, "", JunkKind::None, false);
        f.write("First line\rSecond line\r");
        end_message(MessageKind::Mail, f);

        prepare("TEST.ECHO", "All", "Ann Poster", "An echo posting", hub);
        message().message_id.text = "e1@example.com";
        write_message_header(MessageKind::News, f, "", JunkKind::None, false);
        f.write("Echo text\r");
        end_message(MessageKind::News, f);

        prepare("TEST.ECHO", "All", "Long Writer", "Split", hub, 3);
        message().message_id.text = "s1@example.com";
        for (int part = 1; part <= 3; ++part) {
            message().current_part = part;
            write_message_header(MessageKind::List, f, "", JunkKind::None, false);
            if (part > 1) f.write("[continued from previous message]\r\r");
            f.printf("Body of part %d\r", part);
            if (part < 3) f.write("\r[continued in next message]\r");
            end_message(MessageKind::List, f);
        }

        prepare("JUNKMAIL", "JunkMail", "Spammer", "Buy now", hub);
        message().saved_recipient_name = "All";
        write_message_header(MessageKind::News, f, "", JunkKind::Subject, false);
        f.write("Junk text\r");
        end_message(MessageKind::News, f);

        prepare("NETMAIL", "JunkMail", "Colleague", "Own organization", hub);
        message().saved_recipient_name = "Sysop";
        write_message_header(MessageKind::Mail, f, "", JunkKind::None, true);
        f.write("Inside news\r");
        end_message(MessageKind::Mail, f);
        EXPECT_TRUE(end_packet(f));
    }

    twtest::RunResult r = twtest::run_process({crashmail, "SETTINGS", write_prefs(), "TOSS"}, dir.root());
    std::string log = dir.read("cm.log");
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_TRUE(dir.list("in").empty()) << log;  // tossed, not renamed to .bad
    EXPECT_TRUE(dir.list("bad").empty()) << log;
    EXPECT_EQ(log.find("Bad ->      Bad messages:      0"), log.find("Bad ->")) << log;

    int short_files = 0;
    auto net = twtest::stored_area(dir, "net", &short_files);
    auto echo = twtest::stored_area(dir, "echo", &short_files);
    auto junk = twtest::stored_area(dir, "junk", &short_files);
    EXPECT_EQ(short_files, 0) << log;
    ASSERT_EQ(net.size(), 2u) << log;
    ASSERT_EQ(echo.size(), 4u) << log;
    ASSERT_EQ(junk.size(), 1u) << log;

    const twtest::StoredMsg& n = net["Plain netmail"];
    EXPECT_EQ(n.from, "Joe User");
    EXPECT_EQ(n.to, "Sysop");
    EXPECT_EQ(n.date, "17 Jun 24  10:11:12");
    EXPECT_EQ(n.orig_net, 292);
    EXPECT_EQ(n.orig_node, 854);
    EXPECT_EQ(n.dest_net, 292);
    EXPECT_EQ(n.dest_node, 100);
    EXPECT_NE(n.text.find("\x01INTL 2:292/100 2:292/854\r"), std::string::npos) << n.text;
    EXPECT_NE(n.text.find("\x01MSGID: <n1@example.com> "), std::string::npos);
    EXPECT_NE(n.text.find("\x01" "CHRS: LATIN-1 2\r"), std::string::npos);
    EXPECT_NE(n.text.find("First line\rSecond line\r\r--- Tarnwick-DOS v1.05\r"), std::string::npos);
    EXPECT_NE(n.text.find(" * Origin: Example Org (2:292/854)\r"), std::string::npos);
    EXPECT_NE(n.text.find("\x01Via 2:292/854 @20260305.070809 Tarnwick-DOS v1.05\r"), std::string::npos);

    const twtest::StoredMsg& own = net["Own organization"];
    EXPECT_EQ(own.from, "Colleague");
    EXPECT_EQ(own.to, "JunkMail");
    EXPECT_NE(own.text.find("\x01JUNKMAIL: OwnOrg\r\x01JUNKMAIL-TO: Sysop\r"), std::string::npos);
    EXPECT_NE(own.text.find("Inside news\r"), std::string::npos);

    const twtest::StoredMsg& e = echo["An echo posting"];
    EXPECT_EQ(e.from, "Ann Poster");
    EXPECT_EQ(e.to, "All");
    EXPECT_EQ(e.date, "17 Jun 24  10:11:12");
    // A tosser stores echomail addresses in the text only: origin line and
    // PATH, to which it added itself after taking ours.
    EXPECT_NE(e.text.find("Echo text\r\r--- Tarnwick-DOS v1.05\r"), std::string::npos) << e.text;
    EXPECT_NE(e.text.find(" * Origin: joe@example.com (2:292/854)\r"), std::string::npos);
    EXPECT_NE(e.text.find("\x01PATH: 292/854 100\r"), std::string::npos);

    for (int part = 1; part <= 3; ++part) {
        std::string subject = "Split (" + std::to_string(part) + "/3)";
        ASSERT_TRUE(echo.count(subject)) << subject;
        const twtest::StoredMsg& s = echo[subject];
        EXPECT_EQ(s.from, "Long Writer");
        EXPECT_NE(s.text.find("Body of part " + std::to_string(part) + "\r"), std::string::npos) << s.text;
        EXPECT_NE(s.text.find("\x01SPLIT: 05 Mar 26 07:08:09 @292/854     00000 0" + std::to_string(part) +
                              "/03 +++++++++++\r"),
                  std::string::npos);
    }

    const twtest::StoredMsg& j = junk["Buy now"];
    EXPECT_EQ(j.from, "Spammer");
    EXPECT_EQ(j.to, "JunkMail");
    EXPECT_NE(j.text.find("\x01JUNKMAIL: subject\r\x01JUNKMAIL-TO: All\r"), std::string::npos) << j.text;
    EXPECT_NE(j.text.find("Junk text\r"), std::string::npos);
}

namespace {

struct Read {
    FtnAddress origin;
    bool attach;
    std::string date, to, from, subject, text;
};

// Runs crashwrite with args into pk/ and reads the one packet it made.
// date receives the date crashwrite reports.
bool crashwrite_and_read(twtest::Scratch& dir, const std::string& program, std::vector<std::string> args,
                         std::vector<Read>& out, std::string& date, std::string& console) {
    for (const std::string& old : dir.list("pk")) std::remove(dir.path("pk/" + old).c_str());
    args.insert(args.begin(), {program, "DIR", dir.path("pk")});
    twtest::RunResult r = twtest::run_process(args, dir.root());
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    std::size_t at = r.out.find(" Date: ");
    if (at != std::string::npos) date = r.out.substr(at + 7, 19);
    std::vector<std::string> made = dir.list("pk");
    EXPECT_EQ(made.size(), 1u) << r.out;
    if (made.size() != 1) return false;
    platform::File f;
    EXPECT_TRUE(f.open(dir.path("pk/" + made[0]), platform::OpenMode::Read));
    message().export_target = ExportTarget::Undetermined;
    testing::internal::CaptureStderr();
    PacketRead read = read_packet(f, true, [&](platform::File& file, bool use_attach_list) {
        EXPECT_TRUE(use_attach_list);
        const CurrentMessage& m = message();
        Read one{m.origin, m.attach, m.ftn_date.c_str(), m.recipient_name.c_str(), m.sender_name.c_str(),
                 m.subject.c_str(), ""};
        char buf[257];
        TextLine t;
        do {
            t = read_text_line(file, buf, 256);
            one.text += buf;
            if (t == TextLine::Complete) one.text += '\n';
        } while (t != TextLine::EndOfText);
        out.push_back(one);
        return ConvertOutcome::Exported;
    });
    console = testing::internal::GetCapturedStderr();
    return read.outcome == PacketOutcome::Exported;
}

}  // namespace

TEST_F(FtnInterop, ReadsWhatCrashwriteWrites) {
    REQUIRE_PROGRAM(crashwrite, "crashwrite");
    dir.write("text.txt", "Hello gateway\nSecond line\n");
    std::string text = dir.path("text.txt");
    std::vector<Read> got;
    std::string date, console;

    // Netmail to the gateway's user UUCP, with a packet password.
    ASSERT_TRUE(crashwrite_and_read(dir, crashwrite,
                                    {"FROMNAME", "Fred Fido", "FROMADDR", "2:292/77.3", "TONAME", "UUCP", "TOADDR",
                                     "2:292/854", "SUBJECT", "To the Internet", "TEXT", text, "PASSWORD", "secret"},
                                    got, date, console));
    EXPECT_EQ(console, "Exporting Type 2+ packet from 2:292/77.3 to 2:292/854\n");
    EXPECT_EQ(message().export_target, ExportTarget::Gateway);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].origin, (FtnAddress{2, 292, 77, 3}));
    EXPECT_FALSE(got[0].attach);
    EXPECT_EQ(got[0].from, "Fred Fido");
    EXPECT_EQ(got[0].to, "UUCP");
    EXPECT_EQ(got[0].subject, "To the Internet");
    EXPECT_EQ(got[0].date, date);
    EXPECT_NE(got[0].text.find("Hello gateway\nSecond line\n"), std::string::npos) << got[0].text;
    MessageDate d{};
    EXPECT_EQ(parse_ftn_date(got[0].date, d), 6) << got[0].date;

    // Echomail without password, addressed to the gateway as packet.
    got.clear();
    ASSERT_TRUE(crashwrite_and_read(dir, crashwrite,
                                    {"FROMNAME", "Eve Echo", "FROMADDR", "2:292/78", "TONAME", "All", "SUBJECT",
                                     "Echo subject", "AREA", "FIDO.TEST", "ORIGIN", "Somewhere BBS", "TEXT", text,
                                     "PKTTOADDR", "2:292/854"},
                                    got, date, console));
    EXPECT_EQ(console, "Exporting Type 2+ packet from 2:292/78 to 2:292/854\n");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].origin, (FtnAddress{2, 292, 78, 0}));
    EXPECT_EQ(got[0].from, "Eve Echo");
    EXPECT_EQ(got[0].to, "All");
    EXPECT_EQ(got[0].subject, "Echo subject");
    EXPECT_EQ(got[0].date, date);
    EXPECT_EQ(got[0].text.rfind("AREA:FIDO.TEST\n", 0), 0u) << got[0].text;
    EXPECT_NE(got[0].text.find("Hello gateway\nSecond line\n"), std::string::npos);
    EXPECT_NE(got[0].text.find(" * Origin: Somewhere BBS (2:292/78.0)"), std::string::npos) << got[0].text;

    // File attach for a Route entry's node.
    got.clear();
    ASSERT_TRUE(crashwrite_and_read(dir, crashwrite,
                                    {"FROMNAME", "Fred Fido", "FROMADDR", "2:292/77", "TONAME", "Far Away", "TOADDR",
                                     "2:292/900", "SUBJECT", "FILE.ZIP", "FILEATTACH", "PASSWORD", "PW"},
                                    got, date, console));
    EXPECT_EQ(message().export_target, ExportTarget::Route);
    EXPECT_EQ(message().recipient_address, "far@example.net");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].attach);
    EXPECT_EQ(got[0].subject, "FILE.ZIP");
    EXPECT_EQ(got[0].to, "Far Away");

    // Mail for another node is not ours.
    got.clear();
    EXPECT_FALSE(crashwrite_and_read(dir, crashwrite,
                                     {"FROMNAME", "X", "FROMADDR", "2:292/77", "TONAME", "Y", "TOADDR", "2:292/5"},
                                     got, date, console));
    EXPECT_EQ(console, "");
    EXPECT_TRUE(got.empty());
}

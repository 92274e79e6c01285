// FTN mail becomes Internet mail and news through the binary: packets in a
// /pkt= directory, the reply packet compared byte for byte, and every
// message read back by Python's email package.
#include "cli/cli.h"
#include "support/soup_builder.h"
#include "support/packet_builder.h"

using namespace twtest;

namespace {

const std::string kDate = "Date: Mon, 07 Dec 2026 11:22:33 +0100\n";

// The common tail of a plain text message after its identifiers.
std::string mime_tail(const std::string& charset = "us-ascii", const std::string& encoding = "7bit") {
    return "Mime-version: 1.0\nContent-Type: text/plain; charset=" + charset +
           "\nContent-Transfer-Encoding: " + encoding + "\n\n";
}

std::string hex(int v) {
    char b[16];
    std::snprintf(b, sizeof b, "%x", unsigned(v));
    return b;
}

class ExportConvert : public CliTest {
protected:
    // Ann Sender at 2:280/5 has an AddrMap entry with a reply address.
    void configure(const std::string& extra) {
        write_config("AddrMap 2:280/5 ann@example.org,ann.replies@example.org Ann Sender\n"
                     "SeparateMSG No\nTimeZone +0100\n" +
                     extra);
    }

    // Exports the packet from /pkt=pk/; the messages of the reply packet.
    std::vector<std::string> export_packet(const PacketBuilder& packet) {
        dir.mkdir("pk");
        dir.write("pk/in.pkt", packet.bytes());
        result = run({"export", "/pkt=pk/"});
        EXPECT_EQ(result.code, 0) << result.err;
        EXPECT_FALSE(dir.exists("pk/in.pkt")) << result.err;
        std::vector<std::string> msgs = reply_messages(dir, "soup");
        read_back_with_python(msgs.size());
        return msgs;
    }

    // Python's email package reads every message; the decoded text bodies
    // land in `decoded`, the dates in `dates`.
    void read_back_with_python(std::size_t count) {
        decoded.clear();
        dates.clear();
        std::string python = find_program("python3");
        if (python.empty()) return;
        RunResult r = run_process({python, std::string(TW_SOURCE_DIR) + "/tests/cli/check_replies.py", "soup"},
                                  dir.root());
        ASSERT_EQ(r.code, 0) << r.err;
        for (std::size_t at = 0, nul; (nul = r.out.find('\0', at)) != std::string::npos; at = nul + 1) {
            std::string part = r.out.substr(at, nul - at);
            std::size_t nl = part.find('\n');
            dates.push_back(part.substr(5, nl - 5));
            decoded.push_back(part.substr(nl + 1));
        }
        EXPECT_EQ(decoded.size(), count);
    }

    void clear_replies() {
        for (const std::string& f : dir.list("soup")) std::remove(dir.path("soup/" + f).c_str());
    }

    RunResult result;
    std::vector<std::string> decoded, dates;
};

TEST_F(ExportConvert, NetmailToInternetAddresses) {
    configure("CharSetMap IBMPC#2 ibm437\n");
    PacketBuilder p({2, 280, 5, 0}, {2, 280, 1, 0});
    p.netmail("Ann Sender", "UUCP", "Greetings",
              ftn_text({"\x01MSGID: 2:280/5 0badcafe", "To: first@example.org", "to: second@example.org",
                        "Copy: copy@example.org", "BCopy: hidden@example.org", "", "Hello from FTN.", "Bye."}));
    p.netmail("Ann Sender", "rcpt@example.net", "Re: Your note",
              ftn_text({"\x01MSGID: <orig.123@news.example> 1f", "\x01REPLY: 2:280/7.2 12345678",
                        "To: b@example.org", "To: c@example.org", "To: d@example.org", "To: e@example.org", "",
                        "Four more."}));
    p.netmail("Ann Sender", "UUCP", "Umlauts",
              ftn_text({"\x01MSGID: 2:280/5 3", "\x01REPLY: <parent@example.net> 0", "\x01" "CHRS: IBMPC 2",
                        "To: koeln@example.de", "", "Gr\x81\xE1" "e aus K\x94ln: a = b."}));
    std::vector<std::string> m = export_packet(p);
    ASSERT_EQ(m.size(), 3u) << result.err;
    EXPECT_EQ(m[0],
              "To: first@example.org, second@example.org\nCc: copy@example.org\nBcc: hidden@example.org\n"
              "From: ann@example.org (Ann Sender)\nReply-to: ann.replies@example.org (Ann Sender)\n"
              "Subject: Greetings\n" +
                  kDate + "Message-ID: <195939070@f5.n280.z2.fidonet.org>\nX-MailConverter: Tarnwick-DOS v1.05\n" +
                  mime_tail() + "Hello from FTN.\nBye.\n\n");
    EXPECT_EQ(m[1],
              "To: rcpt@example.net,\n    b@example.org, c@example.org, d@example.org,\n    e@example.org\n"
              "From: ann@example.org (Ann Sender)\nReply-to: ann.replies@example.org (Ann Sender)\n"
              "Subject: Re: Your note\n" +
                  kDate +
                  "Message-ID: <orig.123@news.example>\nIn-Reply-To: <305419896@p2.f7.n280.z2.fidonet.org>\n"
                  "X-MailConverter: Tarnwick-DOS v1.05\n" +
                  mime_tail() + "Four more.\n\n");
    const std::string umlaut_head = "To: koeln@example.de\nFrom: ann@example.org (Ann Sender)\n"
                                    "Reply-to: ann.replies@example.org (Ann Sender)\nSubject: Umlauts\n" +
                                    kDate +
                                    "Message-ID: <3@f5.n280.z2.fidonet.org>\nIn-Reply-To: <parent@example.net>\n"
                                    "X-MailConverter: Tarnwick-DOS v1.05\n";
    EXPECT_EQ(m[2], umlaut_head + mime_tail("ibm437", "quoted-printable") + "Gr=81=E1e aus K=94ln: a =3D b.\n\n");
    if (!decoded.empty()) {
        EXPECT_EQ(dates[0], "2026-12-07T11:22:33+01:00");
        EXPECT_EQ(decoded[0], "Hello from FTN.\nBye.\n\n");
        EXPECT_EQ(decoded[2], "Gr\x81\xE1" "e aus K\x94ln: a = b.\n\n");
    }
    EXPECT_EQ(result.err,
              "Exporting from PKT to Soup\nExporting Type 2+ packet from 2:280/5 to 2:280/1\n"
              "-> 3 messages exported\nmail: 3         news: 0    \n");

    // Without quoted-printable the 8-bit text goes as it is.
    clear_replies();
    configure("CharSetMap IBMPC#2 ibm437\nUseQP No\n");
    m = export_packet(PacketBuilder({2, 280, 5, 0}, {2, 280, 1, 0})
                          .netmail("Ann Sender", "UUCP", "Umlauts",
                                   ftn_text({"\x01MSGID: 2:280/5 3", "\x01REPLY: <parent@example.net> 0",
                                             "\x01" "CHRS: IBMPC 2", "To: koeln@example.de", "",
                                             "Gr\x81\xE1" "e aus K\x94ln: a = b."})));
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0], umlaut_head + mime_tail("ibm437", "8bit") + "Gr\x81\xE1" "e aus K\x94ln: a = b.\n\n");
}

TEST_F(ExportConvert, EchomailAndMailingListAreas) {
    dir.write("lists/t.lst", "ListName Test List\nListAddress list@gate.example\nListArea TEST.LIST\n"
                             "KeeperAddress keeper@gate.example\nListUsers\n"
                             "+\na@sub.example\n\n1\n\n+\nb@sub.example\nBea\n1\n\n+\nc@sub.example\n\n3\n\n");
    configure("AreaMap FTN.TALK news.talk\nAreaMap IMPORT.ONLY no.such import\n"
              "MailingList LIST.NONE list-none@lists.example match-none\n"
              "MailingList LIST.NAME list-name@lists.example,poster@gate.example match-name\n"
              "MailingListOption LIST.NAME author=name\n"
              "MailingList LIST.EMAIL list-email@lists.example match-email\n"
              "MailingListOption LIST.EMAIL author=email\n"
              "MailingList LIST.BOTH list-both@lists.example match-both\n"
              "MailingListOption LIST.BOTH author=both\n"
              "ListConfig lists/t.lst\nNoSpamText nospam.\nOrganization Test Org\n");
    PacketBuilder p({2, 280, 5, 0}, {2, 280, 1, 0});
    const std::string echo_text = ftn_text({"\x01MSGID: 2:280/5 00000010", "XPost: comp.misc", "XPost:  alt.test ",
                                            "", "Echo text.", "", "--- Ed 1.0",
                                            " * Origin: Somewhere (2:280/5)", "SEEN-BY: 280/1", "\x01PATH: 280/5"});
    p.echomail("FTN.TALK", "Ann Sender", "Talk", echo_text);
    p.echomail("IMPORT.ONLY", "Ann Sender", "Stays", ftn_text({"Not for the Internet."}));
    int serial = 0x11;
    for (const char* area : {"LIST.NONE", "LIST.NAME", "LIST.EMAIL", "LIST.BOTH", "TEST.LIST"})
        p.echomail(area, "Ann Sender", std::string("To ") + area,
                   ftn_text({"\x01MSGID: 2:280/5 " + hex(serial++), "List text."}));
    std::vector<std::string> m = export_packet(p);
    ASSERT_EQ(m.size(), 6u) << result.err;

    // REPLIES lists the mail file first.
    const std::string converter = "X-MailConverter: Tarnwick-DOS v1.05\n";
    auto list_mail = [&](const std::string& to, const std::string& from, const std::string& area, int id,
                         const std::string& author) {
        return "To: " + to + "\nFrom: " + from + "\nSubject: To " + area + "\n" + kDate + "Message-ID: <" +
               std::to_string(id) + "@f5.n280.z2.fidonet.org>\nOrganization: Test Org\nX-Comment-To: All\n" +
               converter + mime_tail() + author + "List text.\n\n";
    };
    const std::string ann = "ann@example.org (Ann Sender)\nReply-to: ann.replies@example.org (Ann Sender)";
    EXPECT_EQ(m[0], list_mail("list-none@lists.example", ann, "LIST.NONE", 17, ""));
    EXPECT_EQ(m[1], list_mail("list-name@lists.example", "poster@gate.example (Ann Sender)", "LIST.NAME", 18,
                              " * Author: Ann Sender\n\n"));
    EXPECT_EQ(m[2], list_mail("list-email@lists.example", ann, "LIST.EMAIL", 19, " * Author: ann@example.org\n\n"));
    EXPECT_EQ(m[3], list_mail("list-both@lists.example", ann, "LIST.BOTH", 20,
                              " * Author: Ann Sender <ann@example.org>\n\n"));
    EXPECT_EQ(m[4],
              "Bcc: <a@sub.example>, <b@sub.example>\nFrom: ann@example.org (Ann Sender)\n"
              "Reply-to: list@gate.example\nSender: list@gate.example\nErrors-To: keeper@gate.example\n"
              "Return-Path: keeper@gate.example\nSubject: To TEST.LIST\n" +
                  kDate +
                  "Message-ID: <21@f5.n280.z2.fidonet.org>\nOrganization: Test Org\nX-Comment-To: All\n"
                  "X-MailServer: Tarnwick-DOS v1.05\n" +
                  mime_tail() + "List text.\n\n");
    EXPECT_EQ(m[5],
              "Newsgroups: news.talk,comp.misc,alt.test\nFrom: nospam.ann@example.org (Ann Sender)\n"
              "Reply-to: ann.replies@example.org (Ann Sender)\nSubject: Talk\n" +
                  kDate + "Message-ID: <16@f5.n280.z2.fidonet.org>\nOrganization: Test Org\nX-Comment-To: All\n" +
                  converter + mime_tail() + "Echo text.\n\n");
    EXPECT_NE(result.err.find("-> 6 messages exported\nmail: 5         news: 1         lists: 1    \n"),
              std::string::npos)
        << result.err;
}

TEST_F(ExportConvert, RouteMailWithPasswordSubjectAndRewrapping) {
    configure("Route 2:280/9 far@example.net secret SUBJ=Packet for you\nLineWidth 40\n");
    PacketBuilder p({2, 280, 5, 0}, {2, 280, 9, 0});
    FtnMessage attach;
    attach.orig = {2, 280, 5, 0};
    attach.dest = {2, 280, 9, 0};
    attach.attribute = 0x0011;
    attach.from = "Ann Sender";
    attach.to = "Far Sysop";
    attach.subject = "C:\\OUT\\0118000A.PKT";
    attach.text = ftn_text({"\x01MSGID: 2:280/5 2", "See the packet."});
    p.add(attach);
    const std::string quoted =
        " AS> A quoted line that is much longer than the forty characters this gateway writes.";
    p.netmail("Ann Sender", "Far Sysop", "Long lines",
              ftn_text({"\x01MSGID: 2:280/5 4", quoted, "My answer, short."}));
    std::vector<std::string> m = export_packet(p);
    ASSERT_EQ(m.size(), 2u) << result.err;
    const std::string head = "To: far@example.net (Far Sysop)\nFrom: ann@example.org (Ann Sender)\n"
                             "Reply-to: ann.replies@example.org (Ann Sender)\n";
    EXPECT_EQ(m[0], head + "Subject: Packet for you\n" + kDate +
                        "Message-ID: <2@f5.n280.z2.fidonet.org>\nX-MailPassword: secret\n"
                        "X-MailConverter: Tarnwick-DOS v1.05\nMime-version: 1.0\n"
                        "Content-Type: multipart/mixed; boundary=\"+=Tarnwick=+\"\n\n--+=Tarnwick=+\n"
                        "Content-Type: text/plain; charset=us-ascii\nContent-Transfer-Encoding: 7bit\n\n"
                        "See the packet.\n\n\n--+=Tarnwick=+--\n");
    EXPECT_EQ(m[1], head + "Subject: Long lines\n" + kDate +
                        "Message-ID: <4@f5.n280.z2.fidonet.org>\nX-MailPassword: secret\n"
                        "X-MailConverter: Tarnwick-DOS v1.05\n" +
                        mime_tail() +
                        " AS> A quoted line that is much longer \n"
                        " AS> than the forty characters this \n"
                        " AS> gateway writes.\nMy answer, short.\n\n");
}

// A sender without AddrMap entry, an alias, the limits of address and
// crosspost lines with their warnings, and the /verbose lines.
TEST_F(ExportConvert, SendersLimitsWarningsAndVerboseLines) {
    configure("MapFidoOrg Yes\nExportMaxTo 2\nExportMaxXPost 1\nAlias boss@example.com The Boss\n"
              "AreaMap FTN.TALK news.talk\n");
    PacketBuilder p({2, 280, 7, 3}, {2, 280, 1, 0});
    p.netmail("Bob Smith", "The Boss", "Line\nbreak",
              ftn_text({"\x01MSGID: 2:280/7.3 5", "To: x@example.org", "To: y@example.org", "", "Hi boss."}));
    p.netmail("Bob Smith", "UUCP", "Nobody", ftn_text({"\x01MSGID: 2:280/7.3 6", "Hello?"}));
    p.echomail("FTN.TALK", "Bob Smith", "Cross", ftn_text({"\x01MSGID: 2:280/7.3 7", "XPost: a.b", "XPost: c.d", "", "X."}));
    p.echomail("FTN.TALK", "Bob Smith", "Empty", ftn_text({"\x01MSGID: 2:280/7.3 8"}));
    dir.mkdir("pk");
    dir.write("pk/in.pkt", p.bytes());
    result = run({"export", "/verbose", "/pkt=pk/"});
    std::vector<std::string> m = reply_messages(dir, "soup");
    read_back_with_python(m.size());
    ASSERT_EQ(m.size(), 3u) << result.err;
    const std::string bob = "Bob.Smith@p3.f7.n280.z2.fidonet.org (Bob Smith)\n";
    EXPECT_EQ(m[0], "To: boss@example.com,\n    x@example.org\nFrom: " + bob + "Subject: Line break\n" + kDate +
                        "Message-ID: <5@p3.f7.n280.z2.fidonet.org>\nX-MailConverter: Tarnwick-DOS v1.05\n" +
                        mime_tail() + "Hi boss.\n\n");
    EXPECT_TRUE(m[1].starts_with("To: \nFrom: " + bob)) << m[1];
    EXPECT_TRUE(m[2].starts_with("Newsgroups: news.talk,a.b\nFrom: " + bob)) << m[2];
    EXPECT_EQ(result.err,
              "Exporting from PKT to Soup\nExporting Type 2+ packet from 2:280/7.3 to 2:280/1\n"
              "! To/Copy-limit exceeded in msg from 2:280/7.3 (Bob Smith)\n"
              "\r- from 2:280/7.3 (Bob Smith) to boss@example.com et al.\n"
              "! No To-address specified in msg from 2:280/7.3 (Bob Smith)\n"
              "\r- from 2:280/7.3 (Bob Smith) to UUCP\n"
              "! XPost-limit exceeded in msg from 2:280/7.3 (Bob Smith)\n"
              "\r- from 2:280/7.3 (Bob Smith) to news.talk newsgroup et al.\n"
              "-> 3 messages exported\nmail: 2         news: 1    \n");
}

}  // namespace

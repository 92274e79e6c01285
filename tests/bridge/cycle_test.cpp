// A whole cycle on one machine: exim and INN on the Internet side,
// crashmail on the FTN side, the gateway and the bridge between them.
#include <strings.h>
#include <unistd.h>

#include "bridge/fixtures.h"

namespace twtest {
namespace {

// A stored (*.MSG) message written on the node, Local and not yet sent.
std::string local_msg(const std::string& from, const std::string& to, const std::string& subject, int dest_node,
                      const std::string& text) {
    std::string hdr(190, '\0');
    auto put = [&](std::size_t at, const std::string& s) { hdr.replace(at, s.size(), s); };
    put(0, from);
    put(36, to);
    put(72, subject);
    put(144, "09 Dec 26  10:00:00");
    hdr[166] = char(dest_node);
    hdr[168] = 100;                                     // orig node
    hdr[172] = char(280 & 0xFF), hdr[173] = char(280 >> 8);  // orig net
    hdr[174] = char(280 & 0xFF), hdr[175] = char(280 >> 8);  // dest net
    hdr[187] = 0x01;                                    // Local
    return hdr + text + std::string(1, '\0');
}

class Cycle : public BridgeTest {
protected:
    // Every message of soup/REPLIES, written to replyN.eml for the checker.
    std::vector<std::string> save_replies() {
        std::vector<std::string> files;
        std::string index = dir.read("soup/REPLIES");
        for (std::size_t pos = 0; pos < index.size();) {
            std::size_t nl = index.find('\n', pos);
            std::string prefix = index.substr(pos, index.find('\t', pos) - pos);
            pos = nl + 1;
            std::string bytes;
            for (const auto& f : dir.list("soup"))
                if (f.size() == prefix.size() + 4 && strcasecmp(f.substr(0, prefix.size()).c_str(), prefix.c_str()) == 0)
                    bytes = dir.read("soup/" + f);
            for (std::size_t at = 0; at + 4 <= bytes.size();) {
                std::size_t n = std::size_t((unsigned char)bytes[at]) << 24 | std::size_t((unsigned char)bytes[at + 1]) << 16 |
                                std::size_t((unsigned char)bytes[at + 2]) << 8 | (unsigned char)bytes[at + 3];
                std::string name = "reply" + std::to_string(files.size()) + ".eml";
                dir.write(name, bytes.substr(at + 4, n));
                files.push_back(name);
                at += 4 + n;
            }
        }
        return files;
    }

    // What was handed on arrived with its header fields and body (Python's email package says so).
    void expect_same(const std::string& sent_file, const std::string& got) {
        dir.write("got.eml", got);
        std::string python = find_program("python3");
        if (python.empty()) {
            EXPECT_NE(got.find(dir.read(sent_file).substr(dir.read(sent_file).find("\n\n"))), std::string::npos);
            return;
        }
        RunResult r = run_process({python, std::string(TW_SOURCE_DIR) + "/tests/bridge/same_message.py", sent_file,
                                   "got.eml"},
                                  dir.root());
        EXPECT_EQ(r.code, 0) << r.err << "\nsent:\n" << dir.read(sent_file) << "\ngot:\n" << got;
    }
};

TEST_F(Cycle, MailAndNewsGoThroughGatewayAndTosserAndTheRepliesComeBack) {
    Exim exim(dir);
    InnServer inn(dir);
    std::string crashmail = find_program("crashmail");
    if (!exim.available() || !inn.available() || crashmail.empty())
        GTEST_SKIP() << "needs exim4, INN (as root) and crashmail (Debian packages exim4-daemon-light, inn2, crashmail)";
    ASSERT_TRUE(inn.start());
    const std::string root = dir.root();

    // The Internet side: a mail exim delivers into the maildir, an article on the server.
    const std::string mail =
        "From: Ann Writer <ann@example.org>\nTo: Joe Sysop <joe@example.com>\nSubject: Cycle mail\n"
        "Date: Wed, 09 Dec 2026 09:00:00 +0000\nMessage-ID: <cycle1@example.org>\n\nHello Joe,\nfrom the Internet.\n";
    dir.write("in.eml", mail);
    RunResult r = run_process({"/bin/sh", "-c", exim.sendmail + " < in.eml"}, root);
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_TRUE(nntp_post(inn.port(), "From: Carl <carl@example.net>\nNewsgroups: fido.test\nSubject: Cycle news\n"
                                      "Message-ID: <cycle2@example.net>\n\nAn article for the echo.\n"));

    // The gateway 2:280/1 and the tosser of 2:280/100 share inbound and outbound.
    ASSERT_EQ(::symlink(TW_BINARY, dir.path("tarnwick").c_str()), 0);
    for (const char* d : {"in", "out", "tmp", "net", "talk", "bad", "ctmp"}) dir.mkdir(d);
    dir.write("tarnwick.cfg", "FidoAddr 2:280/1\nAddrMap 2:280/100 joe@example.com Joe Sysop\nAreaMap TW.TEST fido.test\n"
                              "MailerType Binkley\nInboundDir in/\nOutboundDir out/\nSoupDir soup/\nTempDir tmp/\n"
                              "PacketPwd tossme\n");
    dir.write("cm.prefs", "SYSOP \"Joe Sysop\"\nLOGFILE \"" + root + "/cm.log\"\nLOGLEVEL 6\n"
                          "INBOUND \"" + root + "/in\"\nOUTBOUND \"" + root + "/out\"\n"
                          "TEMPDIR \"" + root + "/ctmp\"\nCREATEPKTDIR \"" + root + "/ctmp\"\n"
                          "PACKETDIR \"" + root + "/out\"\nSTATSFILE \"" + root + "/cm.stats\"\n"
                          "DUPEFILE \"" + root + "/cm.dupes\" 200\nDUPEMODE BAD\nDEFAULTZONE 2\n"
                          "AKA 2:280/100\nDOMAIN \"FidoNet\"\nNODE 2:280/1 \"\" \"TOSSME\"\n"
                          "ROUTE \"2:280/1\" \"2:280/1\" 2:280/100\n"
                          "NETMAIL \"NETMAIL\" 2:280/100 MSG \"" + root + "/net\"\n"
                          "AREA \"BAD\" 2:280/100 MSG \"" + root + "/bad\"\n"
                          "AREA \"TW.TEST\" 2:280/100 MSG \"" + root + "/talk\"\nEXPORT 2:280/1\n");
    configure("Maildir exim/Maildir\nNntpServer 127.0.0.1:" + std::to_string(inn.port()) +
              "\nNewsGroup fido.test\nNntpTimeout 10\nSendmail " + exim.sendmail + "\n");

    // fetch -> pack -> import -> toss
    r = soup("pack");
    ASSERT_EQ(r.code, 0) << r.err;
    r = run_process({"./tarnwick", "import"}, root);
    ASSERT_EQ(r.code, 0) << r.err;
    r = run_process({crashmail, "SETTINGS", "cm.prefs", "TOSS"}, root);
    ASSERT_EQ(r.code, 0) << r.out << dir.read("cm.log");
    EXPECT_TRUE(dir.list("in").empty()) << dir.read("cm.log");
    EXPECT_TRUE(dir.list("bad").empty()) << dir.read("cm.log");
    auto area_texts = [&](const std::string& area) {
        std::vector<std::string> out;
        for (const auto& f : dir.list(area)) out.push_back(dir.read(area + "/" + f));
        return out;
    };
    auto net = area_texts("net"), talk = area_texts("talk");
    ASSERT_EQ(net.size(), 1u) << dir.read("cm.log");
    ASSERT_EQ(talk.size(), 1u) << dir.read("cm.log");
    EXPECT_EQ(net[0].substr(0, 10), "Ann Writer");
    EXPECT_EQ(net[0].substr(36, 9), "Joe Sysop");
    EXPECT_NE(net[0].find("Hello Joe,\rfrom the Internet.\r"), std::string::npos) << net[0];
    EXPECT_EQ(talk[0].substr(72, 10), "Cycle news");
    EXPECT_NE(talk[0].find("An article for the echo.\r"), std::string::npos) << talk[0];

    // The sysop answers both on the node; the tosser scans the answers out.
    dir.write("net/100.msg", local_msg("Joe Sysop", "UUCP", "Re: Cycle mail", 1,
                                       "\x01INTL 2:280/1 2:280/100\rTo: Ann Writer <ann@example.org>\r\r"
                                       "Hello Ann,\rthe answer from FTN.\r"));
    dir.write("talk/100.msg", local_msg("Joe Sysop", "All", "Re: Cycle news", 0,
                                        "Answered on the echo.\r--- editor\r * Origin: node (2:280/100)\r"));
    r = run_process({crashmail, "SETTINGS", "cm.prefs", "SCAN"}, root);
    ASSERT_EQ(r.code, 0) << r.out << dir.read("cm.log");

    // scan -> export -> deliver
    r = run_process({"./tarnwick", "export"}, root);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(dir.list("out").empty()) << r.err;
    std::vector<std::string> sent = save_replies();
    ASSERT_EQ(sent.size(), 2u) << r.err << dir.read("cm.log");
    // A gateway run started while the bridge delivers finds the SOUP
    // directory taken and leaves it alone.
    dir.write("mta.sh", "./tarnwick import >>gateway.out 2>&1; echo $? >>gateway.codes\nexec " + exim.sendmail + "\n");
    configure("Maildir exim/Maildir\nNntpServer 127.0.0.1:" + std::to_string(inn.port()) +
              "\nNewsGroup fido.test\nNntpTimeout 10\nSendmail sh mta.sh\n");
    r = soup("deliver");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("2 message(s) delivered, 0 refused"), std::string::npos) << r.err;
    EXPECT_FALSE(dir.exists("soup/REPLIES"));
    EXPECT_EQ(dir.read("gateway.codes"), "1\n");
    EXPECT_NE(dir.read("gateway.out").find(".tarnwick.lock"), std::string::npos) << dir.read("gateway.out");

    // The answer mail is in exim's maildir, once.
    auto arrived = maildir_messages("exim/Maildir");
    ASSERT_EQ(arrived.size(), 1u);
    // The next fetch brings the answer article from the server, once, and
    // packs the answer mail; nothing else comes twice.
    r = soup("pack");
    ASSERT_EQ(r.code, 0) << r.err;
    auto p = packet();
    ASSERT_EQ(p.size(), 2u);
    ASSERT_EQ(p[0].messages.size(), 1u);
    ASSERT_EQ(p[1].messages.size(), 1u);
    for (const auto& file : sent) {
        bool news = dir.read(file).rfind("Newsgroups:", 0) == 0 || dir.read(file).find("\nNewsgroups:") != std::string::npos;
        expect_same(file, news ? p[1].messages[0] : arrived[0]);
    }
    EXPECT_EQ(p[0].messages[0], arrived[0]);
    EXPECT_EQ(p[1].name, "fido.test");
}

}  // namespace
}  // namespace twtest

// tarnwick-soup against real peers: the gateway's own import, exim, INN.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>

#include "bridge/fixtures.h"

namespace twtest {
namespace {

const std::string kMail1 = "From: Ann <ann@example.org>\nTo: joe@example.com\nSubject: first\nMessage-ID: <m1@example.org>\n\nHello Joe.\n";
const std::string kMail2 = "From: bob@example.org\nTo: joe@example.com\nSubject: second\n\n.dot line\nFrom the start\n";

std::string names(const std::vector<PackedArea>& p) {
    std::string s;
    for (const auto& a : p) s += a.name + "(" + a.type + "):" + std::to_string(a.messages.size()) + " ";
    return s;
}

// ------------------------------------------------------------- packing

TEST_F(BridgeTest, PacksMaildirMboxAndBatchesOnceAndTheGatewayImportsThem) {
    dir.mkdir("Maildir/new");
    dir.mkdir("Maildir/cur");
    dir.mkdir("Maildir/tmp");
    dir.write("Maildir/new/1000.a.host", kMail1);
    dir.write("Maildir/cur/0999.b.host:2,S", "From ann@example.org Mon Jan  1 10:00:00 2024\n" + kMail2);
    dir.write("Maildir/new/1001.c.host", std::string("\x00\x01 not mail at all\n", 19));
    dir.write("Maildir/tmp/1002.d.host", kMail1);  // still being delivered
    // An mbox whose bodies hold "From " lines, escaped and not.
    dir.write("mbox",
              "From ann@example.org Mon Jan  1 10:00:00 2024\n" + kMail1 +
                  "\nFrom here on it is body text.\n>From an escaped line\n\n"
                  "From bob@example.org Tue Jan  2 11:00:00 2024\n" + kMail2);
    dir.mkdir("rnews");
    std::string art1 = "Newsgroups: alt.test,fido.test\nFrom: c@example.net\nSubject: cross\nMessage-ID: <n1@x>\n\nbody\n";
    std::string art2 = "Newsgroups: fido.test\nFrom: d@example.net\nSubject: plain\nMessage-ID: <n2@x>\n\nmore\n";
    dir.write("rnews/batch1", "#! rnews " + std::to_string(art1.size()) + "\n" + art1 + "#! rnews " +
                                  std::to_string(art2.size()) + "\n" + art2);
    dir.write("rnews/batch2", "#! cunbatch\n\x1f\x9d compressed");
    // What the gateway has not taken yet stays as it is.
    dir.write("soup/AREAS", "0000001\tEmail\tbn\n");
    dir.write("soup/0000001.msg", std::string("\0\0\0\x05Hi:x\n", 9));
    configure("Maildir Maildir\nMbox mbox\nRnewsDir rnews\nNewsGroup fido.test alt.test\n");

    RunResult r = soup("pack");
    EXPECT_EQ(r.code, 2) << r.err;  // the two bad inputs are reported
    EXPECT_NE(r.err.find("! Maildir/new/1001.c.host is not a mail message, left in place"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("rnews/batch2 is a compressed batch"), std::string::npos) << r.err;

    auto p = packet();
    ASSERT_EQ(p.size(), 3u) << names(p);
    EXPECT_EQ(p[0].prefix, "0000001");
    EXPECT_EQ(p[1].name, "Email");
    EXPECT_EQ(p[1].type, "bn");
    // new/ before cur/; an envelope line in a maildir file is dropped; ">From " loses its escape.
    EXPECT_EQ(p[1].messages, (std::vector<std::string>{kMail1, kMail2, kMail1 + "\nFrom here on it is body text.\nFrom an escaped line\n", kMail2}));
    // The crossposted article goes once, into the first configured group it names.
    EXPECT_EQ(p[2].name, "fido.test");
    EXPECT_EQ(p[2].type, "Bn");
    EXPECT_EQ(p[2].messages, (std::vector<std::string>{art1, art2}));

    // Packed mail is moved aside; what could not be packed stays.
    EXPECT_EQ(dir.list("Maildir/new"), (std::vector<std::string>{"1001.c.host"}));
    EXPECT_EQ(dir.list("Maildir/cur"), (std::vector<std::string>{}));
    EXPECT_EQ(dir.list("Maildir/.Gated/cur"), (std::vector<std::string>{"0999.b.host:2,S", "1000.a.host:2,S"}));
    EXPECT_TRUE(dir.exists("Maildir/tmp/1002.d.host"));
    EXPECT_FALSE(dir.exists("mbox"));
    EXPECT_NE(dir.read("mbox.gated").find(">From an escaped line"), std::string::npos);
    EXPECT_EQ(dir.list("rnews"), (std::vector<std::string>{"batch2"}));

    // A second run finds nothing new and changes nothing.
    std::string areas = dir.read("soup/AREAS");
    r = soup("pack");
    EXPECT_NE(r.err.find("0 message(s) packed"), std::string::npos) << r.err;
    EXPECT_EQ(dir.read("soup/AREAS"), areas);

    // The gateway takes the packet whole.
    ASSERT_EQ(::symlink(TW_BINARY, dir.path("tarnwick").c_str()), 0);
    for (const char* d : {"in", "out", "tmp"}) dir.mkdir(d);
    dir.write("tarnwick.cfg", "FidoAddr 2:280/1\nAddrMap 2:280/1.1 joe@example.com Joe Sysop\nMailerType Binkley\n"
                              "InboundDir in/\nOutboundDir out/\nSoupDir soup/\nTempDir tmp/\n");
    r = run_process({"./tarnwick", "import"}, dir.root());
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("-> 4 message(s) imported\nmail: 4 "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("-> 2 message(s) imported\nmail: 0         news: 2 "), std::string::npos) << r.err;
    EXPECT_EQ(dir.list("soup"), (std::vector<std::string>{".tarnwick.lock"}));
    EXPECT_EQ(dir.list("in").size(), 3u);
}

TEST_F(BridgeTest, PackingThatCannotFinishLeavesEveryMessageWhereItWas) {
    for (const char* d : {"Maildir/new", "Maildir/cur", "Maildir/tmp"}) dir.mkdir(d);
    std::string big = kMail1 + std::string(8000, 'x') + "\n";
    dir.write("Maildir/new/1.big", big);
    configure("Maildir Maildir\n");

    // Another run holds the SOUP directory: nothing is touched.
    {
        int fd = ::open(dir.path("soup/.tarnwick.lock").c_str(), O_RDWR | O_CREAT, 0644);
        ASSERT_EQ(::flock(fd, LOCK_EX), 0);
        RunResult r = soup("pack");
        EXPECT_EQ(r.code, 75) << r.err;
        EXPECT_NE(r.err.find("is held by another run"), std::string::npos) << r.err;
        ::close(fd);
    }
    // The disk fills up while the message file is written.
    RunResult r = soup("pack", "ulimit -f 4");
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_NE(r.err.find("Packing undone; every message stays where it was"), std::string::npos) << r.err;
    EXPECT_EQ(dir.list("soup"), (std::vector<std::string>{".tarnwick.lock"}));
    EXPECT_EQ(dir.list("Maildir/new"), (std::vector<std::string>{"1.big"}));

    // A run cut short before AREAS named its file is undone...
    dir.write("soup/0000007.msg", "partial");
    dir.write("soup/.tarnwick-soup.journal", "area\t0000007\nmove\tMaildir/new/1.big\tMaildir/.Gated/cur/1.big:2,S\n");
    r = soup("pack");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("Undoing the packing run that was cut short"), std::string::npos) << r.err;
    EXPECT_FALSE(dir.exists("soup/0000007.msg"));
    auto p = packet();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].messages, std::vector<std::string>{big});
    EXPECT_EQ(dir.list("Maildir/.Gated/cur"), std::vector<std::string>{"1.big:2,S"});

    // ...and one cut short after AREAS named it is finished, not packed again.
    dir.write("Maildir/new/2.m", kMail2);
    dir.write("soup/0000009.msg", std::string("\0\0\0\0", 4));
    dir.append("soup/AREAS", "0000009\tEmail\tbn\n");
    dir.write("soup/.tarnwick-soup.journal", "area\t0000009\nmove\tMaildir/new/2.m\tMaildir/.Gated/cur/2.m:2,S\n");
    r = soup("pack");
    EXPECT_NE(r.err.find("Finishing the packing run that was cut short"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("0 message(s) packed"), std::string::npos) << r.err;
    EXPECT_EQ(dir.list("Maildir/new"), std::vector<std::string>{});
    EXPECT_FALSE(dir.exists("soup/.tarnwick-soup.journal"));
}

// ------------------------------------------------------------ delivery

TEST_F(BridgeTest, DeliversEveryReplyToEximOnceAndKeepsRefusalsAside) {
    Exim exim(dir);
    if (!exim.available()) GTEST_SKIP() << "exim4 is not installed (Debian package exim4-daemon-light)";
    const std::string refused = "To: nobody@example.org\nFrom: joe@fido.example\nSubject: REFUSE this\n\nno\n";
    const std::string m3 = "To: carl@example.org\nFrom: joe@fido.example\nSubject: third\n\nlast\n";
    add_reply("MAIL0000", false, {kMail1});
    add_reply("MAIL0001", false, {kMail2, refused, m3});  // several messages in one file
    add_reply("MAIL000A", false, {m3 + "P.S.\n"});        // found without regard to case

    // The MTA is down: everything waits.
    configure("Sendmail exit 75\n");
    RunResult r = soup("deliver");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("exit code 75; the mail waits for the next run"), std::string::npos) << r.err;
    std::string replies = dir.read("soup/REPLIES");
    EXPECT_EQ(replies, "MAIL0000\tmail\tbn\nMAIL0001\tmail\tbn\nMAIL000A\tmail\tbn\n");

    // It takes one message, then fails: that one is not sent again.
    dir.write("flaky.sh", "if [ -e taken ]; then exit 75; fi; cat > taken\n");
    configure("Sendmail sh flaky.sh\n");
    r = soup("deliver");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(dir.read("taken"), kMail1);
    EXPECT_EQ(dir.read("soup/REPLIES"), "MAIL0001\tmail\tbn\nMAIL000A\tmail\tbn\n");
    EXPECT_FALSE(dir.exists("soup/MAIL0000.MSG"));

    configure("Sendmail " + exim.sendmail + "\n");
    r = soup("deliver");
    EXPECT_EQ(r.code, 2) << r.err;  // the refusal is reported
    EXPECT_NE(r.err.find("Mail system refused a message of soup/MAIL0001.MSG (exit code 1"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("3 message(s) delivered, 1 refused and kept aside, 0 reply file(s) waiting"), std::string::npos) << r.err;
    auto got = maildir_messages("exim/Maildir");
    ASSERT_EQ(got.size(), 3u);
    // Header and body arrive unchanged below exim's Received and id lines.
    std::vector<std::string> want{kMail2, m3, m3 + "P.S.\n"};
    for (const auto& w : want) {
        bool found = false;
        for (const auto& g : got) {
            std::string body_of_w = w.substr(w.find("\n\n"));
            found = found || (g.find(w.substr(0, w.find("\n\n"))) != std::string::npos &&
                              g.size() >= body_of_w.size() && g.compare(g.size() - body_of_w.size(), body_of_w.size(), body_of_w) == 0);
        }
        EXPECT_TRUE(found) << w;
    }
    EXPECT_EQ(dir.read("soup/refused/00000001.mail"), refused);
    EXPECT_NE(dir.read("soup/refused/00000001.reason").find("refused by test policy"), std::string::npos);
    EXPECT_FALSE(dir.exists("soup/REPLIES"));
    EXPECT_EQ(dir.list("soup"), (std::vector<std::string>{".tarnwick.lock", "refused"}));

    r = soup("deliver");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("No REPLIES found. Nothing to do."), std::string::npos);
    EXPECT_EQ(maildir_messages("exim/Maildir").size(), 3u);
}

// ---------------------------------------------------------------- news

std::string article(const std::string& groups, const std::string& id, const std::string& body) {
    return "From: joe@fido.example\nNewsgroups: " + groups + "\nSubject: about " + id + "\nMessage-ID: <" + id +
           "@fido.example>\n\n" + body;
}

// The article as the server serves it holds every line of the header we
// posted (the server adds its own) and exactly our body.
void expect_served(const std::string& served, const std::string& posted) {
    std::size_t split = posted.find("\n\n");
    std::string head = posted.substr(0, split + 1), body = posted.substr(split + 2);
    for (std::size_t pos = 0; pos < head.size();) {
        std::size_t nl = head.find('\n', pos);
        EXPECT_NE(served.find(head.substr(pos, nl + 1 - pos)), std::string::npos) << served;
        pos = nl + 1;
    }
    std::size_t sbody = served.find("\n\n");
    ASSERT_NE(sbody, std::string::npos);
    EXPECT_EQ(served.substr(sbody + 2), body);
}

TEST_F(BridgeTest, PostsRepliesToInnAndFetchesEachArticleOnce) {
    InnServer inn(dir);
    if (!inn.available()) GTEST_SKIP() << "INN is not installed (Debian package inn2) or the test is not root";
    ASSERT_TRUE(inn.start());
    const std::string a = article("fido.test", "a1", "First.\n.leading dot\n");
    const std::string b = article("fido.test,alt.test", "b2", "Crossposted.\n");
    const std::string c = article("no.such.group", "c3", "Nowhere.\n");
    add_reply("NEWS0000", true, {a});
    add_reply("NEWS0001", true, {b, c});
    configure("NntpServer 127.0.0.1:" + std::to_string(inn.port()) + "\nNewsGroup fido.test alt.test\nNntpTimeout 10\n");

    RunResult r = soup("deliver");
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_NE(r.err.find("News server refused a message of soup/NEWS0001.MSG (441"), std::string::npos) << r.err;
    EXPECT_EQ(dir.read("soup/refused/00000001.news"), c);
    EXPECT_FALSE(dir.exists("soup/REPLIES"));

    r = soup("pack");
    EXPECT_EQ(r.code, 0) << r.err;
    auto p = packet();
    ASSERT_EQ(p.size(), 1u);  // the crosspost is packed once, from the first group
    EXPECT_EQ(p[0].name, "fido.test");
    EXPECT_EQ(p[0].type, "Bn");
    ASSERT_EQ(p[0].messages.size(), 2u);
    expect_served(p[0].messages[0], a);
    expect_served(p[0].messages[1], b);
    EXPECT_EQ(dir.read("soup/.tarnwick-soup.state"), "alt.test 1\nfido.test 2\n");

    // The high-water mark holds: only new articles come next time.
    const std::string d = article("alt.test", "d4", "Later.\n");
    ASSERT_TRUE(nntp_post(inn.port(), d));
    dir.write("soup/AREAS", "");
    r = soup("pack");
    p = packet();
    ASSERT_EQ(p.size(), 1u) << r.err;
    EXPECT_EQ(p[0].name, "alt.test");
    ASSERT_EQ(p[0].messages.size(), 1u);
    expect_served(p[0].messages[0], d);

    // The server is down: the reply waits, the fetch fails, nothing moves.
    inn.stop();
    const std::string e = article("fido.test", "e5", "While down.\n");
    add_reply("NEWS0002", true, {e});
    dir.write("soup/AREAS", "");
    r = soup("cycle");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("the news waits for the next run"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("no news fetched"), std::string::npos) << r.err;
    EXPECT_EQ(dir.read("soup/REPLIES"), "NEWS0002\tnews\tBn\n");
    EXPECT_EQ(dir.read("soup/.tarnwick-soup.state"), "alt.test 2\nfido.test 2\n");

    // Back up: the reply goes out and comes back once.
    ASSERT_TRUE(inn.start());
    r = soup("cycle");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(dir.exists("soup/REPLIES"));
    p = packet();
    ASSERT_EQ(p.size(), 1u) << r.err;
    ASSERT_EQ(p[0].messages.size(), 1u);
    expect_served(p[0].messages[0], e);
}

TEST_F(BridgeTest, NewsServerThatTalksNonsenseOrHangsCostsNoMail) {
    for (const char* d : {"Maildir/new", "Maildir/cur", "Maildir/tmp"}) dir.mkdir(d);
    dir.write("Maildir/new/1.m", kMail1);
    add_reply("NEWS0000", true, {article("fido.test", "x1", "Text.\n")});
    for (auto mode : {FakeNntp::Mode::Garbage, FakeNntp::Mode::Hang}) {
        FakeNntp server(mode);
        configure("Maildir Maildir\nNntpServer 127.0.0.1:" + std::to_string(server.port()) +
                  "\nNewsGroup fido.test\nNntpTimeout 1\n");
        auto t0 = std::chrono::steady_clock::now();
        RunResult r = soup("cycle");
        double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_LT(secs, 15.0);
        const char* why = mode == FakeNntp::Mode::Garbage ? "server answers garbage" : "server timed out";
        EXPECT_NE(r.err.find(std::string("News server 127.0.0.1: ") + why + "; no news fetched"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(why + std::string("; the news waits for the next run")), std::string::npos) << r.err;
        EXPECT_EQ(dir.read("soup/REPLIES"), "NEWS0000\tnews\tBn\n");
        EXPECT_FALSE(dir.exists("soup/.tarnwick-soup.state"));
    }
    // The mail went into the packet all the same, once.
    auto p = packet();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].messages, std::vector<std::string>{kMail1});
}

}  // namespace
}  // namespace twtest

// Hosted lists through the real binary: commands and their replies,
// postings sent on to the subscribers, test mode and pack, over several
// import runs on one list file.
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

using twtest::CliTest;

const std::string kListHead =
    "ListName Test List\nListAddress list@gate.example\nListArea TEST.LIST\nKeeperName Kim Keeper\n"
    "KeeperAddress keeper@gate.example\nSubscribeInfo lists/info.txt\nWelcome lists/welcome.txt\n"
    "GoodBye lists/bye.txt\nPasswordInfo lists/pw.txt\nNewPassword lists/newpw.txt\nReadOnly lists/ro.txt\n"
    "BlackList lists/black.txt\n";

std::string record(const std::string& addr, const std::string& name = "", int status = 1,
                   const std::string& pw = "", char marker = '+') {
    return std::string(1, marker) + "\n" + addr + "\n" + name + "\n" + std::to_string(status) + "\n" + pw + "\n";
}

struct Mail {
    std::string from;
    std::string subject;
    std::string extra = "";  // further header lines
    std::string body = "Hello.\n";
};

class ListOps : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        for (const char* t : {"info", "welcome", "bye", "pw", "newpw", "ro", "black"})
            dir.write(std::string("lists/") + t + ".txt",
                      std::string(t) + " @YOURNAME@ <@YOURADDRESS@> pw=@PASSWORD@ @LISTNAME@\n");
    }
    void setup_list(const std::string& users, const std::string& extra_settings = "",
                    const std::string& config = "") {
        dir.write("lists/t.lst", kListHead + extra_settings + "ListUsers\n" + users);
        write_config("ListConfig lists/t.lst\n" + config);
    }
    // One mailbox area with the messages, all sent to the list.
    void inbound(const std::vector<Mail>& mails) {
        dir.write("soup/AREAS", "MAIL0001\tEmail\tmn\n");
        std::string box;
        for (const Mail& m : mails)
            box += "From x@y Mon Jan  1 00:00:00 2026\nFrom: " + m.from + "\nTo: list@gate.example\nSubject: " +
                   m.subject + "\n" + m.extra + "\n" + m.body;
        dir.write("soup/MAIL0001.msg", box);
    }
    twtest::RunResult import(const std::vector<Mail>& mails, std::vector<std::string> args = {}) {
        inbound(mails);
        args.insert(args.begin(), "import");
        return run(args);
    }
    // The messages of the reply packet, in REPLIES order, with the values of
    // the clock-dependent lines masked; the packet is then cleared.
    std::vector<std::string> replies() {
        std::vector<std::string> out;
        std::string index = dir.read("soup/REPLIES");
        for (std::size_t at = 0; at < index.size();) {
            std::size_t nl = index.find('\n', at);
            std::string file = "soup/" + index.substr(at, index.find('\t', at) - at) + ".MSG";
            at = nl == std::string::npos ? index.size() : nl + 1;
            std::string bytes = dir.read(file);
            for (std::size_t p = 0; p + 4 <= bytes.size();) {
                std::size_t n = (std::size_t((unsigned char)bytes[p]) << 24) |
                                (std::size_t((unsigned char)bytes[p + 1]) << 16) |
                                (std::size_t((unsigned char)bytes[p + 2]) << 8) | (unsigned char)bytes[p + 3];
                out.push_back(mask(bytes.substr(p + 4, n)));
                p += 4 + n;
            }
            std::remove(dir.path(file).c_str());
        }
        std::remove(dir.path("soup/REPLIES").c_str());
        return out;
    }
    static std::string mask(std::string m) {
        std::size_t d = m.find("\nDate: ");
        if (d != std::string::npos && m.compare(0, 4, "To: ") == 0) m = star(m, d + 7, m.find('\n', d + 1));
        std::size_t i = m.find("\nMessage-ID: <admin-");
        if (i != std::string::npos) m = star(m, i + 20, m.find('-', i + 20));
        return m;
    }
    // m with the bytes from..to replaced by '*' (built by appending: GCC 12
    // at -O3 misreads an in-place replace as an overlapping copy).
    static std::string star(const std::string& m, std::size_t from, std::size_t to) {
        std::string out(m, 0, from);
        out += '*';
        if (to != std::string::npos) out.append(m, to, std::string::npos);
        return out;
    }
    // The administrative reply to the address with the text file's line.
    static std::string reply(const std::string& to, const std::string& subject, const std::string& body,
                             const std::string& in_reply_to = "") {
        return "To: " + to + "\nFrom: list@gate.example (Test List)\nReply-to: list@gate.example\nSubject: Re: " +
               subject + "\nDate: *\nMessage-ID: <admin-*-list@gate.example>\n" +
               (in_reply_to.empty() ? "" : "In-Reply-To: <" + in_reply_to + ">\n") +
               "X-MailServer: Tarnwick-DOS v1.05\n\n" + body;
    }
    std::string list_file() { return dir.read("lists/t.lst"); }
    std::string packets() {
        std::string all;
        for (const std::string& f : dir.list("in")) all += dir.read("in/" + f);
        return all;
    }
};

TEST_F(ListOps, NewcomerSubscribesPostsChangesPasswordUnsubscribesAndIsPacked) {
    const std::string users = record("ann@x.example", "Ann") + record("sue@x.example", "Sue", 3);
    setup_list(users);

    twtest::RunResult r = import({{"Bob <bob@y.example>", "subscribe", "Message-ID: <s1@y.example>\n"}}, {"/verbose"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("+ reply from list@gate.example (Test List) to bob@y.example (Bob): lists/welcome.txt\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("listmsg: 0      listcmd: 1      reply: 1    \n"), std::string::npos) << r.err;
    EXPECT_EQ(replies(), std::vector<std::string>{reply("bob@y.example (Bob)", "subscribe",
                                                        "welcome Bob <bob@y.example> pw= Test List\n", "s1@y.example")});
    EXPECT_EQ(list_file(), kListHead + "ListUsers\n" + users + record("bob@y.example", "Bob"));

    r = import({{"Bob <bob@y.example>", "Meeting",
                 "Message-ID: <1234@host>\nDate: Tue, 08 Dec 2026 11:22:36 +0100\nCc: other@z\nX-Foo: bar\n",
                 "First line.\n\nLast line.\n"}});
    EXPECT_NE(r.err.find("listmsg: 1      listcmd: 0      reply: 0    \n"), std::string::npos) << r.err;
    EXPECT_EQ(replies(), std::vector<std::string>{
                             "Bcc: <ann@x.example>, <bob@y.example>\n"
                             "From: bob@y.example (Bob)\nReply-to: list@gate.example\nSender: list@gate.example\n"
                             "Errors-To: keeper@gate.example\nSubject: Meeting\n"
                             "Date: Tue, 08 Dec 2026 11:22:36 +0100\nMessage-ID: <1234#host-list@gate.example>\n"
                             "X-MailServer: Tarnwick-DOS v1.05\nMime-version: 1.0\n"
                             "Content-Type: text/plain; charset=us-ascii\nContent-Transfer-Encoding: 7bit\n\n"
                             "First line.\n\nLast line.\n"});
    // The echo-area copy carries the changed identifier.
    std::string pkt = packets();
    EXPECT_NE(pkt.find("AREA:TEST.LIST\r"), std::string::npos);
    EXPECT_NE(pkt.find("\x01MSGID: <1234#host> "), std::string::npos);
    std::remove(dir.path("in/" + dir.list("in").front()).c_str());

    r = import({{"Bob <bob@y.example>", "changepass s3cret"}});
    EXPECT_EQ(replies(), std::vector<std::string>{reply("bob@y.example (Bob)", "changepass s3cret",
                                                        "newpw Bob <bob@y.example> pw=s3cret Test List\n")});
    EXPECT_EQ(list_file(), kListHead + "ListUsers\n" + users + record("bob@y.example", "Bob", 1, "", '*') +
                               record("bob@y.example", "Bob", 1, "s3cret"));

    r = import({{"Bob <bob@y.example>", "unsubscribe"}, {"Bob <bob@y.example>", "unsubscribe"}});
    EXPECT_EQ(replies(), (std::vector<std::string>{
                             reply("bob@y.example (Bob)", "unsubscribe", "bye Bob <bob@y.example> pw=s3cret Test List\n"),
                             reply("bob@y.example (Bob)", "unsubscribe", "info Bob <bob@y.example> pw= Test List\n")}));
    const std::string unpacked = kListHead + "ListUsers\n" + users + record("bob@y.example", "Bob", 1, "", '*') +
                                 record("bob@y.example", "Bob", 1, "s3cret", '*');
    EXPECT_EQ(list_file(), unpacked);

    r = run({"pack", "/verbose"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("Packing list #1: Test List\n* removed deleted user record bob@y.example\n"
                         "* removed deleted user record bob@y.example\n"
                         "--> removed 2 deleted user records\n    + 0 erroneous lines\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(list_file(), kListHead + "ListUsers\n" + users);
    EXPECT_EQ(dir.list("lists").size(), 8u);  // no temporary file left
}

TEST_F(ListOps, RefusedPostingsAreAnsweredAndGoNowhere) {
    setup_list(record("ro@x", "", 2) + record("bl@x", "", 3) + "+\nbroken@x\n\n");
    twtest::RunResult r = import({{"new@x", "Hi"}, {"ro@x", "Hi"}, {"bl@x", "Hi"}, {"broken@x", "Hi"}});
    EXPECT_EQ(replies(), (std::vector<std::string>{reply("new@x", "Hi", "info  <new@x> pw= Test List\n"),
                                                   reply("ro@x", "Hi", "ro  <ro@x> pw= Test List\n"),
                                                   reply("bl@x", "Hi", "black  <bl@x> pw= Test List\n"),
                                                   reply("broken@x", "Hi", "info  <broken@x> pw= Test List\n")}));
    // The record cut short is found by nobody.
    EXPECT_NE(r.err.find("! internal consistency error in file lists/t.lst\n"), std::string::npos);
    EXPECT_EQ(packets().find("AREA:"), std::string::npos);
    EXPECT_NE(r.err.find("listmsg: 4      listcmd: 0      reply: 4    \n"), std::string::npos) << r.err;
}

TEST_F(ListOps, PasswordsGuardEveryCommand) {
    // The derived password of bob@y.example for the secret s3cr3t.
    const std::string derived = "97dc2922";
    setup_list("", "ListPassword s3cr3t\n");
    import({{"bob@y.example", "subscribe"}, {"bob@y.example", "Subscribe wrong"}});
    EXPECT_EQ(replies(), (std::vector<std::string>{
                             reply("bob@y.example", "subscribe", "pw  <bob@y.example> pw=" + derived + " Test List\n"),
                             reply("bob@y.example", "Subscribe wrong",
                                   "pw  <bob@y.example> pw=" + derived + " Test List\n")}));
    EXPECT_EQ(list_file(), kListHead + "ListPassword s3cr3t\nListUsers\n");

    import({{"bob@y.example", "subscribed " + derived},
            {"bob@y.example", "changepass " + derived},
            {"bob@y.example", "changepass " + derived + "  \t New1"},
            {"bob@y.example", "unsubscribe " + derived}});
    std::vector<std::string> got = replies();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_NE(got[0].find("\n\nwelcome  <bob@y.example> pw=" + derived), std::string::npos);
    EXPECT_NE(got[1].find("\n\npw  <bob@y.example>"), std::string::npos);
    EXPECT_NE(got[2].find("\n\nnewpw  <bob@y.example> pw=New1 Test List\n"), std::string::npos);
    EXPECT_NE(got[3].find("\n\npw  <bob@y.example> pw=New1"), std::string::npos);
    EXPECT_EQ(list_file(), kListHead + "ListPassword s3cr3t\nListUsers\n" +
                               record("bob@y.example", "", 1, derived, '*') + record("bob@y.example", "", 1, "New1"));

    // An empty secret still asks for a password, which no newcomer has.
    setup_list("", "ListPassword\n");
    import({{"bob@y.example", "subscribe x"}});
    got = replies();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_NE(got[0].find("\n\npw "), std::string::npos);
}

TEST_F(ListOps, TestModeChangesOnlyTheDuplicate) {
    setup_list(record("ann@x", "", 1, "", '*'));
    const std::string original = list_file();
    twtest::RunResult r = import({{"bob@y", "subscribe"}}, {"/test"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(list_file(), original);
    EXPECT_EQ(dir.read("lists/t.~LC"), original + record("bob@y"));
    EXPECT_TRUE(dir.exists("soup/MAIL0001.msg"));
    // Each run starts from a fresh duplicate; pack works on it alone.
    r = run({"pack", "/test"});
    EXPECT_NE(r.err.find("--> removed 1 deleted user records\n    + 0 erroneous lines\n"), std::string::npos);
    EXPECT_EQ(list_file(), original);
    EXPECT_EQ(dir.read("lists/t.~LC"), kListHead + "ListUsers\n");
}

TEST_F(ListOps, ReplyTextsWithOverlongLinesAndOpenPlaceholders) {
    std::string piece = std::string("@LISTNAME@").append(117, 'x');  // 127 characters
    std::string text;
    for (int i = 0; i < 80; ++i) text += piece;
    text.append("\n").append(120, 'y').append("@LISTNAME@\n@YOURNAME@@YOURADDRESS@ @KEEPERNAME");
    dir.write("lists/welcome.txt", text);
    setup_list("");
    import({{"Bob <bob@y>", "subscribe"}});
    std::string expect;
    for (int i = 0; i < 80; ++i) expect.append("Test List").append(117, 'x');
    // The placeholder straddling two pieces and the unterminated one stay.
    expect.append("\n").append(120, 'y').append("@LISTNAME@\nBobbob@y @KEEPERNAME");
    EXPECT_EQ(replies(), std::vector<std::string>{reply("bob@y (Bob)", "subscribe", expect)});
}

TEST_F(ListOps, PackRepairsAndReports) {
    dir.write("lists/t.lst", "ListName T\nListAddress t@x\nNewStatus 2\nlistusers\n" + record("a@x") +
                                 "junk line\n" + record("d@x", "", 1, "", '*') + "+old\nb@x\nB\n1\npw\n" +
                                 "+\n" + std::string(400, 'z') + "\n\n1\n\n+\nc@x");
    dir.write("lists/u.lst", "ListName U\nListAddress u@x\nListUsersOld\n" + record("a@x", "", 1, "", '*'));
    dir.write("lists/v.lst", "ListName V\nListAddress v@x\nListUsers\n+\n");
    write_config("ListConfig lists/t.lst\nListConfig lists/u.lst\nListConfig lists/v.lst\n");
    twtest::RunResult r = run({"pack", "/verbose"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("Packing list #1: T\n* removed erroneous line 10: junk line\n"
                         "* removed deleted user record d@x\n* extended partial user record at end of file\n"
                         "--> removed 1 deleted user records\n    + 1 erroneous lines\n"
                         "Packing list #2: U\n--> nothing to do\nPacking list #3: V\n--> nothing to do\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(dir.read("lists/t.lst"), "ListName T\nListAddress t@x\nNewStatus 2\nlistusers\n" + record("a@x") +
                                           record("b@x", "B", 1, "pw") + record(std::string(400, 'z')) +
                                           "+\nc@x\n\n2\n\n");
    EXPECT_EQ(dir.read("lists/u.lst"), "ListName U\nListAddress u@x\nListUsersOld\n" + record("a@x", "", 1, "", '*'));
    EXPECT_EQ(dir.read("lists/v.lst"), "ListName V\nListAddress v@x\nListUsers\n");

    write_config();
    r = run({"pack"});
    EXPECT_EQ(r.err, "No lists are configured; cannot PACK\n");
}

}  // namespace

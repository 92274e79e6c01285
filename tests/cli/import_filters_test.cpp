// Junk and own-organization filters and the QuoteTo attribution scan, seen
// in the packets an import writes.
#include <filesystem>
#include <map>

#include "cli/cli.h"
#include "support/packet_builder.h"
#include "support/soup_builder.h"

using namespace twtest;

namespace {

class Filters : public CliTest {
protected:
    // Imports a mail area and a news area (either may be empty); returns the
    // messages written, by subject.
    std::map<std::string, FtnMessage> import(const std::string& extra, const std::vector<std::string>& mail,
                                                const std::vector<std::string>& news = {}) {
        for (const auto& n : dir.list("in")) std::filesystem::remove(dir.path("in/" + n));
        for (const auto& n : dir.list("soup")) std::filesystem::remove(dir.path("soup/" + n));
        write_config(extra);
        SoupBuilder soup(dir, "soup");
        if (!mail.empty()) soup.area("MAIL", "Email", "mn", mbox(mail));
        if (!news.empty()) soup.area("NEWS", "comp.misc.tw", "un", rnews(news));
        last = run({"import", "/g"});
        std::map<std::string, FtnMessage> out;
        for (auto& m : parse_packets_in(dir, "in")) out[m.subject] = m;
        return out;
    }
    static std::string area_of(const FtnMessage& m) {
        if (m.text.compare(0, 5, "AREA:") != 0) return "NETMAIL";
        return m.text.substr(5, m.text.find('\r') - 5);
    }
    static std::string junk_of(const FtnMessage& m) {
        std::size_t at = m.text.find("\x01JUNKMAIL: ");
        if (at == std::string::npos) return "";
        return m.text.substr(at + 11, m.text.find('\r', at) - at - 11);
    }
    RunResult last;
};

std::string mail(const std::string& from, const std::string& subject, const std::string& body = "text",
                 const std::string& to = "joe@example.com", const std::string& extra = "") {
    return "From: " + from + "\nTo: " + to + "\nSubject: " + subject + "\n" + extra + "\n" + body + "\n";
}

std::string article(const std::string& subject, const std::string& body, const std::string& groups = "comp.misc.tw",
                    const std::string& from = "Poster <poster@news.example>") {
    return "From: " + from + "\nNewsgroups: " + groups + "\nSubject: " + subject + "\n\n" + body + "\n";
}

const char* kFilters =
    "Organization Tarnwick Gate\nOwnOrgAction junk\nOwnOrgArea gate.own\n"
    "JunkAction junk\nJunkArea spam.area\nJunkFromTo Yes\n"
    "JunkFrom *@*.spam.example\nJunkFrom *\n"
    "JunkCategory News\nJunkSubj make money\n"
    "JunkCategory Email\nJunkFrom news*@*.example.org\nJunkStr lottery\n"
    "JunkCategory All\nJunkSubj free offer\nJunkGroup alt.spam\n"
    "JunkCategory None\nJunkStr viagra\n"
    "MailingList TW.LIST list@lists.example [tw]\n";

TEST_F(Filters, JunkTestsInTheirOrderWithCategoriesAndOwnOrganization) {
    auto m = import(kFilters,
                    {mail("x@mx.spam.example", "m01 from"), mail("newsbot@mail.example.org", "m02 from"),
                     mail("localuser", "m03 from, lone star"), mail("a@ok.example", "m04 Make money, news only"),
                     mail("a@ok.example", "m05 a FREE OFFER"), mail("a@ok.example", "m06 cheap viagra"),
                     mail("a@ok.example", "m07 body", "you won the Lottery!"),
                     mail("a@ok.example", "m08 None is never searched in text", "viagra"),
                     mail("joe@example.com", "m09 to myself"),
                     mail("a@ok.example", "m10 own org, free offer", "lottery", "joe@example.com",
                          "Organization: Tarnwick Gate\n"),
                     mail("a@ok.example", "m11 other org", "text", "joe@example.com", "Organization: tarnwick gate\n"),
                     mail("x@mx.spam.example", "[tw] m12 list, free offer", "text", "list@lists.example"),
                     mail("a@ok.example", "[tw] m13 list body", "the lottery", "list@lists.example")},
                    {article("n01 spam group", "x", "comp.misc.tw,alt.spam"), article("n02 make money", "x"),
                     article("n03 lottery in news text", "lottery"), article("n04 viagra", "x")});
    ASSERT_EQ(last.code, 0) << last.err;
    std::map<std::string, std::string> expect = {
        {"m01 from", "from"},         {"m02 from", "from"},      {"m03 from, lone star", "from"},
        {"m04 Make money, news only", ""}, {"m05 a FREE OFFER", "subject"}, {"m06 cheap viagra", "body"},
        {"m07 body", "body"},         {"m08 None is never searched in text", ""}, {"m09 to myself", "from=to"},
        {"m10 own org, free offer", "OwnOrg"}, {"m11 other org", ""},  {"[tw] m12 list, free offer", ""},
        {"[tw] m13 list body", "body"},    {"n01 spam group", "group"}, {"n02 make money", "subject"},
        {"n03 lottery in news text", ""}, {"n04 viagra", "body"}};
    ASSERT_EQ(m.size(), expect.size()) << last.err;
    for (const auto& [subject, word] : expect) {
        ASSERT_TRUE(m.count(subject)) << subject;
        const FtnMessage& msg = m[subject];
        EXPECT_EQ(junk_of(msg), word) << subject;
        bool list = subject[0] == '[';
        std::string area = word.empty() ? (subject[0] == 'n' ? "COMP.MISC.TW" : list ? "TW.LIST" : "NETMAIL")
                           : word == "OwnOrg" ? "GATE.OWN"
                                              : "SPAM.AREA";
        EXPECT_EQ(area_of(msg), area) << subject;
        // The junk action names the message to JunkMail and keeps the name it had.
        if (!word.empty()) {
            EXPECT_EQ(msg.to, "JunkMail") << subject;
            std::string was = subject[0] == 'm' ? "Joe Sysop" : "All";
            EXPECT_NE(msg.text.find("\x01JUNKMAIL-TO: " + was + "\r"), std::string::npos) << subject << msg.text;
        }
    }
    // Own organization is not junk: one JUNKMAIL line only.
    EXPECT_EQ(m["m10 own org, free offer"].text.find("\x01JUNKMAIL: body"), std::string::npos);
    EXPECT_NE(last.err.find("junk: 11 "), std::string::npos) << last.err;
    EXPECT_NE(last.err.find("own org: 1 "), std::string::npos) << last.err;
}

TEST_F(Filters, EachActionForJunkAndOwnOrganization) {
    std::vector<std::string> msgs = {mail("x@mx.spam.example", "junk"),
                                     mail("a@ok.example", "own", "text", "joe@example.com",
                                          "Organization: Tarnwick Gate\n"),
                                     mail("a@ok.example", "clean")};
    const std::string base = "Organization: x\nJunkFrom *@*.spam.example\nOrganization Tarnwick Gate\n";
    // ignore: where it was, marked, named as before.
    auto m = import(base + "JunkAction ignore\nOwnOrgAction ignore\n", msgs);
    ASSERT_EQ(m.size(), 3u) << last.err;
    EXPECT_EQ(area_of(m["junk"]), "NETMAIL");
    EXPECT_EQ(m["junk"].to, "Joe Sysop");
    EXPECT_EQ(junk_of(m["junk"]), "from");
    EXPECT_EQ(junk_of(m["own"]), "OwnOrg");
    EXPECT_EQ(m["junk"].text.find("JUNKMAIL-TO"), std::string::npos);
    // move: into the default areas, named as before.
    m = import(base + "JunkAction move\nOwnOrgAction move\n", msgs);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(area_of(m["junk"]), "JUNKMAIL");
    EXPECT_EQ(area_of(m["own"]), "ARCHIVES");
    EXPECT_EQ(m["own"].to, "Joe Sysop");
    EXPECT_EQ(m["junk"].text.find("JUNKMAIL-TO"), std::string::npos);
    // kill: dropped, but counted as imported (and as junk).
    m = import(base + "JunkAction kill\nOwnOrgAction kill\n", msgs);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_TRUE(m.count("clean"));
    EXPECT_NE(last.err.find("-> 3 message(s) imported"), std::string::npos) << last.err;
    EXPECT_NE(last.err.find("junk: 1 "), std::string::npos);
    EXPECT_NE(last.err.find("own org: 0 "), std::string::npos);
}

TEST_F(Filters, QuoteToNamesTheQuotedAuthor) {
    const std::string cfg =
        "QuoteTo Yes\nQuoteChar > 0-5 0-3\nQuoteMask wrote\nQuoteMask says...\nQuoteMask writes\n";
    std::string para(80, 'p');
    auto m = import(cfg, {},
                    {article("a1", "On Tue, 5 Jan 2021, Jane Doe wrote:\n> quoted\nreply"),
                     article("a2", "Jane Doe <jane@example.org> wrote:\n\n> quoted"),
                     article("a3", "In article <id@host>, jd@example.org says...\n> quoted"),
                     article("a4", "In comp.misc.tw John Q. Public writes:\nJQP> initials-quoted text"),
                     article("a5", "Jane Doe wrote:\n" + para + "\n> quoted too late"),
                     article("a6", "Me and 2 others wrote:\n> digits in the name"),
                     article("a7", "Jane Doe wrote:\nno quote follows"),
                     article("a8", "wrote: at the start\n> quoted")});
    ASSERT_EQ(m.size(), 8u) << last.err;
    EXPECT_EQ(m["a1"].to, "Jane Doe");
    EXPECT_EQ(m["a2"].to, "Jane Doe");
    EXPECT_EQ(m["a3"].to, "jd@example.org");  // no name: the address
    EXPECT_EQ(m["a4"].to, "John Q. Public");  // the newsgroup lead-in is cut off
    EXPECT_EQ(m["a5"].to, "All");             // a long paragraph before the quote
    EXPECT_EQ(m["a6"].to, "All");
    EXPECT_EQ(m["a7"].to, "All");
    EXPECT_EQ(m["a8"].to, "All");
}

}  // namespace

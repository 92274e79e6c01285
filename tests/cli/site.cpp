#include "cli/site.h"

#include <algorithm>
#include <cstdio>
#include <regex>

#include "support/packet_builder.h"
#include "support/soup_builder.h"

namespace twtest {

namespace {

bool ends_with_ci(const std::string& s, const std::string& tail) {
    if (s.size() < tail.size()) return false;
    for (std::size_t i = 0; i < tail.size(); ++i)
        if (std::tolower((unsigned char)s[s.size() - tail.size() + i]) != std::tolower((unsigned char)tail[i]))
            return false;
    return true;
}

std::string mail(const std::string& from, const std::string& to, const std::string& subject,
                 const std::string& body) {
    std::string id = subject;
    for (char& c : id)
        if (c == ' ') c = '.';
    return "From: " + from + "\nTo: " + to + "\nSubject: " + subject + "\nMessage-ID: <" + id + "@y.example>\n\n" +
           body;
}

const char* const kReplyTexts[] = {"info", "welcome", "bye", "pw", "newpw", "ro", "black"};

}  // namespace

std::optional<std::vector<std::string>> packet_subjects(const std::string& b) {
    std::vector<FtnMessage> messages;
    if (walk_packet(b, messages) != b.size()) return std::nullopt;
    std::vector<std::string> subjects;
    for (const FtnMessage& m : messages) subjects.push_back(m.subject);
    return subjects;
}

std::string reply_key(const std::string& m) {
    std::size_t s = m.compare(0, 9, "Subject: ") == 0 ? 0 : m.find("\nSubject: ");
    std::string subject = s == std::string::npos ? "" : m.substr(s + (s ? 1 : 0), m.find('\n', s + 1) - s - (s ? 1 : 0));
    std::size_t body = m.find("\n\n");
    return subject + " | " + (body == std::string::npos ? "" : m.substr(body + 2));
}

std::optional<std::map<std::string, std::string>> active_subscribers(const std::string& f) {
    std::map<std::string, std::string> out;
    std::size_t users = f.find("\nListUsers\n");
    if (users == std::string::npos) return std::nullopt;
    std::vector<std::string> lines;
    for (std::size_t p = users + 11; p < f.size();) {
        std::size_t nl = f.find('\n', p);
        if (nl == std::string::npos) return std::nullopt;  // a line cut short
        lines.push_back(f.substr(p, nl - p));
        p = nl + 1;
    }
    if (lines.size() % 5) return std::nullopt;
    for (std::size_t i = 0; i < lines.size(); i += 5) {
        if (lines[i] == "+") {
            if (out.count(lines[i + 1])) return std::nullopt;  // two active copies
            out[lines[i + 1]] = lines[i + 4];
        } else if (lines[i] != "*") {
            return std::nullopt;
        }
    }
    return out;
}

void SiteTest::make_site(const std::string& extra_config) {
    for (const char* d : {"in", "soup", "lists"})
        for (const std::string& name : dir.list(d)) std::remove(dir.path(std::string(d) + "/" + name).c_str());
    for (const char* t : kReplyTexts)
        dir.write(std::string("lists/") + t + ".txt", std::string(t) + " @YOURADDRESS@ pw=@PASSWORD@\n");
    dir.write("lists/t.lst",
              "ListName Test List\nListAddress list@gate.example\nKeeperAddress keeper@gate.example\n"
              "SubscribeInfo lists/info.txt\nWelcome lists/welcome.txt\nGoodBye lists/bye.txt\n"
              "PasswordInfo lists/pw.txt\nNewPassword lists/newpw.txt\nReadOnly lists/ro.txt\n"
              "BlackList lists/black.txt\nListUsers\n+\nann@x.example\nAnn\n1\n\n+\ncat@x.example\nCat\n1\n\n");
    write_config("ListConfig lists/t.lst\nMaxPKTSize 4\n" + extra_config);
    const std::string filler = std::string(900, 'x') + "\n";
    const std::string joe = "joe@example.com", list = "list@gate.example";
    SoupBuilder soup(dir, "soup");
    soup.area("MAIL0001", "Email", "mn",
              mbox({mail("a@y.example", joe, "n1", "Netmail one.\n" + filler),
                    mail("bob@y.example", list, "subscribe", "\n"),
                    mail("b@y.example", joe, "n2", "Netmail two.\n" + filler),
                    mail("ann@x.example", list, "p1", "Posting one.\n"),
                    mail("cat@x.example", list, "unsubscribe", "\n"),
                    mail("ann@x.example", list, "changepass new1", "\n"),
                    mail("dan@y.example", list, "p2", "Posting of a stranger.\n"),
                    mail("c@y.example", joe, "n3", "Netmail three.\n" + filler)}));
    soup.area("NEWS0001", "comp.test", "un",
              rnews({"Newsgroups: comp.test\nFrom: x@y.example\nSubject: a1\n\nArticle one.\n",
                     "Newsgroups: comp.test\nFrom: x@y.example\nSubject: a2\n\nArticle two.\n"}));
}

SiteTest::Outputs SiteTest::expected() {
    Outputs o;
    for (const char* s : {"n1", "n2", "n3", "a1", "a2"}) o.ftn[s] = 1;
    for (const char* k : {"Subject: Re: subscribe | welcome bob@y.example pw=\n", "Subject: p1 | Posting one.\n",
                          "Subject: Re: unsubscribe | bye cat@x.example pw=\n",
                          "Subject: Re: changepass new1 | newpw ann@x.example pw=new1\n",
                          "Subject: Re: p2 | info dan@y.example pw=\n"})
        o.replies[k] = 1;
    o.subscribers = {{"ann@x.example", "new1"}, {"bob@y.example", ""}};
    return o;
}

SiteTest::Outputs SiteTest::outputs(const std::string& when) {
    Outputs o;
    for (const std::string& name : dir.list("in")) {
        if (!ends_with_ci(name, ".pkt")) continue;
        auto subjects = packet_subjects(dir.read("in/" + name));
        EXPECT_TRUE(subjects) << when << ": the tosser would take in/" << name << ", which is not whole";
        if (subjects)
            for (const auto& s : *subjects) ++o.ftn[s];
    }
    std::string index = dir.read("soup/REPLIES");
    static const std::regex line("(MAIL|NEWS)[0-9A-F]{4}\t(mail|news)\t[bB]n");
    std::vector<std::string> registered;
    for (std::size_t at = 0; at < index.size();) {
        std::size_t nl = index.find('\n', at);
        std::string text = index.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
        at = nl == std::string::npos ? index.size() : nl + 1;
        if (!std::regex_match(text, line) || nl == std::string::npos) {
            ADD_FAILURE() << when << ": REPLIES holds the line \"" << text << "\"";
            continue;
        }
        std::string file = text.substr(0, 8) + ".MSG";
        registered.push_back(file);
        if (!dir.exists("soup/" + file)) {
            ADD_FAILURE() << when << ": REPLIES names soup/" << file << ", which is missing";
            continue;
        }
        bool whole = false;
        for (const std::string& m : unframe(dir.read("soup/" + file), &whole)) ++o.replies[reply_key(m)];
        EXPECT_TRUE(whole) << when << ": soup/" << file << " is not whole";
    }
    // A reply file no REPLIES line names is never sent: it must not hold
    // mail, unless a killed run left it (the mail is still in its input).
    for (const std::string& name : orphan_replies_allowed ? std::vector<std::string>{} : dir.list("soup"))
        if ((name.rfind("MAIL", 0) == 0 || name.rfind("NEWS", 0) == 0) && name.size() > 4 &&
            name.compare(name.size() - 4, 4, ".MSG") == 0 &&
            std::find(registered.begin(), registered.end(), name) == registered.end())
            ADD_FAILURE() << when << ": soup/" << name << " is not in REPLIES";
    auto subs = active_subscribers(dir.read("lists/t.lst"));
    EXPECT_TRUE(subs) << when << ": the list file is damaged:\n" << dir.read("lists/t.lst");
    if (subs) o.subscribers = *subs;
    return o;
}

bool SiteTest::input_consumed() { return !dir.exists("soup/AREAS") && !dir.exists("soup/MAIL0001.msg") &&
                                         !dir.exists("soup/NEWS0001.msg"); }

}  // namespace twtest

// Real-world mail: every message of Python's own e-mail test corpus goes
// through one import, with its From, To and Subject in the FTN header.
#include <algorithm>
#include <cctype>
#include <sstream>

#include "cli/cli.h"
#include "support/packet_builder.h"
#include "support/soup_builder.h"

using namespace twtest;

namespace {

std::string corpus_dir() {
    Scratch tmp;
    RunResult r = run_process({"/bin/sh", "-c",
                               "python3 -c 'import os, test; print(os.path.dirname(test.__file__))' 2>/dev/null"},
                              tmp.root());
    std::string dir = r.out.substr(0, r.out.find('\n'));
    return dir.empty() ? dir : dir + "/test_email/data";
}

// The header value as the gateway reads it: folded lines joined, white
// space collapsed, trimmed; empty when the header is missing.
std::string header(const std::string& msg, const std::string& name) {
    std::size_t end = msg.find("\n\n");
    std::string head = msg.substr(0, end);
    std::size_t pos = 0;
    while (pos < head.size()) {
        std::size_t nl = head.find('\n', pos);
        if (nl == std::string::npos) nl = head.size();
        std::string line = head.substr(pos, nl - pos);
        if (line.size() >= name.size() && strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
            std::string value = line.substr(name.size());
            while (nl + 1 < head.size() && (head[nl + 1] == ' ' || head[nl + 1] == '\t')) {
                std::size_t next = head.find('\n', nl + 1);
                if (next == std::string::npos) next = head.size();
                value.append(" ").append(head, nl + 1, next - nl - 1);
                nl = next;
            }
            std::string out;
            for (char c : value) {
                if (std::isspace((unsigned char)c)) {
                    if (!out.empty() && out.back() != ' ') out += ' ';
                } else {
                    out += c;
                }
            }
            while (!out.empty() && out.back() == ' ') out.pop_back();
            return out;
        }
        pos = nl + 1;
    }
    return "";
}

class ImportCorpus : public CliTest {};

TEST_F(ImportCorpus, PythonEmailTestMessages) {
    std::string dirname = corpus_dir();
    Scratch probe;
    if (dirname.empty() || run_process({"/bin/sh", "-c", "test -d '" + dirname + "'"}, probe.root()).code != 0)
        GTEST_SKIP() << "SKIPPED: Python's e-mail test corpus (test/test_email/data) is not installed";
    std::vector<std::string> names;
    for (const auto& n : [&] {
             Scratch s;
             RunResult r = run_process({"/bin/sh", "-c", "ls '" + dirname + "' | grep '^msg_.*\\.txt$'"}, s.root());
             std::vector<std::string> v;
             std::size_t pos = 0;
             while (pos < r.out.size()) {
                 std::size_t nl = r.out.find('\n', pos);
                 v.push_back(r.out.substr(pos, nl - pos));
                 pos = nl + 1;
             }
             return v;
         }())
        names.push_back(n);
    ASSERT_GT(names.size(), 40u);
    std::sort(names.begin(), names.end());

    std::vector<std::string> messages;
    for (const auto& n : names) {
        std::string m = read_file(dirname + "/" + n);
        // The corpus has a few files with CR LF line ends; SOUP uses LF.
        std::string lf;
        for (std::size_t i = 0; i < m.size(); ++i)
            if (!(m[i] == '\r' && i + 1 < m.size() && m[i + 1] == '\n')) lf += m[i];
        messages.push_back(lf);
    }
    write_config();
    SoupBuilder soup(dir, "soup");
    soup.area("CORPUS", "Email", "bn", binary(messages));
    RunResult r = run({"import"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("-> " + std::to_string(messages.size()) + " message(s) imported\n"), std::string::npos)
        << r.err;
    ASSERT_TRUE(dir.exists("in/00000000.pkt"));
    EXPECT_FALSE(dir.exists("in/00000001.pkt"));
    std::vector<FtnMessage> got = parse_packet(dir.read("in/00000000.pkt"));
    ASSERT_EQ(got.size(), messages.size());
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const std::string& m = messages[i];
        SCOPED_TRACE(names[i]);
        std::string subject = header(m, "Subject:");
        if (!subject.empty() && subject[0] == ' ') subject.erase(0, 1);
        if (got[i].attribute & 0x10) {
            // A file attach names decoded files, each in the inbound.
            std::istringstream names(got[i].subject);
            for (std::string name; names >> name;) {
                EXPECT_TRUE(dir.exists("in/" + name)) << name;
            }
        } else {
            EXPECT_EQ(got[i].subject, subject.substr(0, 71));
        }
        // No boundary line of the message is left in its text.
        std::string boundary = header(m, "Content-Type:");
        std::size_t at = boundary.find("boundary=");
        if (at != std::string::npos) {
            boundary = boundary.substr(at + 9);
            if (!boundary.empty() && boundary[0] == '"') boundary = boundary.substr(1, boundary.find('"', 1) - 1);
            boundary = boundary.substr(0, boundary.find(';'));
            if (!boundary.empty()) {
                EXPECT_EQ(got[i].text.find("\r--" + boundary), std::string::npos) << boundary;
            }
        }
        std::string from = header(m, "From:");
        if (from.empty()) {
            EXPECT_EQ(got[i].from, "anonymous");
        } else {
            EXPECT_FALSE(got[i].from.empty());
            // Quotes and escapes are taken off the name; the rest stands in the header.
            if (from.find('\\') == std::string::npos && from.find('"') == std::string::npos) {
                EXPECT_NE(from.find(got[i].from), std::string::npos) << from;
            }
        }
        std::string to = header(m, "To:");
        if (to.empty()) {
            EXPECT_EQ(got[i].to, "unknown");
        } else {
            EXPECT_FALSE(got[i].to.empty());
        }
    }
}

}  // namespace

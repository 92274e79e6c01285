// The file parts of an exported message, written into a real reply file:
// exact bytes at the line-length edges, Python's decoders on every size
// class, the attach-list matching, the confinement of message-named files
// and what happens to sent files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "config/config.h"
#include "driver/message.h"
#include "driver/options.h"
#include "export/analysis.h"
#include "export/attach_list.h"
#include "export/attachments.h"
#include "soup/soup.h"
#include "support/site_fixture.h"

using namespace tw;

namespace {

class ExportAttachments : public twtest::SiteFixture {
protected:
    ExportAnalysis analysis{};

    void SetUp() override {
        SiteFixture::SetUp();
        mutable_config().InboundDir.assign(subdir("in"));  // absolute: AttachPath may be either
        message().export_target = ExportTarget::Gateway;
        start_replies();
        // Subjects hold 127 characters: the words name files relative to here.
        ASSERT_EQ(::chdir(dir.root().c_str()), 0);
    }
    void TearDown() override {
        (void)::chdir("/");
        SiteFixture::TearDown();
    }

    // Writes the parts for `subject`; returns the message text (without
    // the reply file's length word) and the log lines.
    std::string parts(const std::string& subject, SentFiles& sent, std::string* log = nullptr,
                      bool use_list = false) {
        message().subject.assign(subject);
        ReplyMessage out;
        EXPECT_TRUE(out.begin(ReplyKind::Mail));
        std::string err = twtest::stderr_of([&] { EXPECT_TRUE(write_attached_files(out, analysis, use_list, sent)); });
        if (log) *log = err;
        std::string path = reply_file_path(ReplyKind::Mail);
        EXPECT_TRUE(out.finish());
        std::string all = twtest::read_file(path);
        std::string text = all.size() >= 4 ? all.substr(4) : "";
        return text;
    }
    std::string parts(const std::string& subject) {
        SentFiles sent;
        return parts(subject, sent);
    }
    static std::string in(const std::string& name) { return "in/" + name; }
};

std::string bytes_of(std::size_t n, unsigned seed = 1) { return twtest::random_bytes(n, seed); }

}  // namespace

TEST_F(ExportAttachments, ExactLinesAtTheEdges) {
    dir.write("in/E.BIN", "");
    dir.write("in/A58.BIN", std::string(58, 'a'));
    dir.write("in/M45.BIN", std::string(45, '\0'));
    const std::string head = "\n--+=Tarnwick=+\nContent-Type: application/octet-stream; name=\"";
    std::string ya;
    for (int i = 0; i < 19; ++i) ya += "YWFh";
    // An empty file: the part header, an empty line, no data.
    EXPECT_EQ(parts(in("E.BIN")), head + "E.BIN\"\nContent-Transfer-Encoding: base64\n\n\n\n--+=Tarnwick=+--\n");
    // 57 bytes make 76 characters; the 58th makes two more and "==".
    EXPECT_EQ(parts(in("A58.BIN") + "  " + in("E.BIN")),
              head + "A58.BIN\"\nContent-Transfer-Encoding: base64\n\n" + ya + "\nYQ==\n\n" + head +
                  "E.BIN\"\nContent-Transfer-Encoding: base64\n\n\n\n--+=Tarnwick=+--\n");

    mutable_config().EncodeFormat = EncodeKind::UU;
    EXPECT_EQ(parts(in("M45.BIN") + " " + in("E.BIN")),
              head + "M45.BIN\"\nContent-Transfer-Encoding: 7bit\n\nbegin 644 M45.BIN\nM" + std::string(60, '`') +
                  "\n`\nend\n\n" + head + "E.BIN\"\nContent-Transfer-Encoding: 7bit\n\nbegin 644 E.BIN\n`\nend\n\n" +
                  "\n--+=Tarnwick=+--\n");
}

// Python's email package (base64) and a binascii line decoder (uuencode)
// give back every file byte for byte.
TEST_F(ExportAttachments, PythonDecodesEverySize) {
    std::string python = twtest::find_program("python3");
    if (python.empty()) GTEST_SKIP() << "python3 not installed";
    std::string all;
    for (int b = 0; b < 256; ++b) all += char(b);
    std::vector<std::pair<std::string, std::string>> files = {
        {"S0", ""},           {"S1", bytes_of(1)},   {"S2", bytes_of(2)}, {"S3", bytes_of(3)},
        {"S45", bytes_of(45)}, {"S57", bytes_of(57)}, {"S58", bytes_of(58)}, {"ALL", all},
        {"BIG", bytes_of(5 * 1024 * 1024 + 7, 9)}};
    std::string subject;
    for (auto& [name, data] : files) {
        dir.write("in/" + name, data);
        subject += in(name) + " ";
    }
    const std::string script = R"PY(
import binascii, email, os, sys
d, kind = sys.argv[1], sys.argv[2]
msg = email.message_from_binary_file(open(os.path.join(d, 'msg'), 'rb'))
bad, seen = [], 0
for part in msg.walk():
    name = part.get_param('name')
    if not name:
        continue
    seen += 1
    if kind == 'mime':
        got = part.get_payload(decode=True)
    else:
        lines = part.get_payload().split('\n')
        assert lines[0] == 'begin 644 ' + name, lines[0]
        chunks = []
        for line in lines[1:]:
            if line == 'end':
                break
            chunks.append(binascii.a2b_uu(line))
        got = b''.join(chunks)
    if got != open(os.path.join(d, 'in', name), 'rb').read():
        bad.append(name)
print(seen, ' '.join(bad))
)PY";
    dir.write("check.py", script);
    for (const char* kind : {"mime", "uu"}) {
        mutable_config().EncodeFormat = std::string(kind) == "uu" ? EncodeKind::UU : EncodeKind::Mime;
        dir.write("msg", "Mime-version: 1.0\nContent-Type: multipart/mixed; boundary=\"+=Tarnwick=+\"\n\n"
                         "--+=Tarnwick=+\nContent-Type: text/plain\n\nbody\n" +
                             parts(subject));
        auto r = twtest::run_process({python, dir.path("check.py"), dir.root(), kind}, dir.root());
        EXPECT_EQ(r.out, "9 \n") << kind << r.err;
    }
}

// Words match the attach list by base name, each entry once; a packet is
// left to travel on its own to the gateway; a file named by the message
// alone must lie in InboundDir or an AttachPath directory.
TEST_F(ExportAttachments, AttachListAndConfinement) {
    dir.mkdir("a");
    dir.mkdir("b");
    dir.mkdir("secret");
    dir.write("a/R.TXT", "first");
    dir.write("b/r.txt", "second");
    dir.write("a/P.PKT", "packet");
    dir.write("secret/KEY", "key");
    dir.write("in/OK.TXT", "ok");
    ASSERT_EQ(::symlink(dir.path("secret/KEY").c_str(), dir.path("in/LINK").c_str()), 0);
    AttachList& list = attach_list();
    list.add("^a/R.TXT");
    list.add("#b/r.txt");
    list.add("a/P.PKT");

    // Listed by the mailer: sent from anywhere, marks honoured, each entry once.
    SentFiles sent;
    std::string log;
    std::string text = parts("R.TXT r.txt P.PKT secret/KEY " + in("LINK") + " " + in("../secret/KEY") +
                                 " " + in("OK.TXT") + " " + in("GONE"),
                             sent, &log, true);
    EXPECT_NE(text.find("name=\"R.TXT\""), std::string::npos);
    EXPECT_NE(text.find("name=\"r.txt\""), std::string::npos);
    EXPECT_EQ(text.find("P.PKT"), std::string::npos);
    EXPECT_NE(text.find("name=\"OK.TXT\""), std::string::npos);
    EXPECT_EQ(text.find("KEY"), std::string::npos);
    EXPECT_EQ(text.find("LINK"), std::string::npos);
    EXPECT_EQ(list[0].state, AttachState::Done);
    EXPECT_EQ(list[1].state, AttachState::Done);
    EXPECT_EQ(list[2].state, AttachState::Packet);
    ASSERT_EQ(sent.files.size(), 2u);
    EXPECT_EQ(sent.files[0].action, AfterSend::Delete);
    EXPECT_EQ(sent.files[1].action, AfterSend::Truncate);
    EXPECT_EQ(log, "* MIME-encoding R.TXT\n* MIME-encoding r.txt\n! secret/KEY lies outside AttachPath: not sent\n! " + in("LINK") + " lies outside AttachPath: not sent\n! " +
                       in("../secret/KEY") + " lies outside AttachPath: not sent\n* MIME-encoding OK.TXT\n");

    // A route gets the packet as a file part.
    list.clear();
    list.add("a/P.PKT");
    message().export_target = ExportTarget::Route;
    EXPECT_NE(parts("P.PKT", sent, nullptr, true).find("name=\"P.PKT\""), std::string::npos);

    // The subject of a stored netmail is the message's own word: confined,
    // and AttachPath replaces InboundDir.
    list.clear();
    list.add("secret/KEY");
    list.set_named_by_message();
    mutable_config().AttachPath.add("secret/");
    text = parts("secret/KEY " + in("OK.TXT"), sent, &log, true);
    EXPECT_NE(text.find("name=\"KEY\""), std::string::npos);
    EXPECT_EQ(text.find("OK.TXT"), std::string::npos);

    // A message that does not reach the reply packet gives its flow-file
    // entries back; one that does keeps them done.
    list.clear();
    list.add("^a/R.TXT");
    {
        SentFiles failed;
        parts("R.TXT", failed, nullptr, true);
        EXPECT_EQ(list[0].state, AttachState::Done);
    }
    EXPECT_EQ(list[0].state, AttachState::Other);
    options().test = true;
    {
        SentFiles written;
        parts("R.TXT", written, nullptr, true);
        dispose_sent_files(written);
    }
    EXPECT_EQ(list[0].state, AttachState::Done);
    EXPECT_TRUE(dir.exists("a/R.TXT"));
}

TEST_F(ExportAttachments, SentFilesDisposedAndShortFilesKept) {
    for (const char* n : {"K", "D", "T", "F"}) dir.write(std::string("in/") + n, "data");
    analysis.kill_files = true;
    SentFiles sent;
    parts(in("D") + " #" + in("T"), sent);
    analysis.kill_files = false;
    analysis.truncate_files = true;
    parts(in("F"), sent);
    analysis.truncate_files = false;
    parts(in("K"), sent);
    ASSERT_EQ(sent.files.size(), 3u);

    options().test = true;
    dispose_sent_files(sent);
    EXPECT_EQ(dir.read("in/D"), "data");
    options().test = false;
    dispose_sent_files(sent);
    EXPECT_FALSE(dir.exists("in/D"));
    EXPECT_TRUE(dir.exists("in/T"));
    EXPECT_EQ(dir.read("in/T"), "");
    EXPECT_EQ(dir.read("in/F"), "");
    EXPECT_EQ(dir.read("in/K"), "data");

    // A file that ends before its size: what was read goes, with a "! "
    // line, and the file is kept even with KFS.
    const char* sys = "/sys/kernel/uevent_seqnum";
    if (platform::file_size(sys) <= (long long)twtest::read_file(sys).size()) GTEST_SKIP() << "no short file here";
    mutable_config().AttachPath.add("/sys/kernel/");
    analysis.kill_files = true;
    sent.files.clear();
    std::string log;
    std::string text = parts(sys, sent, &log);
    EXPECT_TRUE(sent.files.empty());
    EXPECT_NE(log.find("! /sys/kernel/uevent_seqnum ended after "), std::string::npos) << log;
    EXPECT_NE(text.find("name=\"uevent_seqnum\""), std::string::npos);
}

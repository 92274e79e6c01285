// The FTN-to-Internet converter on one message at a time: what it makes of
// kludges and address lines, how it keeps in step with the packet on any
// bytes, and that a message the reply packet cannot take is not lost.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>

#include <string>
#include <vector>

#include "config/config.h"
#include "driver/message.h"
#include "export/body.h"
#include "export/convert.h"
#include "rfc822/writer.h"
#include "soup/soup.h"
#include "support/site_fixture.h"

using namespace tw;
using namespace std::string_literals;

namespace {

class ExportConvert : public twtest::SiteFixture {
protected:
    void SetUp() override {
        SiteFixture::SetUp();
        ASSERT_EQ(configure("FidoAddr 2:292/854\nAddrMap 2:292/854 gate@example.org\nTimeZone +0100\nSeparateMSG No\n"),
                  "");
        start_replies();
    }

    // Converts one message text (its NUL is added) from Joe Bloggs at
    // 2:292/854.3 to the given FTN name; checks that the file is left just
    // after the NUL. stderr goes to `console`.
    ConvertOutcome convert(const std::string& text, const std::string& to = "UUCP", bool nul = true) {
        CurrentMessage& m = message();
        m.export_target = ExportTarget::Gateway;
        m.origin = {2, 292, 854, 3};
        m.ftn_date = "05 Jan 20  10:11:12";
        m.recipient_name.assign(to);
        m.sender_name = "Joe Bloggs";
        m.subject = "Hello";
        m.attach = false;
        const std::string next = "\x02\x00NEXT"s;
        dir.write("msg", text + (nul ? "\0"s + next : ""));
        platform::File f;
        EXPECT_TRUE(f.open(dir.path("msg"), platform::OpenMode::Read));
        ConvertOutcome r{};
        // Committed as the packet's disposal commits it.
        console = twtest::stderr_of([&] {
            r = convert_ftn_message(f, false);
            if (r == ConvertOutcome::Exported && !commit_export()) r = ConvertOutcome::Failed;
        });
        char rest[16] = {};
        std::size_t n = f.read(rest, sizeof rest);
        EXPECT_EQ(std::string(rest, n), nul ? next : "") << "the converter lost its place in the packet";
        return r;
    }

    std::string only_reply(ReplyKind kind = ReplyKind::Mail) {
        std::vector<std::string> r = replies(kind);
        EXPECT_EQ(r.size(), 1u);
        return r.empty() ? "" : r[0];
    }
    static std::string body_of(const std::string& msg) {
        std::size_t at = msg.find("\n\n");
        return at == std::string::npos ? "" : msg.substr(at + 2);
    }
    static std::string header_line(const std::string& msg, const std::string& name) {
        std::size_t at = msg.find("\n" + name);
        if (msg.starts_with(name)) at = 0;
        else if (at != std::string::npos) ++at;
        if (at == std::string::npos) return "";
        std::size_t end = msg.find('\n', at);
        while (end != std::string::npos && end + 1 < msg.size() && msg[end + 1] == ' ') end = msg.find('\n', end + 1);
        return msg.substr(at, end - at);
    }

    twtest::ScopedUtc utc;
    std::string console;
};

TEST_F(ExportConvert, UucpNetmailHeaderInOrder) {
    ASSERT_EQ(convert("\x01MSGID: 2:292/854.3 1a2b3c4d\r\x01REPLY: <abc@host> 0\rTo: a@x.org\rto: b@y.org\r"
                      "Copy: c@z.org\rBCopy: d@w.org\r\rHi there.\r"),
              ConvertOutcome::Exported);
    EXPECT_EQ(only_reply(),
              "To: a@x.org, b@y.org\n"
              "Cc: c@z.org\n"
              "Bcc: d@w.org\n"
              "From: gate@example.org (Joe Bloggs)\n"
              "Subject: Hello\n"
              "Date: Sun, 05 Jan 2020 10:11:12 +0100\n"
              "Message-ID: <439041101@p3.f854.n292.z2.fidonet.org>\n"
              "In-Reply-To: <abc@host>\n"
              "X-MailConverter: Tarnwick-DOS v1.05\n"
              "Mime-version: 1.0\n"
              "Content-Type: text/plain; charset=us-ascii\n"
              "Content-Transfer-Encoding: 7bit\n"
              "\n"
              "Hi there.\n"
              "\n");
    EXPECT_EQ(export_counters().messages, 1);
    EXPECT_EQ(export_counters().mail, 1);
    EXPECT_EQ(console, "");
}

// Whatever a peer sends, the converter ends at the message's NUL (or the
// end of the file), writes well-formed messages and says what it dropped.
TEST_F(ExportConvert, HostileTextsStayInStep) {
    // No NUL: the end of the file ends the text.
    EXPECT_EQ(convert("To: a@x.org\rNo end in sight.", "UUCP", false), ConvertOutcome::Exported);
    EXPECT_EQ(body_of(replies().back()), "No end in sight.\n");

    // 10,000 To: lines: the first 1024 are kept, the rest dropped with one warning.
    std::string many;
    for (int i = 0; i < 10000; ++i) many += "To: u" + std::to_string(i) + "@x.org\r";
    EXPECT_EQ(convert(many + "\rBody.\r"), ConvertOutcome::Exported);
    std::string to = header_line(replies().back(), "To: ");
    EXPECT_NE(to.find("u1023@x.org"), std::string::npos);
    EXPECT_EQ(to.find("u1024@x.org"), std::string::npos);
    EXPECT_EQ(body_of(replies().back()), "Body.\n\n");
    EXPECT_EQ(console, "! To/Copy-limit exceeded in msg from 2:292/854.3 (Joe Bloggs)\n");

    // A 100 KB kludge is dropped whole: no piece of it reaches the body.
    EXPECT_EQ(convert("To: a@x.org\r\x01X-LONG: " + std::string(100000, 'k') + "\rShort.\r"), ConvertOutcome::Exported);
    EXPECT_EQ(body_of(replies().back()), "Short.\n\n");

    // A 1 MB line of words comes out in lines of at most LineWidth, nothing lost.
    std::string words;
    while (words.size() < 1000000) words += "lorem ipsum dolor sit amet ";
    EXPECT_EQ(convert("To: a@x.org\r" + words + "\r"), ConvertOutcome::Exported);
    std::string body = body_of(replies().back()), joined;
    for (std::size_t at = 0, nl; (nl = body.find('\n', at)) != std::string::npos; at = nl + 1) {
        EXPECT_LE(nl - at, 72u);
        joined += body.substr(at, nl - at);
    }
    EXPECT_EQ(joined, words);

    // Impossible dates: the message carries the time it passes the gateway.
    std::time_t now = platform::now();
    std::tm t{};
    platform::local_time(now, t);
    for (const char* date : {"31 Feb 20  10:11:12", "05 Jan 20  25:61:99", "garbage", "", "00 Xyz 1999"}) {
        message().ftn_date = date;
        CurrentMessage& m = message();
        dir.write("msg", "To: a@x.org\rText\r"s + '\0');
        platform::File f;
        ASSERT_TRUE(f.open(dir.path("msg"), platform::OpenMode::Read));
        EXPECT_EQ(convert_ftn_message(f, false), ConvertOutcome::Exported);
        EXPECT_EQ(m.date.year, t.tm_year + 1900) << date;
        EXPECT_EQ(m.date.month, t.tm_mon) << date;
    }

    // Random bytes: any outcome, but the place in the packet is kept.
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::string junk = twtest::random_bytes(3000, seed);
        for (char& c : junk)
            if (c == 0) c = '\r';
        SCOPED_TRACE(seed);
        convert(junk);
    }
}

// A reply file that cannot take a message keeps nothing of it; the message
// is reported and counted as failed, so its packet is kept.
TEST_F(ExportConvert, ReplyPacketFailureLeavesNothingBehind) {
    // (The first message is the larger, so that the limit below leaves room
    // for the input file.)
    ASSERT_EQ(convert("To: a@x.org\r" + std::string(30000, 'f') + "\r"), ConvertOutcome::Exported);
    std::string before = twtest::read_file(reply_file_path(ReplyKind::Mail));

    // The file may grow by a little only: the next, larger message fails midway.
    twtest::FileSizeLimit full(before.size() + 600);
    ASSERT_TRUE(full.ok());
    ConvertOutcome r = convert("To: b@x.org\r" + std::string(20000, 'x') + "\r");
    full.lift();
    EXPECT_EQ(r, ConvertOutcome::Failed);
    EXPECT_EQ(console, "! Can't write msg from 2:292/854.3 (Joe Bloggs) to the reply packet; it stays in the FTN mail\n");
    EXPECT_EQ(twtest::read_file(reply_file_path(ReplyKind::Mail)), before);
    EXPECT_EQ(export_counters().messages, 1);

    // No reply directory at all.
    mutable_config().SoupDir.assign(dir.path("gone") + "/");
    reset_reply_state();
    rotate_reply_file(ReplyKind::Mail);
    EXPECT_EQ(convert("To: a@x.org\rLost?\r"), ConvertOutcome::Failed);
    EXPECT_EQ(export_counters().messages, 1);
}

// The body keeps the text and drops the FTN control lines; a quoted line
// wraps with its prefix; 8-bit text is quoted-printable.
TEST_F(ExportConvert, BodyControlLinesWrapAndEncoding) {
    auto body = [&](const std::string& text) {
        EXPECT_EQ(convert("To: a@x.org\r\r" + text), ConvertOutcome::Exported);
        return body_of(replies().back());
    };
    EXPECT_EQ(body("Hello\r\r--- Ed 1.0\r * Origin: Somewhere (2:292/854)\rSEEN-BY: 292/854\r\x01PATH: 292/854\r"),
              "Hello\n\n");
    EXPECT_EQ(body("Hello\r---\rstill text\r--- \r"), "Hello\n---\nstill text\n--- \n\n");
    EXPECT_EQ(body("Hello\r--- ends it"), "Hello\n");
    EXPECT_EQ(body("Hello\r * Origin: no tear (2:292/854)\rgone\r"), "Hello\n");
    EXPECT_EQ(body("Hello\r--- x\r\x01via 2:292/854 @20200105\r"), "Hello\n");
    EXPECT_EQ(body("Netmail\r\x01Via 2:292/854 @20200105\r"), "Netmail\n\n");
    EXPECT_EQ(body("A\r\x01" + std::string(500, 'k') + "\rB\r"), "A\nB\n\n");
    // Line ends at every place of the eight-byte runs the reader scans.
    std::string text, lines;
    for (int n = 1; n < 20; ++n) {
        text += std::string(std::size_t(n), char('a' + n)) + "\r";
        lines += std::string(std::size_t(n), char('a' + n)) + "\n";
    }
    EXPECT_EQ(body(text), lines + "\n");

    mutable_config().LineWidth = 40;
    std::string quoted = " JD> " + std::string("one two three four five six seven eight nine ten eleven twelve");
    EXPECT_EQ(body(quoted + "\rend\r"),
              " JD> one two three four five six seven \n"
              " JD> eight nine ten eleven twelve\nend\n\n");

    mutable_config().LineWidth = 72;
    EXPECT_EQ(body("caf\xE9 = tea \r"), "caf=E9 =3D tea=20\n\n");
    EXPECT_EQ(header_line(replies().back(), "Content-Transfer-Encoding:"), "Content-Transfer-Encoding: quoted-printable");
    mutable_config().UseQP = false;
    EXPECT_EQ(body("caf\xE9 = tea\r"), "caf\xE9 = tea\n\n");
    EXPECT_EQ(header_line(replies().back(), "Content-Transfer-Encoding:"), "Content-Transfer-Encoding: 8bit");
}

// MSGID and INTL values read as scanf reads them, the usual forms and the
// odd ones (signs, blanks, overlong numbers, a "0x" serial) alike.
TEST_F(ExportConvert, KludgeNumbersReadAsScanfReadsThem) {
    for (const char* value : {"2:280/7 1a2b3c4d", "2:280/7.5 00000001", "2:280/7 0x1F", "2:+280/7 12", "2:280/7. 5 ff",
                              "65536:1/2 123456789abcdef01", "2:280 abc", "x@2:280/7 deadbeefcafe", "2:280/7@fido 1",
                              "1:2/3.4.5 -1", "2:280/07 00000000000000000001", "99999:1/1 7FFFFFFFFFFFFFFFFF"}) {
        std::string v(value);
        std::string token = v.substr(0, v.find(' ')), serial = v.substr(v.find(' ') + 1);
        if (token.find('@') != std::string::npos) token.erase(0, token.find('@') + 1);  // the address after the '@'
        FtnAddress id{2, 292, 854, 3};
        std::sscanf(token.c_str(), "%hu:%hu/%hu.%hu", &id.zone, &id.net, &id.node, &id.point);
        unsigned long n = 0;
        ASSERT_EQ(std::sscanf(serial.c_str(), "%lX", &n), 1) << value;
        ASSERT_EQ(convert("\x01MSGID: " + v + "\rTo: a@x.org\r\rHi\r"), ConvertOutcome::Exported) << value;
        EXPECT_EQ(header_line(replies().back(), "Message-ID:"),
                  "Message-ID: " + message_id_text("", std::uint32_t(n), id))
            << value;
    }
    for (const char* value : {"2:292/854 1:10/20", "2:292/854  1:10/20", "2:292/854 +1:10/20", "2:292/854 1:10",
                              "70000:1/1 1:2/3", "2:292/854 1:10/200000"}) {
        FtnAddress to{}, from{2, 292, 854, 3};
        std::sscanf(value, "%hu:%hu/%hu %hu:%hu/%hu", &to.zone, &to.net, &to.node, &from.zone, &from.net, &from.node);
        ASSERT_EQ(convert("\x01INTL "s + value + "\rTo: a@x.org\r\rHi\r"), ConvertOutcome::Exported) << value;
        std::string id = header_line(replies().back(), "Message-ID:");
        std::string domain = message_id_text("", 0, from);
        EXPECT_EQ(id.substr(id.find('@')), domain.substr(domain.find('@'))) << value;
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "config/config.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "ftn/format.h"
#include "ftn/writer.h"
#include "support/packet_builder.h"
#include "support/site_fixture.h"

using namespace tw;
using namespace std::string_literals;

namespace {

using twtest::le16;

class FtnWriter : public twtest::SiteFixture {
protected:
    void SetUp() override {
        SiteFixture::SetUp();
        set_writer_clock(twtest::fixed_clock);
        ASSERT_EQ(configure("FidoAddr 2:292/854\nAddrMap 2:292/100 uucp-gate@example.org\nPacketPwd SECRET\n"), "");

        CurrentMessage& m = message();
        m.origin = {2, 292, 854, 3};
        m.destination = {1, 2, 3, 4};
        m.date = {9, 11, 2020, 13, 14, 15};  // day, month, year, hour, minute, second
        m.recipient_name = "Sysop";
        m.recipient_address = "sysop@f3.n2.z1.fidonet.org";
        m.sender_name = "Joe User";
        m.sender_address = "joe@example.com";
        m.reply_address = "joe-reply@example.com";
        m.subject = "Hello";
        m.area_name = "NETMAIL";
        m.parts = 1;
        m.current_part = 1;
    }
    platform::File open_out() {
        platform::File f;
        EXPECT_TRUE(f.open(dir.path("t.pkt"), platform::OpenMode::Write));
        return f;
    }
    std::string written() { return dir.read("t.pkt"); }

    // One message from header to end, text in between.
    std::string one_message(MessageKind kind, std::string_view text = "Body\r", std::string_view names = "",
                            JunkKind junk = JunkKind::None, bool own_org = false) {
        {
            platform::File f = open_out();
            write_message_header(kind, f, names, junk, own_org);
            f.write(text);
            end_message(kind, f);
        }
        return written();
    }

    static std::string fixed(unsigned attribute) {
        return le16(2) + le16(854) + le16(3) + le16(292) + le16(2) + le16(attribute) + le16(0);
    }

    twtest::ScopedUtc utc_;
};

const std::string kVia = "\x01" "Via 2:292/854 @20260305.070809 Tarnwick-DOS v1.05\r"s;
const std::string kTear = "\r--- Tarnwick-DOS v1.05\r"s;
const std::string kPid = "\x01" "PID: Tarnwick-DOS v1.05\r"s;

}  // namespace

TEST_F(FtnWriter, PacketHeaderAndTerminator) {
    mutable_config().PacketPwd = "EIGHTCHR";
    mutable_config().FidoAddr = {2, 292, 854, 7};
    {
        platform::File f = open_out();
        packet_message_count() = 5;
        begin_packet(f);
        EXPECT_EQ(packet_message_count(), 0);
        EXPECT_TRUE(end_packet(f));
        EXPECT_FALSE(f.is_open());
    }
    std::string expect = le16(854) + le16(100) + le16(2026) + le16(2) + le16(5) + le16(7) + le16(8) + le16(9) +
                         le16(0) + le16(2) + le16(292) + le16(292) + "\x00\x00"s + "EIGHTCHR" + le16(2) + le16(2) +
                         le16(0) + le16(0x0100) + "\x01\x00"s + le16(1) + le16(2) + le16(2) + le16(7) + le16(0) +
                         "\0\0\0\0"s + "\0\0"s;
    EXPECT_EQ(written(), expect);
}

TEST_F(FtnWriter, NetmailWithEveryKludge) {
    GatewayConfig& c = mutable_config();
    c.JunkAction = FilterAction::Junk;
    c.OwnOrgAction = FilterAction::Junk;
    CurrentMessage& m = message();
    m.organization = "Example Org";
    m.message_id.text = "abc@example.com";
    m.reference_id.text = "ignored when ftn";
    m.reference_id.ftn_id = true;
    m.reference_id.ftn = {2, 292, 854, 0};
    m.reference_id.serial = 0x1234abcd;
    m.ftn_charset = "LATIN-1 2";
    m.saved_recipient_name = "Bob";
    std::string expect = fixed(0x0001) + "09 Dec 20  13:14:15\0Sysop\0Joe User\0Hello\0"s +
                         "\x01INTL 1:2/3 2:292/854\r"
                         "\x01" "FMPT 3\r"
                         "\x01TOPT 4\r"
                         "\x01REPLYADDR joe-reply@example.com\r"
                         "\x01REPLYTO 2:292/854.0 UUCP\r"
                         "\x01MSGID: <abc@example.com> 1f82285d\r"
                         "\x01REPLY: 2:292/854.0 1234abcd\r" +
                         kPid +
                         "\x01" "CHRS: LATIN-1 2\r"
                         "\x01JUNKMAIL: from\r"
                         "\x01JUNKMAIL-TO: Bob\r"
                         "\x01JUNKMAIL: OwnOrg\r"
                         "\x01JUNKMAIL-TO: Bob\r"
                         "Body\r" +
                         kTear + " * Origin: Example Org (2:292/854)\r" + kVia + "\0"s;
    EXPECT_EQ(one_message(MessageKind::Mail, "Body\r", "", JunkKind::From, true), expect);
    EXPECT_EQ(m.message_id.serial, 0x1f82285du);  // stored back for the caller
}

TEST_F(FtnWriter, EchomailStrictIdsAndOriginRules) {
    GatewayConfig& c = mutable_config();
    c.StrictFidoMsgID = true;
    c.FidoAddr = {2, 292, 854, 1};
    CurrentMessage& m = message();
    m.area_name = "TEST.ECHO";
    m.origin = {2, 292, 854, 0};
    m.destination = {2, 292, 100, 0};
    m.attach = true;  // news never becomes a file attach
    m.routed = true;
    m.message_id.text = "abc@example.com";
    std::string origin_text(80, 'o');
    c.Origin.assign(origin_text);  // 63 characters kept by the field
    std::string body = one_message(MessageKind::News);
    std::string expect = le16(2) + le16(854) + le16(100) + le16(292) + le16(292) + le16(0) + le16(0) +
                         "09 Dec 20  13:14:15\0Sysop\0Joe User\0Hello\0"s +
                         "AREA:TEST.ECHO\r"
                         "\x01INTL 2:292/100 2:292/854\r"
                         "\x01MSGID: 2:292/854.1 1f82285d\r" +
                         kPid + "Body\r" + kTear + " * Origin: " + std::string(54, 'o') + " (2:292/854.1)\r" +
                         "SEEN-BY: 292/854\r\x01PATH: 292/854\r" + "\0"s;
    EXPECT_EQ(body, expect);

    // The origin text is cut to 65 less the address length: 56 beside 2:292/854.
    c.FidoAddr = {2, 292, 854, 0};
    c.Origin.clear();
    m.organization.assign(origin_text);
    body = one_message(MessageKind::List);
    EXPECT_NE(body.find(" * Origin: " + std::string(56, 'o') + " (2:292/854)\r"), std::string::npos);
    // Without Origin and organization the sender address stands there.
    m.organization.clear();
    body = one_message(MessageKind::List);
    EXPECT_NE(body.find(" * Origin: joe@example.com (2:292/854)\r"), std::string::npos);
}

TEST_F(FtnWriter, KindsAttributesAndSubjects) {
    CurrentMessage& m = message();
    m.attach = true;
    std::string mail = one_message(MessageKind::Mail, "", "FILE1.ZIP FILE2.TXT");
    EXPECT_EQ(mail.substr(0, 14), fixed(0x0011));
    EXPECT_NE(mail.find("\0Joe User\0FILE1.ZIP FILE2.TXT\0"s), std::string::npos);

    m.area_name = "LIST.AREA";
    std::string list = one_message(MessageKind::List, "", "FILE1.ZIP");
    EXPECT_EQ(list.substr(0, 14), fixed(0x0010));
    EXPECT_NE(list.find("\0FILE1.ZIP\0AREA:LIST.AREA\r"s), std::string::npos);

    std::string news = one_message(MessageKind::News, "", "FILE1.ZIP");
    EXPECT_EQ(news.substr(0, 14), fixed(0));
    EXPECT_NE(news.find("\0Hello\0AREA:"s), std::string::npos);

    m.attach = false;
    m.parts = 3;
    m.current_part = 2;
    m.subject = "Hi";
    EXPECT_NE(one_message(MessageKind::Mail).find("\0Hi (2/3)\0"s), std::string::npos);
    std::string long_subject(80, 's');
    m.subject.assign(long_subject);
    EXPECT_NE(one_message(MessageKind::Mail).find("\0"s + std::string(71, 's') + "\0"s), std::string::npos);

    // Names or addresses as FTN from and to, cut at 35 characters.
    mutable_config().HeaderInfo = HeaderChoice::Addresses;
    m.sender_address.assign(std::string(40, 'a'));
    std::string by_address = one_message(MessageKind::Mail);
    EXPECT_NE(by_address.find("\0sysop@f3.n2.z1.fidonet.org\0"s + std::string(35, 'a') + "\0"s), std::string::npos);
}

TEST_F(FtnWriter, SplitMessageParts) {
    CurrentMessage& m = message();
    m.message_id.text = "split@example.com";
    m.reference_id.text = "orig@example.com";
    m.parts = 2;
    std::string packet;
    {
        platform::File f = open_out();
        m.current_part = 1;
        write_message_header(MessageKind::Mail, f, "", JunkKind::None, false);
        f.write("part one\r[continued in next message]\r");
        end_message(MessageKind::Mail, f);
        m.current_part = 2;
        write_message_header(MessageKind::Mail, f, "", JunkKind::None, false);
        f.write("[continued from previous message]\r\rpart two\r");
        end_message(MessageKind::Mail, f);
    }
    packet = written();
    const std::string split1 = "\x01SPLIT: 05 Mar 26 07:08:09 @292/854     00000 01/02 +++++++++++\r"s;
    const std::string split2 = "\x01SPLIT: 05 Mar 26 07:08:09 @292/854     00000 02/02 +++++++++++\r"s;
    const std::string head = "\x01INTL 1:2/3 2:292/854\r\x01" "FMPT 3\r\x01TOPT 4\r"
                             "\x01REPLYADDR joe-reply@example.com\r\x01REPLYTO 2:292/854.0 UUCP\r"s;
    std::string part1 = fixed(1) + "09 Dec 20  13:14:15\0Sysop\0Joe User\0Hello (1/2)\0"s + head +
                        "\x01MSGID: <split@example.com> 93b4158a\r\x01REPLY: <orig@example.com> 49df2e1f\r" +
                        kPid + split1 + "part one\r[continued in next message]\r" + kTear +
                        " * Origin: joe@example.com (2:292/854)\r" + kVia + "\0"s;
    std::string part2 = fixed(1) + "09 Dec 20  13:14:15\0Sysop\0Joe User\0Hello (2/2)\0"s + head + kPid + split2 +
                        "[continued from previous message]\r\rpart two\r" + kTear +
                        " * Origin: joe@example.com (2:292/854)\r" + kVia + "\0"s;
    EXPECT_EQ(packet, part1 + part2);
}

TEST_F(FtnWriter, KillOriginModes) {
    mutable_config().KillOrigin = KillOriginMode::Email;
    std::string mail = one_message(MessageKind::Mail, "x\r");
    EXPECT_EQ(mail.substr(mail.size() - kVia.size() - 3), "x\r" + kVia + "\0"s);
    message().area_name = "ECHO";
    std::string news = one_message(MessageKind::News, "x\r");
    EXPECT_NE(news.find("x\r" + kTear + " * Origin: "), std::string::npos);
    EXPECT_NE(news.find("SEEN-BY: 292/854\r\x01PATH: 292/854\r\0"s), std::string::npos);
    mutable_config().KillOrigin = KillOriginMode::Yes;
    news = one_message(MessageKind::News, "x\r");
    EXPECT_NE(news.find("x\rSEEN-BY: 292/854\r\x01PATH: 292/854\r\0"s), std::string::npos);
}

TEST_F(FtnWriter, AttachPacketBytes) {
    mutable_config().AddrMap[0].ftn = {2, 292, 100, 5};
    platform::File f = write_attach_packet({2, 292, 854, 0}, "Joe User", dir.path("att.pkt"), "^C:\\OUT\\FILE.ZIP");
    ASSERT_TRUE(f.is_open());
    EXPECT_EQ(f.tell(), f.size());
    EXPECT_TRUE(f.close());
    std::string expect = le16(100) + le16(854) + le16(2026) + le16(2) + le16(5) + le16(7) + le16(8) + le16(9) +
                         le16(0) + le16(2) + le16(292) + le16(292) + "\x00\x01"s + "SECRET\0\0"s + le16(2) + le16(2) +
                         le16(0) + le16(0x0100) + "\x01\x00"s + le16(1) + le16(2) + le16(2) + le16(5) + le16(0) +
                         "\0\0\0\0"s;
    expect += le16(2) + le16(100) + le16(854) + le16(292) + le16(292) + le16(0x11) + le16(0);
    expect += "05 Mar 26  07:08:09\0Joe User\0uucp-gate@example.org\0^C:\\OUT\\FILE.ZIP\0"s;
    expect += "\x01INTL 2:292/854 2:292/100\r\x01" "FMPT 5\r"s;
    expect += "[Tarnwick-DOS v1.05 attached file FILE.ZIP]\r\0\0\0"s;
    EXPECT_EQ(dir.read("att.pkt"), expect);

    f = write_attach_packet({2, 292, 854, 0}, "", dir.path("att.pkt"), "#REPORT.TXT");
    EXPECT_TRUE(f.close());
    std::string second = dir.read("att.pkt");  // emptied, not appended to
    EXPECT_NE(second.find(":09\0\0uucp-gate@example.org\0#REPORT.TXT\0"s), std::string::npos);
    EXPECT_NE(second.find("attached file REPORT.TXT]\r\0\0\0"s), std::string::npos);

    EXPECT_FALSE(write_attach_packet({2, 292, 854, 0}, "", dir.path("no/such/dir/x.pkt"), "a").is_open());
}

TEST_F(FtnWriter, AnnounceAttachment) {
    dir.write("empty.bin", "");
    platform::File f = open_out();
    announced_attachment_count() = 0;
    testing::internal::CaptureStderr();
    announce_attachment(dir.path("empty.bin"), "empty.bin", false, EncodeKind::Mime, AttachDisposition::Decoded, 0,
                        false, f);
    announce_attachment("x", "a.zip", true, EncodeKind::UU, AttachDisposition::Decoded, 1234, false, f);
    announce_attachment("x", "b.txt", false, EncodeKind::Mime, AttachDisposition::Ignored, 9, false, f);
    announce_attachment("x", "c.txt", false, EncodeKind::Mime, AttachDisposition::Killed, 7, true, f);
    message().area_kind = AreaKind::News;  // news: AttachNews is ignore by default
    announce_attachment("x", "d.txt", false, EncodeKind::Mime, AttachDisposition::Decoded, 7, false, f);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(f.close());
    EXPECT_FALSE(dir.exists("empty.bin"));
    EXPECT_EQ(err,
              "\r* decoded UU-encoded file a.zip (1234 bytes) (auto-renamed)\n"
              "\r* ignored MIME-encoded file b.txt (9 bytes)\n"
              "\r* killed MIME-encoded file c.txt (7 bytes)\n");
    EXPECT_EQ(written(), "[Tarnwick decoded UU-encoded file a.zip (1234 bytes) (auto-renamed)]\r\n");
    EXPECT_EQ(announced_attachment_count(), 3);
}

TEST_F(FtnWriter, HeaderValuesCannotForgeLines) {
    CurrentMessage& m = message();
    m.reply_address = "joe@example.com\r\x01INTL 9:9/9 9:9/9";
    m.message_id.text = "id@x\rAREA:FAKE";
    m.organization = "Org\r * Origin: fake";
    std::string body = one_message(MessageKind::Mail, "");
    EXPECT_NE(body.find("\x01REPLYADDR joe@example.com\r\x01REPLYTO"), std::string::npos);
    EXPECT_NE(body.find("\x01MSGID: <id@x> "), std::string::npos);
    EXPECT_EQ(body.find("9:9/9"), std::string::npos);
    EXPECT_EQ(body.find("FAKE"), std::string::npos);
    EXPECT_NE(body.find(" * Origin: Org (2:292/854)\r"), std::string::npos);
    EXPECT_EQ(m.message_id.serial, crc32_text("id@x\rAREA:FAKE"));  // the serial stands for the whole id
}

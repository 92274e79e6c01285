#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "config/config.h"
#include "driver/message.h"
#include "ftn/format.h"
#include "ftn/reader.h"
#include "ftn/writer.h"
#include "support/packet_builder.h"
#include "support/site_fixture.h"

using namespace tw;
using namespace std::string_literals;

namespace {

using twtest::le16;

// What the reader handed over for one message.
struct Seen {
    FtnAddress origin;
    bool attach;
    std::string date, to, from, subject;
    std::vector<std::string> lines;
};

class FtnReader : public twtest::SiteFixture {
protected:
    void SetUp() override {
        SiteFixture::SetUp();
        ASSERT_EQ(configure("FidoAddr 2:292/854\nAddrMap 3:292/100 uucp-gate@example.org\n"
                            "Route 2:292/900 far@example.net pw SUBJ=routed\n"),
                  "");
        message().export_target = ExportTarget::Undetermined;
    }

    // The stand-in for the export converter: reads the text to its NUL.
    MessageConverter collector() {
        return [this](platform::File& f, bool use_attach_list) {
            EXPECT_FALSE(use_attach_list);
            const CurrentMessage& m = message();
            Seen s{m.origin, m.attach, m.ftn_date.c_str(), m.recipient_name.c_str(), m.sender_name.c_str(),
                   m.subject.c_str(), {}};
            char buf[257];
            std::string line;
            for (;;) {
                TextLine r = read_text_line(f, buf, 256);
                line += buf;
                if (r == TextLine::Continues) continue;
                if (r == TextLine::EndOfText && line.empty()) break;
                s.lines.push_back(line);
                line.clear();
                if (r == TextLine::EndOfText) break;
            }
            seen.push_back(s);
            return outcome;
        };
    }

    // Reads bytes as a packet; captures the console.
    PacketRead read_full(std::string_view bytes, std::string* console = nullptr) {
        dir.write("in.pkt", bytes);
        platform::File f;
        EXPECT_TRUE(f.open(dir.path("in.pkt"), platform::OpenMode::Read));
        PacketRead r{};
        std::string err = twtest::stderr_of([&] { r = read_packet(f, false, collector()); });
        if (console) *console = err;
        return r;
    }
    // Accepted and read to its end.
    bool read(std::string_view bytes, std::string* console = nullptr) {
        return read_full(bytes, console).outcome == PacketOutcome::Exported;
    }

    static std::string header(twtest::Addr from, twtest::Addr to, unsigned type = 2) {
        return twtest::packet_header(from, to, "PASSWORD", type);
    }
    static std::string message_bytes(unsigned net, unsigned node, unsigned attr, std::string_view strings) {
        return le16(2) + le16(node) + le16(1) + le16(net) + le16(1) + le16(attr) + le16(0) + std::string(strings);
    }

    std::vector<Seen> seen;
    ConvertOutcome outcome = ConvertOutcome::Exported;  // what the stand-in converter returns
};

}  // namespace

TEST_F(FtnReader, NotAPacket) {
    std::string console;
    std::string full = header({2, 292, 1, 0}, {2, 292, 854, 0});
    ASSERT_EQ(full.size(), 58u);  // one byte short of a header is not a packet
    EXPECT_FALSE(read(full.substr(0, 57), &console));
    EXPECT_EQ(console, "");
    EXPECT_FALSE(read(header({2, 292, 1, 0}, {2, 292, 854, 0}, 1) + "\0\0"s, &console));
    EXPECT_EQ(console, "");
    EXPECT_FALSE(read("", &console));
    EXPECT_TRUE(read(header({2, 292, 1, 0}, {2, 292, 854, 0}, 7) + "\0\0"s, &console));  // any type from 2 up
}

TEST_F(FtnReader, DestinationDecidesTarget) {
    std::string console;
    // Type 2+ for the gateway, origin with a point.
    EXPECT_TRUE(read(header({2, 292, 1, 4}, {2, 292, 854, 0}) + "\0\0"s, &console));
    EXPECT_EQ(console, "Exporting Type 2+ packet from 2:292/1.4 to 2:292/854\n");
    EXPECT_EQ(message().export_target, ExportTarget::Gateway);
    EXPECT_TRUE(seen.empty());

    // The gateway as a point: the point must match too.
    mutable_config().FidoAddr.point = 5;
    message().export_target = ExportTarget::Undetermined;
    EXPECT_FALSE(read(header({2, 292, 1, 0}, {2, 292, 854, 0}) + "\0\0"s, &console));
    EXPECT_EQ(console, "");
    EXPECT_EQ(message().export_target, ExportTarget::Undetermined);
    EXPECT_TRUE(read(header({2, 292, 1, 0}, {2, 292, 854, 5}) + "\0\0"s, &console));
    EXPECT_EQ(console, "Exporting Type 2+ packet from 2:292/1 to 2:292/854.5\n");

    // A Route entry's node: the entry is loaded into the message.
    message().export_target = ExportTarget::Undetermined;
    EXPECT_TRUE(read(header({2, 292, 1, 0}, {2, 292, 900, 0}) + "\0\0"s));
    EXPECT_EQ(message().export_target, ExportTarget::Route);
    EXPECT_EQ(message().recipient_address, "far@example.net");
    EXPECT_EQ(message().password, "pw");
    EXPECT_EQ(message().export_subject, "routed");

    // Anyone else: refused.
    message().export_target = ExportTarget::Undetermined;
    EXPECT_FALSE(read(header({2, 292, 1, 0}, {2, 292, 901, 0}) + "\0\0"s));

    // A half-marked Type 2+ header is plain Type 2: zones from the first
    // AddrMap entry, the gateway's own zone and point when it is the target.
    std::string h = header({2, 292, 1, 4}, {2, 292, 854, 5});
    h[40] = 0x01;  // capability copy no longer byte-swapped
    h[41] = 0x00;
    message().export_target = ExportTarget::Gateway;
    EXPECT_TRUE(read(h + "\0\0"s, &console));
    EXPECT_EQ(console, "Exporting Type 2 packet from 3:292/1 to 2:292/854.5\n");
    message().export_target = ExportTarget::Undetermined;
    EXPECT_FALSE(read(h + "\0\0"s, &console));  // 3:292/854 is not the gateway
}

TEST_F(FtnReader, MessagesReachTheConverter) {
    std::string packet = header({2, 292, 1, 4}, {2, 292, 854, 0});
    packet += message_bytes(292, 77, 0x0013, "01 Jan 99  00:00:00\0Sysop\0Joe\0Hi\0"s + "one\r\ntwo\r\0"s);
    packet += message_bytes(293, 78, 0x0001, "02 Feb 02  01:02:03\0To\0From\0Subj\0"s + "AREA:X\r\x01" "FMPT 1\rlast\0"s);
    ASSERT_TRUE(read(packet));  // no terminator: the end of the file ends it
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].origin, (FtnAddress{2, 292, 77, 4}));
    EXPECT_TRUE(seen[0].attach);
    EXPECT_EQ(seen[0].date, "01 Jan 99  00:00:00");
    EXPECT_EQ(seen[0].to, "Sysop");
    EXPECT_EQ(seen[0].from, "Joe");
    EXPECT_EQ(seen[0].subject, "Hi");
    EXPECT_EQ(seen[0].lines, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(seen[1].origin, (FtnAddress{2, 293, 78, 4}));
    EXPECT_FALSE(seen[1].attach);
    EXPECT_EQ(seen[1].lines, (std::vector<std::string>{"AREA:X", "\x01" "FMPT 1", "last"}));

    // Bytes after the terminator are not a message.
    seen.clear();
    ASSERT_TRUE(read(header({2, 292, 1, 0}, {2, 292, 854, 0}) + "\0\0"s + std::string(40, 'z')));
    EXPECT_TRUE(seen.empty());
}

TEST_F(FtnReader, OverlongFieldsWithoutNul) {
    std::string packet = header({2, 292, 1, 0}, {2, 292, 854, 0});
    packet += message_bytes(292, 1, 0, std::string(30, 'd') + std::string(200, 't') + "\0from\0subj\0text\0"s);
    // The fields overran into the text, so what is left of it is out of step.
    EXPECT_EQ(read_full(packet).outcome, PacketOutcome::Damaged);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].date, std::string(20, 'd'));
    EXPECT_EQ(seen[0].to, std::string(10, 'd') + std::string(117, 't'));
    EXPECT_EQ(seen[0].from, std::string(83, 't'));
    EXPECT_EQ(seen[0].subject, "from");
}

TEST_F(FtnReader, ReadsWhatTheWriterWrote) {
    // The gateway's attach packet is addressed from the FTN side to the
    // gateway, so it comes back in as one file-attach message.
    platform::File f = write_attach_packet(config().FidoAddr, "Joe", dir.path("att.pkt"), "C:\\OUT\\A.ZIP");
    ASSERT_TRUE(f.is_open());
    f.seek(0);
    ASSERT_EQ(read_packet(f, false, collector()).outcome, PacketOutcome::Exported);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].attach);
    EXPECT_EQ(seen[0].origin, (FtnAddress{3, 292, 100, 0}));
    EXPECT_EQ(seen[0].to, "Joe");
    EXPECT_EQ(seen[0].from, "uucp-gate@example.org");
    EXPECT_EQ(seen[0].subject, "C:\\OUT\\A.ZIP");
    EXPECT_EQ(seen[0].lines.back(), "[Tarnwick-DOS v1.05 attached file A.ZIP]");
}

TEST_F(FtnReader, CutOrOutOfStepPacketsAreDamagedAfterTheirWholeMessages) {
    std::string packet = header({2, 292, 1, 0}, {2, 292, 854, 0});
    std::vector<std::size_t> ends;  // offset after each whole message
    for (int i = 0; i < 3; ++i) {
        packet += message_bytes(292, 1, 0x10, "01 Jan 99  00:00:00\0Sysop\0Joe\0Hi\0"s + "AREA:X\rline\r\nline\r\0"s);
        ends.push_back(packet.size());
    }
    packet += "\0\0"s;
    for (std::size_t n = 0; n <= packet.size(); ++n) {
        seen.clear();
        message().export_target = ExportTarget::Undetermined;
        PacketRead r = read_full(packet.substr(0, n));
        std::size_t whole = 0;
        while (whole < ends.size() && ends[whole] <= n) ++whole;
        EXPECT_EQ(seen.size(), n < 58 ? 0u : whole) << n;
        // Cut at a message boundary, or in the terminator, loses nothing.
        bool boundary = n == 58 || n >= ends.back() || std::find(ends.begin(), ends.end(), n) != ends.end();
        PacketOutcome want = n < 58 ? PacketOutcome::Refused : boundary ? PacketOutcome::Exported : PacketOutcome::Damaged;
        EXPECT_EQ(r.outcome, want) << n;
        if (want == PacketOutcome::Damaged) {
            EXPECT_EQ(r.damage_at, long(whole ? ends[whole - 1] : 58)) << n;
        }
    }

    // A message without its NUL swallows the next one's type word: the
    // reader is out of step and stops instead of converting garbage.
    std::string lost = header({2, 292, 1, 0}, {2, 292, 854, 0}) +
                       message_bytes(292, 1, 0, "01 Jan 99  00:00:00\0A\0B\0S\0"s + "no nul") +
                       message_bytes(292, 77, 0, "01 Jan 99  00:00:00\0A\0B\0S\0"s + "text\0"s) + "\0\0"s;
    seen.clear();
    PacketRead r = read_full(lost);
    EXPECT_EQ(r.outcome, PacketOutcome::Damaged);
    EXPECT_EQ(seen.size(), 1u);

    // A message the reply packet cannot take stops the packet there.
    seen.clear();
    outcome = ConvertOutcome::Failed;
    r = read_full(packet);
    EXPECT_EQ(r.outcome, PacketOutcome::Failed);
    EXPECT_EQ(r.resume_at, 58);
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(FtnReader, SurvivesGarbage) {
    std::mt19937 rng(42);
    for (int round = 0; round < 200; ++round) {
        std::string junk = header({2, 292, 1, 0}, {2, 292, 854, 0});
        std::size_t len = rng() % 2000;
        for (std::size_t i = 0; i < len; ++i) junk.push_back(char(rng() % 256));
        seen.clear();
        message().export_target = ExportTarget::Undetermined;
        EXPECT_NE(read_full(junk).outcome, PacketOutcome::Refused);
        for (const Seen& s : seen) {
            EXPECT_LE(s.date.size(), 20u);
            EXPECT_LE(s.to.size(), 127u);
        }
    }
}

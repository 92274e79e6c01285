#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ftn/format.h"
#include "support/scratch.h"

using namespace tw;
using namespace std::string_literals;

namespace {

// Opens bytes as a binary file for the reader primitives.
struct ByteFile {
    twtest::Scratch dir;
    platform::File file;
    explicit ByteFile(std::string_view bytes) {
        dir.write("f.bin", bytes);
        file.open(dir.path("f.bin"), platform::OpenMode::Read);
    }
};

std::string le16(unsigned v) { return std::string{char(v & 0xFF), char(v >> 8)}; }

}  // namespace

TEST(FtnFormat, PacketHeaderLayout) {
    PacketHeader h{};
    h.orig_node = 854;
    h.dest_node = 100;
    h.year = 2026;
    h.month = 2;
    h.day = 5;
    h.hour = 7;
    h.minute = 8;
    h.second = 9;
    h.packet_type = 2;
    h.orig_net = 292;
    h.dest_net = 293;
    h.product_low = 0;
    h.revision_major = 1;
    h.set_password("ABCDEFGHIJ");  // cut at 8, no NUL
    h.q_orig_zone = 2;
    h.q_dest_zone = 3;
    h.capability_copy = kCapabilityCopy;
    h.product_high = 1;
    h.capability = kCapabilityWord;
    h.orig_zone = 2;
    h.dest_zone = 3;
    h.orig_point = 7;
    h.dest_point = 0x1234;
    h.product_data = 0xA1B2C3D4;
    std::uint8_t raw[PacketHeader::size];
    h.encode(raw);
    std::string expect = le16(854) + le16(100) + le16(2026) + le16(2) + le16(5) + le16(7) + le16(8) + le16(9) +
                         le16(0) + le16(2) + le16(292) + le16(293) + std::string("\x00\x01", 2) + "ABCDEFGH" +
                         le16(2) + le16(3) + le16(0) + le16(0x0100) + std::string("\x01\x00", 2) + le16(1) +
                         le16(2) + le16(3) + le16(7) + le16(0x1234) + std::string("\xD4\xC3\xB2\xA1", 4);
    ASSERT_EQ(expect.size(), 58u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(raw), 58), expect);

    PacketHeader back = PacketHeader::decode(raw);
    std::uint8_t again[PacketHeader::size];
    back.encode(again);
    EXPECT_EQ(std::memcmp(raw, again, 58), 0);
    EXPECT_TRUE(back.is_type2plus());
    back.capability_copy = 0x0001;
    EXPECT_FALSE(back.is_type2plus());
    back.capability_copy = kCapabilityCopy;
    back.capability = 0x0100;
    EXPECT_FALSE(back.is_type2plus());

    h.set_password("ab");
    EXPECT_EQ(std::string(h.password, 8), std::string("ab\0\0\0\0\0\0", 8));
}

TEST(FtnFormat, PackedAndStoredHeaders) {
    PackedMessageHeader p{2, 854, 100, 292, 293, 0x0011, 0};
    std::uint8_t raw[PackedMessageHeader::size];
    p.encode(raw);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(raw), 14),
              le16(2) + le16(854) + le16(100) + le16(292) + le16(293) + le16(0x11) + le16(0));

    // A stored header written by someone else: fields filled to the brim
    // without NUL, odd bytes in the unused block. A rewrite keeps them.
    std::string bytes(190, '\0');
    std::memset(bytes.data(), 'F', 36);
    std::memset(bytes.data() + 36, 'T', 36);
    std::memcpy(bytes.data() + 72, "Subject", 7);
    std::memcpy(bytes.data() + 144, "01 Jan 99  00:00:00", 19);
    bytes[166] = 100;
    bytes[168] = 0x56;
    bytes[169] = 0x03;
    bytes[172] = 0x24;
    bytes[173] = 0x01;
    bytes[176] = '\x7f';
    bytes[183] = '\x80';
    bytes[186] = 0x10;
    bytes[187] = 0x02;
    StoredMessageHeader s = StoredMessageHeader::decode(reinterpret_cast<const std::uint8_t*>(bytes.data()));
    EXPECT_EQ(s.from(), std::string(36, 'F'));
    EXPECT_EQ(s.to(), std::string(36, 'T'));
    EXPECT_EQ(s.subj(), "Subject");
    EXPECT_EQ(s.date_text(), "01 Jan 99  00:00:00");
    EXPECT_EQ(s.dest_node, 100);
    EXPECT_EQ(s.orig_node, 854);
    EXPECT_EQ(s.orig_net, 292);
    EXPECT_EQ(s.attribute, kAttrFileAttached | kAttrHold);
    s.attribute |= kAttrSent;
    std::uint8_t out[StoredMessageHeader::size];
    s.encode(out);
    bytes[186] = 0x18;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 190), bytes);

    s.set_from(std::string(50, 'x'));
    EXPECT_EQ(s.from(), std::string(35, 'x'));
}

TEST(FtnFormat, DateFieldWriteAndRead) {
    char out[20];
    format_ftn_date(out, 5, 2, 2026, 7, 8, 9);
    EXPECT_STREQ(out, "05 Mar 26  07:08:09");
    format_ftn_date(out, 31, 11, 1999, 23, 59, 60);
    EXPECT_STREQ(out, "31 Dec 99  23:59:60");
    format_ftn_date(out, 1, 99, 2000, 0, 0, 0);  // a month out of range must not index past the table
    EXPECT_STREQ(out, "01 Jan 00  00:00:00");

    MessageDate d{};
    EXPECT_EQ(parse_ftn_date("05 Mar 26  07:08:09", d), 6);
    EXPECT_EQ(d.day, 5);
    EXPECT_EQ(d.month, 2);
    EXPECT_EQ(d.year, 2026);
    EXPECT_EQ(d.hour, 7);
    EXPECT_EQ(d.minute, 8);
    EXPECT_EQ(d.second, 9);

    EXPECT_EQ(parse_ftn_date("12 jan 99  1:2:3", d), 6);
    EXPECT_EQ(d.month, 0);
    EXPECT_EQ(d.year, 1999);
    EXPECT_EQ(parse_ftn_date("12 DECEMBER 05 1:2:3", d), 6);
    EXPECT_EQ(d.month, 11);
    EXPECT_EQ(d.year, 2005);
    EXPECT_EQ(parse_ftn_date("12 Foo 80 1:2:3", d), 6);
    EXPECT_EQ(d.month, 0);
    EXPECT_EQ(d.year, 1980);

    // Fields the text does not reach keep what they held.
    d = MessageDate{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(parse_ftn_date("17 Jun 20  10 :11:12", d), 4);
    EXPECT_EQ(d.day, 17);
    EXPECT_EQ(d.month, 5);
    EXPECT_EQ(d.year, 2020);
    EXPECT_EQ(d.hour, 10);
    EXPECT_EQ(d.minute, 5);
    EXPECT_EQ(d.second, 6);
    EXPECT_EQ(parse_ftn_date("", d), 0);
    EXPECT_EQ(parse_ftn_date("xx", d), 0);
    EXPECT_EQ(parse_ftn_date(std::string_view("03\0 Jan", 7), d), 1);
}

TEST(FtnFormat, ReadFieldCutsAndContinues) {
    std::string name(200, 'n');
    ByteFile f(name + std::string("\0Joe\0", 5) + "tail");
    char buf[128];
    EXPECT_EQ(read_field(f.file, buf, 127), 127u);
    EXPECT_EQ(std::string(buf), std::string(127, 'n'));
    EXPECT_EQ(read_field(f.file, buf, 127), 73u);  // the rest of the long field
    EXPECT_EQ(read_field(f.file, buf, 127), 3u);
    EXPECT_STREQ(buf, "Joe");
    EXPECT_EQ(read_field(f.file, buf, 127), 4u);  // end of file ends the field
    EXPECT_STREQ(buf, "tail");
    EXPECT_EQ(read_field(f.file, buf, 127), 0u);
    EXPECT_STREQ(buf, "");
}

TEST(FtnFormat, ReadTextLineResults) {
    ByteFile f("abc\r\ndef\rab\ncd\r\n\rlong-line\rend\0nextx"s);
    char buf[8];
    EXPECT_EQ(read_text_line(f.file, buf, 7), TextLine::Complete);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(read_text_line(f.file, buf, 7), TextLine::Complete);
    EXPECT_STREQ(buf, "def");
    EXPECT_EQ(read_text_line(f.file, buf, 7), TextLine::Complete);
    EXPECT_STREQ(buf, "ab\ncd");
    EXPECT_EQ(read_text_line(f.file, buf, 7), TextLine::Complete);  // LF CR: an empty line
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(read_text_line(f.file, buf, 7), TextLine::Continues);
    EXPECT_STREQ(buf, "long-li");
    EXPECT_EQ(read_text_line(f.file, buf, 7), TextLine::Complete);
    EXPECT_STREQ(buf, "ne");
    EXPECT_EQ(read_text_line(f.file, buf, 7), TextLine::EndOfText);
    EXPECT_STREQ(buf, "end");
    EXPECT_EQ(read_text_line(f.file, buf, 7), TextLine::EndOfText);  // end of file
    EXPECT_STREQ(buf, "nextx");
    EXPECT_EQ(read_text_line(f.file, buf, 0), TextLine::EndOfText);
}

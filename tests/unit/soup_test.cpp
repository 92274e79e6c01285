#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "config/config.h"
#include "driver/output.h"
#include "soup/soup.h"
#include "support/scratch.h"
#include "support/soup_builder.h"

using namespace tw;

namespace {

// Python's mailbox module writes the mbox and MMDF files; beside each it
// writes the messages as the module itself reads them back, length-framed.
const char* kMakeBoxes = R"PY(
import mailbox, os, sys
out = sys.argv[1]
msgs = []
for i in range(36):
    body = []
    if i % 5 == 0: body.append("From the start of a line, escaped by the writer")
    if i % 7 == 0: body.append("x" * 254 + "From inside a long line")
    if i % 6 == 0: body.append("")
    if i % 11 == 0: body.append("two \x01\x01 marks and a From in the middle")
    if i % 4 == 1: body.append("y" * 600)
    body += ["line %d of %d" % (j, i) for j in range(i % 4)]
    text = "From: user%d@example.org\nTo: gate@example.net\nSubject: message %d\n\n" % (i, i)
    text += "".join(l + "\n" for l in body)
    msgs.append(text.encode("latin-1"))
for cls, name, with_from in ((mailbox.mbox, "box.mbox", False), (mailbox.MMDF, "box.mmdf", True)):
    path = os.path.join(out, name)
    box = cls(path)
    box.lock()
    for m in msgs:
        box.add(m)
    box.flush()
    box.unlock()
    box.close()
    box = cls(path)
    with open(path + ".expected", "wb") as f:
        for k in sorted(box.keys()):
            b = box.get_bytes(k, from_=with_from)
            f.write(len(b).to_bytes(4, "big") + b)
    box.close()
)PY";

using twtest::binary;
using twtest::unframe;

struct Framed {
    std::vector<std::string> messages;
    FrameResult last;
};

// Frames a whole file the way the import run does: seek to each end.
Framed frame_file(const std::string& path, char format) {
    platform::File f;
    Framed r{{}, FrameResult::EndOfFile};
    EXPECT_TRUE(f.open(path, platform::OpenMode::Read));
    long long size = f.size();
    std::string bytes = twtest::read_file(path);
    for (int guard = 0; guard < 100000; ++guard) {
        long long before = f.tell();
        MessageExtent x{};
        r.last = read_soup_frame(f, size, format, x);
        if (r.last != FrameResult::Message) break;
        EXPECT_EQ(f.tell(), x.start);
        EXPECT_GT(x.end, before);
        EXPECT_LE(x.start, x.end);
        EXPECT_LE(x.end, size);
        r.messages.push_back(bytes.substr(std::size_t(x.start), std::size_t(x.end - x.start)));
        f.seek(x.end);
    }
    return r;
}

class SoupFrame : public ::testing::Test {
protected:
    twtest::Scratch dir;
    std::string file(const std::string& name, const std::string& bytes) {
        dir.write(name, bytes);
        return dir.path(name);
    }
};

}  // namespace

TEST_F(SoupFrame, MailboxAndMmdfWrittenByPython) {
    dir.write("make.py", kMakeBoxes);
    auto r = twtest::run_process({"/usr/bin/env", "python3", dir.path("make.py"), dir.root()}, dir.root());
    ASSERT_EQ(r.code, 0) << r.err;

    for (auto [name, format] : {std::pair{"box.mbox", 'm'}, std::pair{"box.mmdf", 'M'}}) {
        SCOPED_TRACE(name);
        std::vector<std::string> want = unframe(dir.read(std::string(name) + ".expected"));
        ASSERT_EQ(want.size(), 36u);
        Framed got = frame_file(dir.path(name), format);
        EXPECT_EQ(got.last, FrameResult::EndOfFile);
        ASSERT_EQ(got.messages.size(), want.size());
        // The line end before the next separator belongs to the message.
        for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got.messages[i], want[i] + "\n") << "message " << i;
    }

    // The same messages in the binary and rnews framings.
    std::vector<std::string> msgs = unframe(dir.read("box.mbox.expected"));
    for (char format : {'b', 'B'}) {
        Framed got = frame_file(file("bin.msg", binary(msgs)), format);
        EXPECT_EQ(got.last, FrameResult::EndOfFile);
        EXPECT_EQ(got.messages, msgs);
    }
    Framed got = frame_file(file("news.msg", twtest::rnews(msgs)), 'u');
    EXPECT_EQ(got.last, FrameResult::EndOfFile);
    EXPECT_EQ(got.messages, msgs);
}

TEST_F(SoupFrame, BinaryEndsAndBadFiles) {
    // Two of the four length bytes after the last message: a normal end.
    Framed a = frame_file(file("a.msg", binary({"abc"}) + std::string("\0\0", 2)), 'b');
    EXPECT_EQ(a.messages, std::vector<std::string>{"abc"});
    EXPECT_EQ(a.last, FrameResult::EndOfFile);

    Framed zero = frame_file(file("z.msg", binary({"", "x"})), 'B');
    EXPECT_EQ(zero.messages, (std::vector<std::string>{"", "x"}));

    Framed past = frame_file(file("p.msg", binary({"ab"}) + std::string("\0\0\0\x0a", 4) + "short"), 'b');
    EXPECT_EQ(past.messages, std::vector<std::string>{"ab"});
    EXPECT_EQ(past.last, FrameResult::BadFile);

    Framed high = frame_file(file("h.msg", std::string("\x80\0\0\1", 4) + "x"), 'b');
    EXPECT_TRUE(high.messages.empty());
    EXPECT_EQ(high.last, FrameResult::BadFile);
}

TEST_F(SoupFrame, RnewsCounts) {
    // A count past the end ends at the end of the file.
    Framed over = frame_file(file("o.msg", "#! rnews 2\nab#! rnews 99\ncd"), 'u');
    EXPECT_EQ(over.messages, (std::vector<std::string>{"ab", "cd"}));
    EXPECT_EQ(over.last, FrameResult::EndOfFile);

    EXPECT_EQ(frame_file(file("c.msg", "#! rnews 1\nx#! RNEWS 1\ny"), 'u').last, FrameResult::BadFile);
    EXPECT_EQ(frame_file(file("d.msg", "#!rnews 1\nx"), 'u').last, FrameResult::BadFile);
    // A negative count would step back into what was read.
    Framed neg = frame_file(file("n.msg", "#! rnews 1\nx#! rnews -12\nabcdefghijkl"), 'u');
    EXPECT_EQ(neg.messages, std::vector<std::string>{"x"});
    EXPECT_EQ(neg.last, FrameResult::BadFile);
    Framed digits = frame_file(file("g.msg", "#! rnews 3 junk\nabc"), 'u');
    EXPECT_EQ(digits.messages, std::vector<std::string>{"abc"});
}

TEST_F(SoupFrame, MailboxSeparators) {
    EXPECT_EQ(frame_file(file("a.msg", "Subject: no envelope\n\nx\n"), 'm').last, FrameResult::BadFile);
    EXPECT_EQ(frame_file(file("b.msg", "from lower case\nx\n"), 'm').last, FrameResult::BadFile);
    Framed two = frame_file(file("c.msg", "From a\nA: 1\n\n>From x\n From y\nFrom b\nB: 2\n"), 'm');
    EXPECT_EQ(two.messages, (std::vector<std::string>{"A: 1\n\n>From x\n From y\n", "B: 2\n"}));
    // An envelope line longer than any line buffer is still one line.
    Framed longer = frame_file(file("d.msg", "From " + std::string(600, 'e') + "\nS: 1\n"), 'm');
    EXPECT_EQ(longer.messages, std::vector<std::string>{"S: 1\n"});
    EXPECT_EQ(frame_file(file("e.msg", ""), 'm').last, FrameResult::EndOfFile);
}

TEST_F(SoupFrame, MmdfSeparators) {
    // Separator line, message, separator line: the message starts with its
    // header, not with the separator's line end.
    Framed a = frame_file(file("a.msg", "\1\1\1\1\nS: 1\n\nbody\n\1\1\1\1\n"), 'M');
    EXPECT_EQ(a.messages, std::vector<std::string>{"S: 1\n\nbody\n"});
    EXPECT_EQ(a.last, FrameResult::EndOfFile);
    // CR LF separators, and a file without a leading separator.
    Framed b = frame_file(file("b.msg", "S: 1\r\n\1\1\1\1\r\n\1\1\1\1\r\nS: 2\r\n"), 'M');
    EXPECT_EQ(b.messages, (std::vector<std::string>{"S: 1\r\n", "S: 2\r\n"}));
    // Fewer than four 01h bytes do not separate; an empty line after the
    // separator's own line end stays in the message.
    Framed c = frame_file(file("c.msg", "\1\1\1\1\n\nx\1\1\1y\n"), 'M');
    EXPECT_EQ(c.messages, std::vector<std::string>{"\nx\1\1\1y\n"});
    EXPECT_EQ(frame_file(file("d.msg", "\1\1\1\1\1\1\n"), 'M').messages.size(), 0u);
}

TEST_F(SoupFrame, UnknownFormatIsBad) {
    platform::File f;
    ASSERT_TRUE(f.open(file("a.msg", "x"), platform::OpenMode::Read));
    MessageExtent x{};
    EXPECT_EQ(read_soup_frame(f, 1, 'q', x), FrameResult::BadFile);
}

// Arbitrary bytes: every call ends the file or moves past where it began,
// and every extent lies inside the file.
TEST_F(SoupFrame, ArbitraryBytesAlwaysEnd) {
    std::mt19937 rng(1234);
    const char alphabet[] = {'\1', '\n', '\r', 'F', 'r', 'o', 'm', ' ', '#', '!', 'n', 'e', 'w', 's', '9', '0', '\x80', '\0'};
    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        int len = int(rng() % 400);
        for (int i = 0; i < len; ++i) {
            if (rng() % 4 == 0)
                bytes.push_back(char(rng() % 256));
            else
                bytes.push_back(alphabet[rng() % sizeof alphabet]);
        }
        if (round % 3 == 0) bytes = "From x\n" + bytes;
        if (round % 3 == 1) bytes = "#! rnews 5\n" + bytes;
        std::string path = file("f.msg", bytes);
        for (char format : {'u', 'm', 'M', 'b'}) {
            Framed got = frame_file(path, format);
            ASSERT_LT(got.messages.size(), bytes.size() + 2);
        }
    }
}

// ---------------------------------------------------------------- AREAS

TEST(SoupAreas, LinesKindsAndFormats) {
    SoupArea a;
    ASSERT_EQ(parse_areas_line("0000001\tcomp.lang.c\tun\n", a), AreaLineStatus::Good);
    EXPECT_EQ(a.prefix, "0000001");
    EXPECT_EQ(a.name.view(), "comp.lang.c");
    EXPECT_EQ(a.format, 'u');
    EXPECT_EQ(a.kind, AreaKind::News);

    struct Case {
        const char* line;
        char format;
        int kind;
    } cases[] = {
        // The kind letter is the third one; the second (index type) is not used.
        {"1\tx\tBnm\n", 'B', 0}, {"1\tx\tbnn\n", 'b', 1},  {"1\tx\tBm\n", 'B', 1},  {"1\tx\tbn\n", 'b', 0},   {"1\tEMAIL\tB\n", 'B', 0}, {"1\tx\tb\n", 'b', 0},
        {"1\tx\tB\n", 'B', 1},   {"1\tx\tm\n", 'm', 0},    {"1\tx\tM\n", 'M', 0},     {"1\tx\tu\n", 'u', 1},
        {"1\tx\tmxn\n", 'm', 1}, {"1\tx\tuxm", 'u', 0},    {"1\tx\tunm\n", 'u', 0},   {"1\temail\tun\n", 'u', 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(parse_areas_line(c.line, a), AreaLineStatus::Good);
        EXPECT_EQ(a.format, c.format);
        EXPECT_EQ(int(a.kind), c.kind);
    }
    EXPECT_EQ(parse_areas_line("1\tx\tzn\n", a), AreaLineStatus::UnknownFormat);
    EXPECT_EQ(parse_areas_line("1\tx\t\n", a), AreaLineStatus::UnknownFormat);
    EXPECT_EQ(parse_areas_line("1\tx un\n", a), AreaLineStatus::Error);
    EXPECT_EQ(parse_areas_line("\n", a), AreaLineStatus::Error);
    // The prefix must stay a file name inside the SOUP directory.
    EXPECT_EQ(parse_areas_line("../etc/x\tx\tun\n", a), AreaLineStatus::Error);
    EXPECT_EQ(parse_areas_line("a\\b\tx\tun\n", a), AreaLineStatus::Error);
    EXPECT_EQ(parse_areas_line("\tx\tun\n", a), AreaLineStatus::Error);

    std::string long_name(300, 'n');
    ASSERT_EQ(parse_areas_line("1\t" + long_name + "\tb\n", a), AreaLineStatus::Good);
    EXPECT_EQ(a.name.size(), 127u);
}

TEST(SoupAreas, ReaderReportsAndSkips) {
    twtest::Scratch dir;
    std::string soup = dir.root() + "/";
    dir.write("areas",
              "0000001\tcomp.lang.c\tun\r\n"
              "broken line\n"
              "0000002\tEmail\tqn\n"
              "0000003\tEmail\tbn\n" +
                  std::string(300, 'x') + "\n");
    AreasReader r;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(r.open(soup));  // found without regard to case
    SoupArea a;
    ASSERT_TRUE(r.next(a));
    EXPECT_EQ(r.line_number(), 1);
    EXPECT_EQ(a.message_path, soup + "0000001.msg");
    EXPECT_EQ(a.kind, AreaKind::News);
    ASSERT_TRUE(r.next(a));
    EXPECT_EQ(r.line_number(), 4);
    EXPECT_EQ(a.prefix, "0000003");
    EXPECT_EQ(a.kind, AreaKind::Mail);
    EXPECT_TRUE(r.unknown_format_seen());
    EXPECT_FALSE(r.next(a));
    EXPECT_EQ(r.line_number(), 6);  // the 301-byte line reads as two
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error in line 2 in AREAS\nUnknown message format in line 3 in AREAS\n"
              "Error in line 5 in AREAS\nError in line 6 in AREAS\n");

    AreasReader none;
    twtest::Scratch empty;
    EXPECT_FALSE(none.open(empty.root() + "/"));
}

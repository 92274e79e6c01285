// The import reads each message file through a bounded window: a message
// that fits is framed and converted in memory, a larger one from the file.
// Whatever the window's size, framing and output must be the same bytes.
#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "ftn/writer.h"
#include "import/import.h"
#include "platform/read_window.h"
#include "soup/soup.h"
#include "support/site_fixture.h"
#include "support/soup_builder.h"

using namespace tw;

namespace {

// Extents and the last result of framing a whole file through a window.
std::vector<long long> frames(const std::string& path, char format, std::size_t capacity) {
    platform::File f;
    EXPECT_TRUE(f.open(path, platform::OpenMode::Read));
    long long size = f.size();
    std::vector<char> buffer(capacity);
    platform::ReadWindow w(f, buffer.data(), capacity);
    std::vector<long long> out;
    long long at = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        MessageExtent x{};
        FrameResult r = read_soup_frame(w, at, size, format, x);
        out.push_back(long(r));
        if (r != FrameResult::Message) break;
        out.push_back(x.start);
        out.push_back(x.end);
        at = x.end;
    }
    return out;
}

// Messages of every shape the converter distinguishes, some far larger than
// a small window: long and folded header lines, NUL bytes, CR LF, quoted-
// printable soft breaks, a base64 file, messages without a body.
std::vector<std::string> sample_messages(unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::string> out;
    for (int i = 0; i < 24; ++i) {
        std::string m = "From: Writer " + std::to_string(i) + " <w" + std::to_string(i) + "@net.example>\n";
        m += "To: sysop@tarnwick.example.org\nDate: Mon, 07 Dec 2026 10:00:00 +0000\n";
        m += "Message-ID: <m" + std::to_string(i) + "@net.example>\n";
        m += "Subject: message " + std::to_string(i) + "\n\tfolded " + std::string(rng() % 300, 's') + "\n";
        if (i % 4 == 1) m += "X-Long: " + std::string(40000, 'h') + "\n";
        if (i % 5 == 2) m += "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b1\"\n";
        m += "\n";
        if (i % 5 == 2) m += "--b1\nContent-Type: text/plain; charset=\"utf-8\"\nContent-Transfer-Encoding: quoted-printable\n\n";
        int lines = int(rng() % 400);
        for (int l = 0; l < lines; ++l) {
            std::string line(rng() % 90, char('a' + l % 26));
            if (l % 37 == 5) line = std::string(300 + rng() % 600, 'w');
            if (l % 41 == 7) line += std::string(1, '\0') + "nul";
            if (l % 43 == 9) line += "\r";
            if (i % 5 == 2 && l % 3 == 0) line += "=";
            m += line + "\n";
        }
        if (i % 5 == 2) {
            m += "--b1\nContent-Type: application/octet-stream; name=\"f" + std::to_string(i) +
                 ".bin\"\nContent-Transfer-Encoding: base64\n\n";
            for (int l = 0; l < 300; ++l) m += "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2\n";
            m += "--b1--\n";
        }
        // Only a date: a message without one is dated with the clock.
        if (i % 7 == 3) m = "Date: Mon, 07 Dec 2026 10:00:00 +0000\n";
        out.push_back(m);
    }
    return out;
}

class ImportWindow : public twtest::SiteFixture {
protected:
    void TearDown() override {
        set_import_window_size(kImportWindowSize);
        set_writer_clock(nullptr);
        SiteFixture::TearDown();
    }

    // A site in `name`: the four framings of the same messages; imports
    // them and returns every file the run left in the inbound, and what it
    // said.
    std::map<std::string, std::string> import_with_window(const std::string& name, std::size_t window) {
        twtest::reset_gateway_globals();
        std::vector<std::string> msgs = sample_messages(7);
        dir.write(name + "/soup/MAILB.MSG", twtest::binary(msgs));
        dir.write(name + "/soup/MAILM.MSG", twtest::mbox(msgs));
        dir.write(name + "/soup/NEWSU.MSG", twtest::rnews(msgs));
        dir.write(name + "/soup/MAILD.MSG", twtest::mmdf(msgs));
        dir.write(name + "/soup/AREAS", "MAILB\tEmail\tbn\nMAILM\tEmail\tmn\nNEWSU\tcomp.misc.tw\tun\nMAILD\tEmail\tMn\n");
        dir.mkdir(name + "/in");
        dir.mkdir(name + "/tmp");
        std::string root = dir.path(name) + "/";
        configure("FidoAddr 2:280/464\nAddrMap 2:280/464.1 sysop@tarnwick.example.org Sam Sysop\n"
                  "AreaMap TW.TALK comp.misc.tw\nImportLimit 9000\nInboundDir " + root + "in/\nSoupDir " + root +
                      "soup/\nTempDir " + root + "tmp/\n",
                  name + ".cfg");
        set_import_window_size(window);
        // The packets carry the time of writing.
        set_writer_clock([] { return std::time_t(1765200000); });
        std::string console = twtest::stderr_of([] { import_run(); });
        std::map<std::string, std::string> out;
        for (std::size_t at; (at = console.find(root)) != std::string::npos;) console.erase(at, root.size());
        out["console"] = console;
        for (const std::string& f : dir.list(name + "/in")) out[f] = dir.read(name + "/in/" + f);
        out["left in soup"] = std::to_string(dir.list(name + "/soup").size());
        return out;
    }
};

TEST_F(ImportWindow, FramingIsTheSameInAnyWindow) {
    std::mt19937 rng(99);
    const char alphabet[] = {'\1', '\n', '\r', 'F', 'r', 'o', 'm', ' ', '#', '!', 'n', 'e', 'w', 's', '9', '0', '\0'};
    for (int round = 0; round < 200; ++round) {
        std::string bytes;
        int len = int(rng() % 3000);
        for (int i = 0; i < len; ++i) bytes.push_back(rng() % 5 ? alphabet[rng() % sizeof alphabet] : char(rng()));
        if (round % 3 == 0) bytes = "From x\n" + bytes;
        if (round % 3 == 1) bytes = "#! rnews 500\n" + bytes;
        dir.write("f.msg", bytes);
        for (char format : {'u', 'm', 'M', 'b'}) {
            std::vector<long long> whole = frames(dir.path("f.msg"), format, 1 << 16);
            for (std::size_t cap : {std::size_t(64), std::size_t(65), std::size_t(100), std::size_t(701)})
                ASSERT_EQ(frames(dir.path("f.msg"), format, cap), whole) << "round " << round << " " << format;
        }
    }
}

TEST_F(ImportWindow, OutputIsTheSameInAnyWindow) {
    twtest::ScopedUtc utc;
    std::map<std::string, std::string> whole = import_with_window("w0", kImportWindowSize);
    ASSERT_GT(whole.size(), 8u);
    EXPECT_EQ(whole["left in soup"], "0");
    for (std::size_t window : {std::size_t(64), std::size_t(3000), std::size_t(70000)})
    {
        std::string name = std::to_string(window);
        name += "w";
        EXPECT_TRUE(import_with_window(name, window) == whole) << "window " << window;
    }
}

}  // namespace

// The quick-scan state file of the stored-netmail export, driven through
// export_netmail (the messages themselves are tested through the binary).
#include <gtest/gtest.h>
#include <utime.h>

#include <string>

#include "config/config.h"
#include "driver/message.h"
#include "driver/options.h"
#include "export/netmail.h"
#include "soup/soup.h"
#include "support/site_fixture.h"
#include "support/stored_msg.h"

using namespace tw;
using twtest::StoredMsg;

namespace {

class ExportNetmail : public twtest::SiteFixture {
protected:
    void SetUp() override {
        SiteFixture::SetUp();
        ASSERT_EQ(configure("NetmailDir " + subdir("net") + "\nInboundDir " + subdir("in") +
                            "\nFidoAddr 2:280/1\nAddrMap 2:280/100 sysop@example.com\n"
                            "Route 2:280/5 uucp-node@example.net\n"),
                  "");
    }

    // Writes a message file dated `age` seconds ago.
    void put(const std::string& name, const StoredMsg& m, int age = 100) {
        dir.write("net/" + name, m.bytes());
        struct utimbuf t;
        t.actime = t.modtime = std::time(nullptr) - age;
        ::utime(dir.path("net/" + name).c_str(), &t);
    }

    // The "Exporting netmail" lines of one run.
    std::string run() {
        start_replies();
        std::string err = twtest::stderr_of([] { export_netmail(); }), out;
        for (std::size_t at = 0; at < err.size();) {
            std::size_t nl = err.find('\n', at);
            std::string line = err.substr(at, nl - at + 1);
            if (line.rfind("Exporting netmail", 0) == 0) out += line;
            at = nl == std::string::npos ? err.size() : nl + 1;
        }
        return out;
    }
    std::uint16_t attr(const std::string& name) { return twtest::msg_attribute(dir.read("net/" + name)); }
};

}  // namespace

TEST_F(ExportNetmail, QuickScanState) {
    mutable_config().QuickScan = true;
    const std::string state = dir.path("net/tarnwick.dat");
    const std::string line = "Exporting netmail message from 2:280/100 to 2:280/1\n";
    put("1.MSG", StoredMsg{}, 100);

    // First run without a state file looks at everything; /test keeps the
    // message but moves the state to the start of the run.
    options().test = true;
    std::time_t before = std::time(nullptr);
    EXPECT_EQ(run(), line);
    std::string s = dir.read("net/tarnwick.dat");
    ASSERT_EQ(s.size(), 16u);
    EXPECT_EQ(s.substr(0, 8), std::string(8, '\0'));
    std::time_t t = read_scan_state(state, before + 5);
    EXPECT_GE(t, before);
    EXPECT_LE(t, before + 2);
    EXPECT_EQ(attr("1.MSG"), 0);

    // The unchanged file is passed over; a changed one is taken.
    EXPECT_EQ(run(), "");
    put("2.MSG", StoredMsg{}, 0);
    EXPECT_EQ(run(), line);

    // A state file of any other content, length, or a time to come: all looked at.
    for (std::string junk : {std::string(), std::string(7, '\0'), std::string(16, 'x'),
                             std::string(8, '\0') + std::string(8, '\x7f'), std::string(8, '\0') + "\xff\xff\xff\xff\xff\xff\xff\xff",
                             twtest::random_bytes(100000, 3)}) {
        dir.write("net/tarnwick.dat", junk);
        EXPECT_EQ(run(), line + line) << junk.size();
    }
    // QuickScan off: the state is neither read nor written.
    mutable_config().QuickScan = false;
    dir.write("net/tarnwick.dat", "keep");
    EXPECT_EQ(run(), line + line);
    EXPECT_EQ(dir.read("net/tarnwick.dat"), "keep");
    write_scan_state(state, 0x0102030405060708LL);
    EXPECT_EQ(dir.read("net/tarnwick.dat"), std::string(8, '\0') + "\x08\x07\x06\x05\x04\x03\x02\x01");
}

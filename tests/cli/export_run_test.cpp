// The export run through the binary: where it finds FTN mail (the outbound
// of the gateway and its routes, flow files, the /pkt= directory) and what
// it does with each file afterwards.
#include <algorithm>

#include "cli/cli.h"
#include "support/packet_builder.h"

using namespace twtest;

namespace {

bool has_line(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// The order in which lines appear in text; npos for a missing one.
std::vector<std::size_t> positions(const std::string& text, const std::vector<std::string>& lines) {
    std::vector<std::size_t> at;
    for (const auto& l : lines) at.push_back(("\n" + text).find("\n" + l + "\n"));
    return at;
}

class ExportRun : public CliTest {
protected:
    // Gateway 2:280/1 in BaseZone 2, a route into zone 1 to a point.
    void SetUp() override {
        CliTest::SetUp();
        write_config("Route 1:234/56.7 far@example.net secret SUBJ=hello\n");
    }

    // A one-netmail packet from the node `from` to the gateway (or dest).
    static std::string packet_from(Addr from, Addr dest = {2, 280, 1, 0}) {
        return PacketBuilder(from, dest)
            .netmail("Ann Sender", "UUCP", "Greetings", ftn_text({"To: someone@example.org", "", "Hello there"}))
            .bytes();
    }
};

TEST_F(ExportRun, PacketDirectoryTakesGatewayAndRoutePacketsAndKeepsTheRest) {
    dir.mkdir("pk");
    PacketBuilder cut_packet({2, 280, 5, 0}, {2, 280, 1, 0});
    cut_packet.netmail("Ann", "UUCP", "one", ftn_text({"To: a@example.org", "", "first"}));
    const std::string damage = "damaged at byte " + std::to_string(cut_packet.bytes(false).size());
    std::string cut =
        cut_packet.netmail("Ann", "UUCP", "two", ftn_text({"To: b@example.org", "", "second, cut"})).bytes();
    cut.resize(cut.size() - 9);
    dir.write("pk/cut.pkt", cut);
    dir.write("pk/gate.pkt", packet_from({2, 280, 5, 0}));
    dir.write("pk/junk.pkt", random_bytes(40, 7));
    dir.write("pk/other.pkt", packet_from({2, 280, 5, 0}, {2, 280, 9, 0}));
    dir.write("pk/route.PKT", packet_from({1, 234, 99, 0}, {1, 234, 56, 7}));
    dir.write("pk/notes.txt", "not a packet name");
    const std::vector<std::string> all{"cut.pkt", "gate.pkt", "junk.pkt", "notes.txt", "other.pkt", "route.PKT"};

    // /test leaves every file, the damaged one too, and says so.
    RunResult r = run({"export", "/test", "/pkt=pk/"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(dir.list("pk"), all);
    EXPECT_TRUE(r.err.starts_with("Exporting from PKT to Soup\n")) << r.err;
    EXPECT_TRUE(has_line(r.err, "! pk/cut.pkt is " + damage)) << r.err;

    r = run({"export", "/pkt=pk/"});
    ASSERT_EQ(r.code, 0) << r.err;
    // Sorted listing: cut, gate, junk, other, route. Packets for another
    // node and files that are no packet stay without a word.
    EXPECT_NE(r.err.find("Exporting Type 2+ packet from 2:280/5 to 2:280/1\n! pk/cut.pkt is " + damage +
                         ": renamed to pk/cut.bad\nExporting Type 2+ packet from 2:280/5 to 2:280/1\n"
                         "Exporting Type 2+ packet from 1:234/99 to 1:234/56.7\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("other.pkt"), std::string::npos);
    EXPECT_EQ(r.err.find("junk.pkt"), std::string::npos);
    EXPECT_EQ(dir.list("pk"), (std::vector<std::string>{"cut.bad", "junk.pkt", "notes.txt", "other.pkt"}));

    // The next run does not take the damaged packet again.
    r = run({"export", "/pkt=pk/"});
    EXPECT_EQ(r.err.find("Exporting Type"), std::string::npos) << r.err;
    EXPECT_EQ(dir.list("pk"), (std::vector<std::string>{"cut.bad", "junk.pkt", "notes.txt", "other.pkt"}));
}

TEST_F(ExportRun, OutboundFlavoursZonesPointsAndHold) {
    write_config("BaseZone 2\nRoute 1:234/56.7 far@example.net secret SUBJ=hello\n");
    // net 280 = 0118h; the route's zone directory and point directory are
    // written in upper case by this mailer.
    dir.write("out/01180001.out", packet_from({2, 280, 11, 0}));
    dir.write("out/01180001.CUT", packet_from({2, 280, 12, 0}));
    dir.write("out/01180001.dut", packet_from({2, 280, 13, 0}));
    dir.write("out/01180001.hut", packet_from({2, 280, 14, 0}));
    dir.mkdir("OUT.001/00EA0038.PNT");
    dir.write("OUT.001/00EA0038.PNT/00000007.out", packet_from({1, 234, 21, 0}, {1, 234, 56, 7}));
    // The zone-2 node in a zone directory is no place the gateway looks.
    dir.mkdir("out.002");
    dir.write("out.002/01180001.out", packet_from({2, 280, 15, 0}));

    RunResult r = run({"export"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::size_t> at = positions(r.err, {"Exporting from ?UT/?LO to Soup",
                                                     "Exporting Type 2+ packet from 2:280/11 to 2:280/1",
                                                     "Exporting Type 2+ packet from 2:280/12 to 2:280/1",
                                                     "Exporting Type 2+ packet from 2:280/13 to 2:280/1",
                                                     "Exporting Type 2+ packet from 1:234/21 to 1:234/56.7"});
    EXPECT_TRUE(std::is_sorted(at.begin(), at.end()) && at.back() != std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("2:280/14"), std::string::npos) << "hold without ExportAllMail\n" << r.err;
    EXPECT_EQ(r.err.find("2:280/15"), std::string::npos) << r.err;
    EXPECT_EQ(dir.list("out"), std::vector<std::string>{"01180001.hut"});
    EXPECT_TRUE(dir.list("OUT.001/00EA0038.PNT").empty());
    EXPECT_EQ(dir.list("out.002"), std::vector<std::string>{"01180001.out"});

    write_config("BaseZone 2\nExportAllMail Yes\n");
    r = run({"export"});
    EXPECT_TRUE(has_line(r.err, "Exporting Type 2+ packet from 2:280/14 to 2:280/1")) << r.err;
    EXPECT_TRUE(dir.list("out").empty());
}

TEST_F(ExportRun, FlowFileListsAPacketAndFilesAndIsKeptUntilTheyAreDone) {
    dir.mkdir("files");
    dir.mkdir("inb");
    dir.write("files/a.txt", "file a\n");
    dir.write("files/b.txt", "file b\n");
    dir.write("inb/mail.pkt", packet_from({2, 280, 31, 0}));
    dir.write("inb/bogus.pkt", "no packet at all");
    dir.write("out/01180001.out", packet_from({2, 280, 30, 0}));
    // The last line has no line end; a missing file is done with.
    std::string flow = std::string("^").append(dir.path("files/a.txt")) + "\r\n#files/b.txt\ninb/mail.pkt\nfiles/missing.zip\n" +
                       dir.path("inb/bogus.pkt");
    dir.write("out/01180001.flo", flow);

    RunResult r = run({"export", "/test"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(dir.read("out/01180001.flo"), flow);
    EXPECT_EQ(dir.list("out"), (std::vector<std::string>{"01180001.flo", "01180001.out"}));
    EXPECT_EQ(dir.list("inb"), (std::vector<std::string>{"bogus.pkt", "mail.pkt"}));
    EXPECT_TRUE(dir.list("tmp").empty());

    r = run({"export"});
    ASSERT_EQ(r.code, 0) << r.err;
    // The mail packet, then the listed packet, then one file-attach packet
    // (from the first AddrMap entry) per other file.
    std::vector<std::size_t> at = positions(r.err, {"Exporting Type 2+ packet from 2:280/30 to 2:280/1",
                                                     "Exporting Type 2+ packet from 2:280/31 to 2:280/1",
                                                     "Exporting Type 2+ packet from 2:280/1.1 to 2:280/1"});
    EXPECT_TRUE(std::is_sorted(at.begin(), at.end()) && at.back() != std::string::npos) << r.err;
    EXPECT_TRUE(has_line(r.err, "! " + dir.path("inb/bogus.pkt") + " is no packet for the gateway: left in place"))
        << r.err;
    EXPECT_TRUE(has_line(r.err, "! out/01180001.flo kept for the next run with the 1 entries not sent")) << r.err;
    EXPECT_TRUE(dir.list("tmp").empty());
    EXPECT_EQ(dir.list("inb"), std::vector<std::string>{"bogus.pkt"});
    EXPECT_EQ(dir.list("out"), std::vector<std::string>{"01180001.flo"});
    EXPECT_EQ(dir.read("out/01180001.flo"), dir.path("inb/bogus.pkt") + "\n");

    // Once the listed file is gone, the flow file is done with.
    std::remove(dir.path("inb/bogus.pkt").c_str());
    r = run({"export"});
    EXPECT_TRUE(dir.list("out").empty()) << r.err;
}

}  // namespace

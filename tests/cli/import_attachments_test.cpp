// Attachments decoded on import: messages built by Python's e-mail package
// (tests/cli/data/attachments.py), decoded files compared byte for byte
// with what was attached, and the FTN messages that name them.
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "cli/cli.h"
#include "support/packet_builder.h"
#include "support/soup_builder.h"

using namespace twtest;

namespace {

class Attachments : public CliTest {
protected:
    // Writes the SOUP areas of a message set and imports them.
    std::map<std::string, FtnMessage> import(const std::string& set, const std::string& extra = "",
                                                const std::string& shell_prefix = "") {
        write_config(extra);
        RunResult g = run_process({find_program("python3"), std::string(TW_SOURCE_DIR) + "/tests/cli/data/attachments.py",
                                   dir.root(), set},
                                  dir.root());
        if (g.code != 0) ADD_FAILURE() << "python3: " << g.err;
        if (shell_prefix.empty())
            last = run({"import"});
        else
            last = run_process({"/bin/sh", "-c", shell_prefix + " exec ./tarnwick import"}, dir.root());
        std::map<std::string, FtnMessage> out;
        // By the Subject: line of the Internet header.
        for (auto& m : parse_packets_in(dir, "in")) {
            std::size_t at = m.text.find("\x01Subject: ");
            if (at != std::string::npos) out[m.text.substr(at + 10, m.text.find('\r', at) - at - 10)] = m;
        }
        return out;
    }
    // The decoded file equals the one attached.
    void same(const std::string& decoded, const std::string& original) {
        ASSERT_TRUE(dir.exists(decoded)) << decoded;
        std::string a = dir.read(decoded), b = dir.read("orig/" + original);
        EXPECT_EQ(a.size(), b.size()) << decoded;
        EXPECT_TRUE(a == b) << decoded << " differs from " << original;
    }
    static bool has(const std::string& text, const std::string& piece) {
        return text.find(piece) != std::string::npos;
    }
    RunResult last;
};

TEST_F(Attachments, EveryKindOfAttachmentDecodesToTheBytesSent) {
    dir.write("in/exists.txt", "was here first\n");
    auto m = import("files");
    ASSERT_EQ(last.code, 0) << last.err;
    ASSERT_EQ(m.size(), 5u) << last.err;

    same("in/report.txt", "report.txt");
    same("in/all.bin", "all.bin");
    same("in/path.txt", "path.txt");
    same("in/READ_ME", "README");
    same("in/00000000.ATT", "noname");
    same("in/exists.tx0", "exists.txt");
    same("in/nested.bin", "nested.bin");
    same("in/uu.bin", "uu.bin");
    same("in/plain.bin", "plain.bin");
    EXPECT_EQ(dir.read("in/exists.txt"), "was here first\n");
    EXPECT_FALSE(dir.exists("in/empty.bin"));  // nothing in it: no file, no note

    // Private file-attach netmail naming exactly the files made.
    const FtnMessage& several = m["several files"];
    EXPECT_EQ(several.attribute, 0x11u);
    EXPECT_EQ(several.subject, "all.bin path.txt READ_ME 00000000.ATT exists.tx0");
    EXPECT_TRUE(has(several.text, "[Tarnwick decoded MIME-encoded file all.bin (10240 bytes)]\r\n"));
    EXPECT_TRUE(has(several.text, "[Tarnwick decoded MIME-encoded file exists.tx0 (12 bytes) (auto-renamed)]\r\n"));
    EXPECT_FALSE(has(several.text, "empty.bin ("));
    EXPECT_TRUE(has(several.text, "The files you asked for.\r"));
    // The encoded lines are gone from the text.
    EXPECT_FALSE(has(several.text, "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8g"));
    EXPECT_TRUE(has(last.err, "* decoded MIME-encoded file exists.tx0 (12 bytes) (auto-renamed)\n"));
    EXPECT_TRUE(has(last.err, "* decoded MIME-encoded file path.txt (12 bytes)\n"));

    // A single base64 part: the Internet subject is kept as a text line.
    const FtnMessage& single = m["single part"];
    EXPECT_EQ(single.subject, "report.txt");
    EXPECT_TRUE(has(single.text, "\rSubject: single part\r\r")) << single.text;

    // Nested multipart: neither the inner boundary nor the part headers of
    // the inner parts are text; both forms of the letter are.
    const FtnMessage& nested = m["nested parts"];
    EXPECT_EQ(nested.subject, "nested.bin");
    EXPECT_TRUE(has(nested.text, "Plain text of the letter.\r"));
    EXPECT_FALSE(has(nested.text, "\r--="));

    const FtnMessage& uu = m["uuencoded"];
    EXPECT_EQ(uu.subject, "uu.bin");
    EXPECT_TRUE(has(uu.text, "Here it comes:\r\r[Tarnwick decoded UU-encoded file uu.bin (768 bytes)]\r\n\rThat was it.\r"))
        << uu.text;
    EXPECT_TRUE(has(m["unquoted"].text, "decoded MIME-encoded file plain.bin (20 bytes)"));
    EXPECT_TRUE(has(last.err, "files: 9 "));
}

TEST_F(Attachments, NewsDecodeDirectoryKillAndJunk) {
    dir.mkdir("dec");
    auto m = import("places", "DecodeDir dec/ ALL\nAttachNews decode\nJunkFrom spammer@*\n");
    ASSERT_EQ(last.code, 0) << last.err;
    same("dec/article.bin", "article.bin");
    same("in/0000abcd.pkt", "0000abcd.pkt");  // mail named like a packet stays in the inbound
    same("dec/letter.txt", "letter.txt");
    EXPECT_FALSE(dir.exists("in/letter.txt"));
    EXPECT_EQ(m["packet and text"].subject, "0000abcd.pkt letter.txt");

    // A junk message decodes nothing and names nothing: its data stays text.
    const FtnMessage& junk = m["junk with a file"];
    EXPECT_EQ(junk.subject, "junk with a file");
    EXPECT_EQ(junk.attribute, 0x01u);
    EXPECT_TRUE(has(junk.text, "anVuayBmaWxl"));
    EXPECT_FALSE(dir.exists("in/junk.bin") || dir.exists("dec/junk.bin"));
    EXPECT_TRUE(has(last.err, "* ignored MIME-encoded file junk.bin (0 bytes)\n"));

    // Killed: the data lines go, the note stays.
    for (const auto& n : dir.list("in")) std::filesystem::remove(dir.path("in/" + n));
    for (const auto& n : dir.list("soup")) std::filesystem::remove(dir.path("soup/" + n));
    m = import("places", "AttachMail kill\n");
    const FtnMessage& killed = m["packet and text"];
    EXPECT_EQ(killed.attribute, 0x01u);
    EXPECT_EQ(killed.subject, "packet and text");
    EXPECT_TRUE(has(killed.text, "[Tarnwick killed MIME-encoded file letter.txt (9 bytes)]\r\n"));
    EXPECT_FALSE(has(killed.text, "YSBsZXR0ZXIK"));
    EXPECT_FALSE(dir.exists("in/letter.txt"));
}

TEST_F(Attachments, HostileInputStaysInsideItsDirectory) {
    auto started = std::chrono::steady_clock::now();
    auto m = import("hostile");
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_EQ(last.code, 0) << last.err.substr(0, 2000);
    EXPECT_LT(seconds, 120.0);
    // Nothing was made outside the inbound; nothing there was replaced.
    for (const auto& n : dir.list(""))
        EXPECT_TRUE(n == "in" || n == "out" || n == "soup" || n == "tmp" || n == "netmail" || n == "orig" ||
                    n == "tarnwick" || n == "tarnwick.cfg")
            << n;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(dir.root()).parent_path() / "escape.txt"));
    auto in = dir.list("in");
    for (const auto& n : in) {
        struct stat st;
        ASSERT_EQ(::stat(dir.path("in/" + n).c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << n;
        for (char c : n) EXPECT_GE((unsigned char)c, 0x20u) << n;
    }
    for (const char* name : {"escape.txt", "x.txt", "ctl__name.txt", "00000001.ATT", "00000002.ATT", "00000000.zip"})
        EXPECT_EQ(dir.read(std::string("in/") + name), "payload\n") << name;
    // The packet the gateway wrote and the attachment named like it both
    // reach the tosser; neither replaced the other (the gateway's packet
    // is named only when whole, so the attachment may come first).
    int payloads = 0, gateway_packets = 0;
    for (const auto& n : in) {
        if (n.size() != 12 || n.compare(8, 3, ".pk") != 0) continue;
        std::string bytes = dir.read("in/" + n);
        if (bytes == "payload\n") ++payloads;
        else if (count_messages(bytes) > 10) ++gateway_packets;
    }
    EXPECT_EQ(payloads, 1);
    EXPECT_EQ(gateway_packets, 1);

    same("in/big.bin", "big.bin");
    // Characters outside the alphabet are skipped, "==" ends the data.
    EXPECT_EQ(dir.read("in/garbage.bin"), "Hello worldABC");
    EXPECT_TRUE(has(m["garbage"].text, "QUJDRA=\r"));
    // A length character past the end of its line is no data.
    EXPECT_FALSE(dir.exists("in/past.bin"));
    EXPECT_TRUE(has(m["uu past the line"].text, "\rM86)C\r"));
    EXPECT_EQ(dir.read("in/p9900.bin"), "ABC");
    EXPECT_EQ(m["many parts"].subject, "p0.bin p100.bin p200.bin p300.bin p400.bin p500.bin p600.bin p700.bin");
    EXPECT_TRUE(has(m["many parts"].text, "text of part 9999\r"));
    EXPECT_TRUE(has(m["long boundary"].text, "text\r"));
    EXPECT_FALSE(has(m["long boundary"].text, "\r--BBBBBBBBBB")) << m["long boundary"].text;
}

TEST_F(Attachments, FileNotWrittenWholeIsNotAnnounced) {
    // Room for the packet, not for the 50 MB file: writing it fails.
    auto m = import("hostile", "", "trap '' XFSZ; ulimit -f 20000;");
    EXPECT_TRUE(has(last.err, "! Error writing decoded file in/big.bin\n")) << last.err.substr(0, 3000);
    EXPECT_FALSE(has(last.err, "file big.bin"));
    EXPECT_FALSE(dir.exists("in/big.bin"));
    // The message file stays for the next run.
    EXPECT_TRUE(dir.exists("soup/MAIL.MSG"));
    EXPECT_TRUE(dir.exists("soup/AREAS"));
}

TEST_F(Attachments, CrashmailTossesTheFileAttaches) {
    std::string crashmail = find_program("crashmail");
    if (crashmail.empty()) GTEST_SKIP() << "SKIPPED: crashmail is not installed (Debian package crashmail)";
    import("files");
    ASSERT_EQ(last.code, 0) << last.err;
    std::string root = dir.root();
    for (const char* d : {"net", "bad", "ctmp", "cout"}) dir.mkdir(d);
    dir.write("cm.prefs", "SYSOP \"Test Sysop\"\nLOGFILE \"" + root + "/cm.log\"\nLOGLEVEL 6\n"
                          "INBOUND \"" + root + "/in\"\nOUTBOUND \"" + root + "/cout\"\n"
                          "TEMPDIR \"" + root + "/ctmp\"\nCREATEPKTDIR \"" + root + "/ctmp\"\n"
                          "PACKETDIR \"" + root + "/cout\"\nSTATSFILE \"" + root + "/cm.stats\"\n"
                          "DUPEFILE \"" + root + "/cm.dupes\" 200\nDUPEMODE BAD\nDEFAULTZONE 2\n"
                          "AKA 2:280/1.1\nDOMAIN \"FidoNet\"\nNODE 2:280/1 \"\" \"\"\n"
                          "NETMAIL \"NETMAIL\" 2:280/1.1 MSG \"" + root + "/net\"\n"
                          "AREA \"BAD\" 2:280/1.1 MSG \"" + root + "/bad\"\n");
    RunResult t = run_process({crashmail, "SETTINGS", dir.path("cm.prefs"), "TOSS"}, root);
    std::string log = dir.read("cm.log");
    ASSERT_EQ(t.code, 0) << t.out << t.err;
    EXPECT_TRUE(dir.list("bad").empty()) << log;
    EXPECT_NE(log.find("Bad messages:      0"), std::string::npos) << log;
    // Every stored netmail carries the file-attach attribute, and every
    // file it names is in the inbound beside it.
    int stored = 0;
    for (const auto& name : dir.list("net")) {
        std::string b = dir.read("net/" + name);
        ASSERT_GE(b.size(), 190u) << name;
        unsigned attr = (unsigned char)b[186] | ((unsigned char)b[187] << 8);
        std::string subject = b.substr(72, 72);
        subject = subject.substr(0, subject.find('\0'));
        EXPECT_TRUE(attr & 0x10) << name << " " << subject;
        std::size_t pos = 0;
        while (pos < subject.size()) {
            std::size_t end = subject.find(' ', pos);
            if (end == std::string::npos) end = subject.size();
            EXPECT_TRUE(dir.exists("in/" + subject.substr(pos, end - pos))) << subject;
            pos = end + 1;
        }
        ++stored;
    }
    EXPECT_EQ(stored, 5) << log;
}

}  // namespace

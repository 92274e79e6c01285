// Subscriber records on disk and in the index, the reply placeholders and
// the message identifier writer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "driver/options.h"
#include "driver/message.h"
#include "rfc822/writer.h"
#include "lists/lists.h"
#include "support/site_fixture.h"

using namespace tw;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

const std::string kHead = "ListName L\nListAddress l@lists.example\nListUsers\n";

std::string record(const std::string& addr, const std::string& name = "", int status = 1,
                   const std::string& pw = "", char marker = '+') {
    return std::string(1, marker) + "\n" + addr + "\n" + name + "\n" + std::to_string(status) + "\n" + pw + "\n";
}

class Subscribers : public twtest::SiteFixture {
protected:
    // Loads the bytes as list 0; returns what the loader wrote to stderr.
    std::string load(const std::string& bytes) {
        dir.write("l.lst", bytes);
        return twtest::stderr_of(
            [&] { EXPECT_TRUE(load_list_config(dir.path("l.lst"), 1, dir.path("t.cfg"), dir.path("tarnwick"))); });
    }
    std::string file() { return dir.read("l.lst"); }
    std::string path() { return dir.path("l.lst"); }
    // Looks an address up; the record's fields joined by '|', or "-".
    std::string find(const std::string& addr, SubscriberLocation* where = nullptr) {
        SubscriberRecord r{};
        if (!find_subscriber(0, addr, r, where)) return "-";
        return std::string(r.address.view()) + "|" + std::string(r.name.view()) + "|" + std::to_string(int(r.status)) +
               "|" + std::string(r.password.view());
    }
    std::string bcc() {
        platform::File out;
        EXPECT_TRUE(out.open(dir.path("bcc"), platform::OpenMode::Write));
        write_bcc_list(0, out);
        EXPECT_TRUE(out.close());
        return dir.read("bcc");
    }
};

TEST_F(Subscribers, LookupIsByExactBytesConfirmedIgnoringCase) {
    load(kHead + record("joe@host", "Joe") + record("Ann@x", "", 2, "pw"));
    EXPECT_EQ(find("joe@host"), "joe@host|Joe|1|");
    EXPECT_EQ(find("Ann@x"), "Ann@x||2|pw");
    // Another spelling has another CRC: a newcomer, so subscribing it adds a
    // second record, and the first spelling still finds the first one.
    EXPECT_EQ(find("Joe@Host"), "-");
    SubscriberRecord r{};
    r.address = "Joe@Host";
    r.status = SubscriberStatus::MemberToo;
    ASSERT_EQ(add_subscriber(0, r), 1);
    EXPECT_EQ(find("Joe@Host"), "Joe@Host||1|");
    EXPECT_EQ(find("joe@host"), "joe@host|Joe|1|");
    EXPECT_EQ(list_record(0).subscriber_count, 3);
}

TEST_F(Subscribers, RemoveMarksInPlaceAndRewriteAppends) {
    const std::string before = kHead + record("a@x", "A") + record("b@x", "B", 1, "old");
    load(before);
    SubscriberLocation where{};
    SubscriberRecord r{};
    ASSERT_EQ(find_subscriber(0, "a@x", r, &where), 1);
    ASSERT_EQ(remove_subscriber(0, r, where), 1);
    std::string expect = before;
    expect[kHead.size()] = '*';
    EXPECT_EQ(file(), expect);
    EXPECT_EQ(find("a@x"), "-");
    EXPECT_EQ(list_record(0).subscriber_count, 1);

    ASSERT_EQ(find_subscriber(0, "b@x", r, &where), 1);
    r.password = "new";
    ASSERT_EQ(rewrite_subscriber(0, r, *where.entry), 1);
    expect[kHead.size() + record("a@x", "A").size()] = '*';
    EXPECT_EQ(file(), expect + record("b@x", "B", 1, "new"));
    EXPECT_EQ(find("b@x"), "b@x|B|1|new");
    EXPECT_EQ(list_record(0).subscriber_count, 1);
    // The next run reads the same state from the file.
    reset_list_table();
    load(file());
    EXPECT_EQ(find("b@x"), "b@x|B|1|new");
    EXPECT_EQ(find("a@x"), "-");
}

TEST_F(Subscribers, AppendingRepairsTheEndOfTheFile) {
    SubscriberRecord r{};
    r.address = "n@x";
    r.status = SubscriberStatus::MemberToo;
    // A last line without its line feed keeps its own line.
    load(kHead + "+\nold@x\nOld\n1\npw");
    ASSERT_EQ(add_subscriber(0, r), 1);
    EXPECT_EQ(file(), kHead + record("old@x", "Old", 1, "pw") + record("n@x"));
    EXPECT_EQ(find("n@x"), "n@x||1|");
    EXPECT_EQ(find("old@x"), "old@x|Old|1|pw");

    // A file without its "ListUsers" line gets one, so the record is not
    // read as settings next time.
    reset_list_table();
    load("ListName L\nListAddress l@x");
    ASSERT_EQ(add_subscriber(0, r), 1);
    ASSERT_EQ(add_subscriber(0, r), 1);
    EXPECT_EQ(file(), "ListName L\nListAddress l@x\nListUsers\n" + record("n@x") + record("n@x"));
    reset_list_table();
    EXPECT_EQ(load(file()), "");
    EXPECT_EQ(list_record(0).subscriber_count, 2);
}

TEST_F(Subscribers, ChangesBehindTheRunsBack) {
    load(kHead + record("a@x") + record("a@x", "second"));
    EXPECT_EQ(find("a@x"), "a@x||1|");
    // The first copy of a@x is marked deleted by someone else: its entry no
    // longer fits, and the lookup goes on to the next one.
    std::string bytes = file();
    bytes[kHead.size()] = '*';
    dir.write("l.lst", bytes);
    CaptureStderr();
    EXPECT_EQ(find("a@x"), "a@x|second|1|");
    EXPECT_EQ(GetCapturedStderr(), "! internal consistency error in file " + path() + "\n");

    SubscriberLocation where{};
    SubscriberRecord r{};
    CaptureStderr();
    ASSERT_EQ(find_subscriber(0, "a@x", r, &where), 1);
    dir.write("l.lst", kHead);  // cut off
    EXPECT_EQ(remove_subscriber(0, r, where), 0);
    EXPECT_EQ(rewrite_subscriber(0, r, *where.entry), 0);
    const std::string inconsistent = "! internal consistency error in file " + path() + "\n";
    EXPECT_EQ(GetCapturedStderr(), inconsistent + inconsistent + inconsistent);
    EXPECT_EQ(file(), kHead);

    // A file that can no longer be opened.
    platform::remove_file(path());
    CaptureStderr();
    EXPECT_EQ(find("a@x"), "-");
    EXPECT_EQ(add_subscriber(0, r), 0);
    EXPECT_EQ(remove_subscriber(0, r, where), 0);
    std::string err = GetCapturedStderr();
    EXPECT_NE(err.find("! error obtaining user data from file " + path() + "\n"), std::string::npos);
    EXPECT_NE(err.find("! unable to add new user to " + path() + "\n"), std::string::npos);
    EXPECT_NE(err.find("! unable to delete user from " + path() + "\n"), std::string::npos);
}

TEST_F(Subscribers, DamagedRecordsAreReportedNotRead) {
    std::string huge(10000, 'x');
    std::string bytes = kHead + record(huge, huge, 1, huge) + record("b@x", huge, 1, huge) + "stray\n" +
                        "+\nc@x\n\n" + std::string(5000, '9');
    load(bytes);
    // Overlong fields are cut to what a record holds, never past it.
    SubscriberRecord r{};
    ASSERT_EQ(find_subscriber(0, "b@x", r), 1);
    EXPECT_EQ(r.name.size(), 127u);
    EXPECT_EQ(r.password.size(), 127u);
    // c@x is indexed, but its record lacks the password line.
    CaptureStderr();
    EXPECT_EQ(find("c@x"), "-");
    EXPECT_EQ(GetCapturedStderr(), "! internal consistency error in file " + path() + "\n");
    CaptureStderr();
    std::string line = bcc();
    GetCapturedStderr();
    EXPECT_EQ(line, "Bcc: <b@x>, <" + huge.substr(0, 127) + ">\n");
}

TEST_F(Subscribers, BccLineOrderAndSeparators) {
    load(kHead + record("zed@x") + record("2@x") + record("bob@x", "", 3) + record("amy@x", "", 2) +
         record("al@x", "", 0) + record("Ann@x"));
    EXPECT_EQ(bcc(), "Bcc: <2@x>, <amy@x>,\n   <al@x>, <Ann@x>,\n   <zed@x>\n");
    reset_list_table();
    load(kHead + record("bob@x", "", 3));
    EXPECT_EQ(bcc(), "Bcc: \n");
}

TEST_F(Subscribers, NewcomersAndTheirPasswords) {
    load("ListName L\nListAddress l@x\nListPassword s3cr3t\nNewStatus 2\n");
    message().sender_address = "bob@y.example";
    message().sender_name = "BOB@y.example";
    SubscriberRecord r{};
    new_subscriber(0, r);
    EXPECT_EQ(r.address.view(), "bob@y.example");
    EXPECT_EQ(r.name.view(), "");
    EXPECT_EQ(r.status, SubscriberStatus::ReadOnly);
    // CRC-32 of the address XOR the complemented secret, in hex.
    EXPECT_EQ(r.password.view(), "97dc2922");
    message().sender_name = "Bob";
    new_subscriber(0, r);
    EXPECT_EQ(r.name.view(), "Bob");

    reset_list_table();
    load("ListName L\nListAddress l@x\nListPassword\n");
    r.password = "kept";
    derive_password(0, "bob@y.example", r.password);
    EXPECT_EQ(r.password.view(), "kept");
    new_subscriber(0, r);
    EXPECT_EQ(r.password.view(), "");
}

// ------------------------------------------------------------ placeholders

std::string replaced(std::string text, std::size_t cap, const char* token, const char* value) {
    std::vector<char> buf(cap + 8, '#');
    std::memcpy(buf.data(), text.c_str(), text.size() + 1);
    replace_token(buf.data(), cap, token, value);
    for (std::size_t i = cap; i < buf.size(); ++i) EXPECT_EQ(buf[i], '#') << "written past the capacity";
    return buf.data();
}

TEST(ReplaceToken, ReplacesWhileTheResultFits) {
    EXPECT_EQ(replaced("Welcome to @LISTNAME@ (@LISTNAME@)!", 256, "@LISTNAME@", "Ham Radio"),
              "Welcome to Ham Radio (Ham Radio)!");
    EXPECT_EQ(replaced("@KEEPERNAME@", 256, "@KEEPERNAME@", nullptr), "[unknown]");
    EXPECT_EQ(replaced("a @X@ b", 256, "@X@", ""), "a  b");
    // A value holding the placeholder is not replaced again.
    EXPECT_EQ(replaced("@X@.@X@", 256, "@X@", "<@X@>"), "<@X@>.<@X@>");
    // Unterminated and straddling placeholders stay as they are.
    EXPECT_EQ(replaced("@LISTNAME", 256, "@LISTNAME@", "v"), "@LISTNAME");
    // The text (8) grows by 9 per replacement, to 17; a second
    // one would need 26 bytes and stops the replacing.
    EXPECT_EQ(replaced("ab@X@@X@", 17, "@X@", "123456789012"), "ab@X@@X@");
    EXPECT_EQ(replaced("ab@X@@X@", 20, "@X@", "123456789012"), "ab123456789012@X@");
    EXPECT_EQ(replaced("@X@", 4, "@X@", "1"), "1");
    EXPECT_EQ(replaced("@X@", 4, "@X@", "1234"), "@X@");
    std::string long_value(300, 'v');
    EXPECT_EQ(replaced("@X@", 256, "@X@", long_value.c_str()), "@X@");
}

// ----------------------------------------------------- message identifiers

class MessageIdText : public ::testing::Test {
protected:
    void SetUp() override { reset_config(); }
    void add_domain(std::uint16_t lo, std::uint16_t hi, const char* text) {
        FidoDomainEntry* e = mutable_config().FidoDomain.add();
        e->zone_low = lo;
        e->zone_high = hi;
        e->domain = dup_text(text);
    }
};

TEST_F(MessageIdText, KeepsOrBuildsTheIdentifier) {
    EXPECT_EQ(message_id_text("a@b", 0, {}), "<a@b>");
    EXPECT_EQ(message_id_text("<a@b", 0, {}), "<a@b>");
    EXPECT_EQ(message_id_text("a@b>", 0, {}), "<a@b>");
    EXPECT_EQ(message_id_text("", 1234567, {2, 292, 854, 0}), "<1234567@f854.n292.z2.fidonet.org>");
    EXPECT_EQ(message_id_text("", 7, {2, 292, 854, 3}), "<7@p3.f854.n292.z2.fidonet.org>");
    add_domain(1, 6, "gate.example.org");
    add_domain(21, 21, "#fsxnet.example");
    EXPECT_EQ(message_id_text("", 7, {2, 292, 854, 3}), "<7@gate.example.org>");
    EXPECT_EQ(message_id_text("", 7, {21, 1, 2, 0}), "<7@f2.n1.z21.fsxnet.example>");
    EXPECT_EQ(message_id_text("", 7, {7, 1, 2, 0}), "<7@f2.n1.z7.fidonet.org>");

    twtest::Scratch dir;
    platform::File f;
    ASSERT_TRUE(f.open(dir.path("id"), platform::OpenMode::Write));
    write_message_id(f, "x@y", 0, {});
    EXPECT_TRUE(f.close());
    EXPECT_EQ(dir.read("id"), "<x@y>\n");
}

}  // namespace

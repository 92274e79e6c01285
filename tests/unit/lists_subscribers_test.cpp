// Subscriber records on disk and in the index.
#include <gtest/gtest.h>

#include <string>

#include "config/config.h"
#include "driver/options.h"
#include "driver/message.h"
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

}  // namespace

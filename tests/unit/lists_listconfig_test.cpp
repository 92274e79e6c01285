// The list configuration loader and the subscriber index.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "config/config.h"
#include "config/reader.h"
#include "driver/options.h"
#include "driver/helpers.h"
#include "lists/lists.h"
#include "support/site_fixture.h"

using namespace tw;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

const std::string kHead = "ListName Test List\nListAddress test@lists.example\n";

class ListConfig : public twtest::SiteFixture {
protected:
    // Writes the list file and loads it; returns standard error.
    std::string load(const std::string& bytes, const std::string& name = "l.cfg") {
        dir.write(name, bytes);
        return twtest::stderr_of(
            [&] { result = load_list_config(dir.path(name), 7, dir.path("t.cfg"), dir.path("tarnwick")); });
    }
    std::string warning(const std::string& what, long line, const std::string& name = "l.cfg") const {
        return SiteFixture::warning(what, line, name);
    }
    // Offsets of the bucket's entries, in order.
    std::vector<std::int64_t> bucket(int b, int list = 0) {
        std::vector<std::int64_t> v;
        for (auto* e = list_record(list).buckets[b]; e; e = e->next) v.push_back(e->offset);
        return v;
    }

    int result = -1;
};

TEST_F(ListConfig, SettingsSection) {
    EXPECT_EQ(load("; a comment\n\nListName  Old\nlistname The List \nListAddress test@lists.example\n"
                   "ListArea TEST.LIST\nListPassword s3cr3t\nKeeperName Kim\nKeeperAddress kim@x\n"
                   "SubscribeInfo info.txt\nWelcome texts/welcome.txt\nGoodBye bye.txt\n"
                   "PasswordInfo pw.txt\nNewPassword np.txt\nReadOnly ro.txt\nBlackList bl.txt\n"
                   "NewStatus 2\nColour red\n\tListArea X\n"),
              warning("invalid list configuration keyword", 18) + warning("invalid list configuration keyword", 19));
    ASSERT_EQ(result, 1);
    ASSERT_EQ(list_count(), 1);
    const ListRecord& r = list_record(0);
    EXPECT_EQ(std::string(r.path), dir.path("l.cfg"));
    EXPECT_STREQ(r.ListName, "The List ");
    EXPECT_STREQ(r.ListArea, "TEST.LIST");
    EXPECT_STREQ(r.ListPassword, "s3cr3t");
    EXPECT_STREQ(r.KeeperAddress, "kim@x");
    // Bare names lie in the program's directory, not the list file's.
    EXPECT_EQ(std::string(r.SubscribeInfo), dir.path("info.txt"));
    EXPECT_STREQ(r.Welcome, "texts/welcome.txt");
    EXPECT_EQ(std::string(r.BlackList), dir.path("bl.txt"));
    EXPECT_EQ(r.NewStatus, 2);
    EXPECT_EQ(r.subscriber_count, 0);
}

TEST_F(ListConfig, NewStatusModulo) {
    const std::pair<const char*, int> cases[] = {{"7", 1}, {"2", 2}, {"259", 3}, {"0", 0}, {"x", 0},
                                                 {"-253", 3}, {"3abc", 3}, {"99999999999999999999999", 1},
                                                 {"", 0}};
    for (auto [value, status] : cases) {
        reset_list_table();
        load(kHead + "NewStatus " + value + "\n");
        EXPECT_EQ(list_record(0).NewStatus, status) << value;
    }
    reset_list_table();
    load(kHead);
    EXPECT_EQ(list_record(0).NewStatus, 1);
}

TEST_F(ListConfig, RequiredKeywords) {
    EXPECT_EQ(load("ListName Only\n; nothing else\n"),
              warning("required list keyword ListName or ListAddress missing", 2));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(list_count(), 0);
    // The keywords must stand above the subscribers.
    EXPECT_EQ(load("ListAddress a@b\nListUsers\nListName Late\n"),
              warning("required list keyword ListName or ListAddress missing", 2));
    EXPECT_EQ(list_count(), 0);
    EXPECT_EQ(load(kHead, "ok.cfg"), "");
    EXPECT_EQ(list_count(), 1);
    EXPECT_STREQ(list_record(0).ListName, "Test List");  // the failed ones took no slot
}

TEST_F(ListConfig, UnreadableFile) {
    CaptureStderr();
    EXPECT_FALSE(load_list_config("missing.cfg", 3, "x", dir.path("tarnwick")));
    EXPECT_EQ(GetCapturedStderr(), warning("unable to open list configuration file", 0, "missing.cfg"));
    EXPECT_EQ(list_count(), 0);
}

TEST_F(ListConfig, EmptySubscriberSections) {
    EXPECT_EQ(load(kHead), "");
    EXPECT_EQ(load(kHead + "ListUsers\n"), "");
    EXPECT_EQ(load(kHead + "ListUsers"), "");
    EXPECT_EQ(list_count(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(list_record(i).subscriber_count, 0);
}

TEST_F(ListConfig, IndexesActiveRecords) {
    std::string head = kHead + "ListUsersOld and more\n";
    std::string a = "+\na@x\n\n1\n\n";
    std::string deleted = "*\nb@x\nBee\n1\npw\n";
    std::string z = "+\nZed@x\nZed\n0\n\n";
    std::string digit = "+\n1st@x\n\n1\n\n";
    std::string punct = "+\n_u@x\n\n1\n\n";
    std::string dup = "+\na@x\nAgain\n2\n\n";
    EXPECT_EQ(load(head + a + deleted + z + digit + punct + dup), "");
    const ListRecord& r = list_record(0);
    EXPECT_EQ(r.subscriber_count, 5);
    std::int64_t at = std::int64_t(head.size());
    EXPECT_EQ(bucket(1), (std::vector<std::int64_t>{at, at + std::int64_t((a + deleted + z + digit + punct).size())}));
    EXPECT_EQ(bucket(2), std::vector<std::int64_t>{});
    EXPECT_EQ(bucket(26), std::vector<std::int64_t>{at + std::int64_t((a + deleted).size())});
    EXPECT_EQ(bucket(0).size(), 2u);
    EXPECT_EQ(r.buckets[1]->crc, crc32_text("a@x"));
    EXPECT_EQ(r.buckets[26]->crc, crc32_text("Zed@x"));
}

TEST_F(ListConfig, StrayLinesAndIncompleteRecord) {
    std::string head = kHead + "ListUsers\n";
    EXPECT_EQ(load(head + "+\na@x\n\n1\n\nhello\n\n+\nb@x\n\n1\n\n+\nc@x\nC\n"),
              warning("user list contains erroneous line", 9) + warning("user list contains erroneous line", 10) +
                  warning("user list ends in incomplete record", 18));
    EXPECT_EQ(list_record(0).subscriber_count, 3);  // c@x was indexed with its address line
    EXPECT_EQ(bucket(3).size(), 1u);
    EXPECT_EQ(load(head + "+\n", "b.cfg"), warning("user list ends in incomplete record", 4, "b.cfg"));
    EXPECT_EQ(list_record(1).subscriber_count, 0);
    // A last line without its line feed is the end of the file, not a line.
    EXPECT_EQ(load(head + "+\na@x", "c.cfg"), warning("user list ends in incomplete record", 4, "c.cfg"));
    EXPECT_EQ(list_record(2).subscriber_count, 0);
    EXPECT_EQ(load(head + "+\na@x\n\n1\npassword", "d.cfg"),
              warning("user list ends in incomplete record", 7, "d.cfg"));
    EXPECT_EQ(list_record(3).subscriber_count, 1);
    EXPECT_EQ(load(head + "+\na@x\n\n1\n\nstray", "e.cfg"), "");
}

TEST_F(ListConfig, CrLfOffsetsAreBytes) {
    std::string head = "ListName L\r\nListAddress l@x\r\nListUsers\r\n";
    std::string first = "+\r\nann@x\r\n\r\n1\r\n\r\n";
    EXPECT_EQ(load(head + first + "+\r\nbob@x\r\nBob\r\n1\r\n\r\n"), "");
    EXPECT_STREQ(list_record(0).ListAddress, "l@x");
    EXPECT_EQ(bucket(1), std::vector<std::int64_t>{std::int64_t(head.size())});
    EXPECT_EQ(bucket(2), std::vector<std::int64_t>{std::int64_t((head + first).size())});
    EXPECT_EQ(list_record(0).buckets[1]->crc, crc32_text("ann@x"));
}

TEST_F(ListConfig, OverlongLines) {
    // A settings line longer than a read is taken in pieces; a subscriber
    // line is taken whole so the records after it stay in step.
    std::string name(300, 'n');
    std::string head = "ListName " + name + "\nListAddress l@x\nListUsers" + std::string(300, 'u') + "\n";
    std::string err = load(head + "+\n" + std::string(400, 'q') + "@x\n\n1\n\n+\nb@x\n\n1\n\n");
    EXPECT_EQ(err, warning("invalid list configuration keyword", 2));
    ASSERT_EQ(list_count(), 1);
    EXPECT_EQ(std::strlen(list_record(0).ListName), 254u - 9u);
    EXPECT_EQ(list_record(0).subscriber_count, 2);
    EXPECT_EQ(bucket(2).size(), 1u);
}

TEST_F(ListConfig, UnlinkKeepsAppendingAtTheEnd) {
    load(kHead + "ListUsers\n+\na1@x\n\n1\n\n+\na2@x\n\n1\n\n");
    ListRecord& r = list_record(0);
    std::vector<std::int64_t> before = bucket(1);
    ASSERT_EQ(before.size(), 2u);
    unlink_index_entry(r, 1, &r.buckets[1]->next);  // the last entry
    ASSERT_TRUE(append_index_entry(r, "a3@x", 999));
    EXPECT_EQ(bucket(1), (std::vector<std::int64_t>{before[0], 999}));
    unlink_index_entry(r, 1, &r.buckets[1]);
    unlink_index_entry(r, 1, &r.buckets[1]);
    EXPECT_EQ(r.buckets[1], nullptr);
    ASSERT_TRUE(append_index_entry(r, "a4@x", 5));
    EXPECT_EQ(bucket(1), std::vector<std::int64_t>{5});
    EXPECT_EQ(r.subscriber_count, 1);
}

TEST_F(ListConfig, BucketOf) {
    EXPECT_EQ(bucket_of("a@x"), 1);
    EXPECT_EQ(bucket_of("Alice@x"), 1);
    EXPECT_EQ(bucket_of("z@x"), 26);
    EXPECT_EQ(bucket_of("Z@x"), 26);
    EXPECT_EQ(bucket_of("9@x"), 0);
    EXPECT_EQ(bucket_of("\xe4@x"), 0);
    EXPECT_EQ(bucket_of(""), 0);
}

TEST_F(ListConfig, DuplicatePaths) {
    EXPECT_EQ(list_duplicate_path("lists\\sales.cfg"), "lists\\sales.~LC");
    EXPECT_EQ(list_duplicate_path("lists\\sales"), "lists\\sales.~LC");
    EXPECT_EQ(list_duplicate_path("lists.d/sales"), "lists.d/sales.~LC");
    EXPECT_EQ(list_duplicate_path("./sales"), "./sales.~LC");
    EXPECT_EQ(list_duplicate_path("a.b.c"), "a.b.~LC");
    EXPECT_EQ(list_duplicate_path("sales.~lc"), "sales.~lc.~LC");
}

TEST_F(ListConfig, TestModeWorksOnDuplicates) {
    options().test = true;
    std::string bytes = kHead + "ListUsers\n+\na@x\n\n1\n\n";
    EXPECT_EQ(load(bytes, "sales.cfg"), "[Test mode: using list config file duplicates *.~LC]\n\n");
    EXPECT_EQ(load(kHead, "other.lst"), "");
    EXPECT_EQ(std::string(list_record(0).path), dir.path("sales.~LC"));
    EXPECT_EQ(dir.read("sales.~LC"), bytes);
    EXPECT_EQ(dir.read("sales.cfg"), bytes);
    EXPECT_TRUE(dir.exists("other.~LC"));
    // An older duplicate is overwritten.
    dir.write("sales.~LC", "stale");
    reset_list_table();
    load(bytes, "sales.cfg");
    EXPECT_EQ(dir.read("sales.~LC"), bytes);
}

TEST_F(ListConfig, CopyFile) {
    char buffer[256];
    std::string bytes;
    for (int i = 0; i < 1000; ++i) bytes += char(i * 7);
    dir.write("src", bytes);
    EXPECT_EQ(copy_file(dir.path("src"), dir.path("dst"), buffer), 1000);
    EXPECT_EQ(dir.read("dst"), bytes);
    EXPECT_EQ(copy_file(dir.path("none"), dir.path("dst2"), buffer), -1);
    EXPECT_FALSE(dir.exists("dst2"));
    EXPECT_EQ(copy_file(dir.path("src"), dir.path("no/such/dir"), buffer), -1);
}

TEST_F(ListConfig, ListTableHoldsSixtyFour) {
    dir.write("l.cfg", kHead);
    std::string cfg;
    for (int i = 0; i < 65; ++i) cfg += "ListConfig " + dir.path("l.cfg") + "\n";
    dir.write("t.cfg", cfg);
    CaptureStderr();
    read_config_file(dir.path("t.cfg"), dir.path("tarnwick"));
    EXPECT_EQ(GetCapturedStderr(),
              "Warning: too many ListConfig keywords in line 65 of " + dir.path("t.cfg") + "\n\n");
    EXPECT_EQ(list_count(), 64);
    EXPECT_FALSE(load_list_config(dir.path("l.cfg"), 1, "", ""));
}

TEST_F(ListConfig, SurvivesArbitraryBytes) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 40; ++round) {
        std::string bytes;
        if (round % 2) bytes = kHead + "ListUsers\n";
        std::size_t n = rng() % 20000;
        for (std::size_t i = 0; i < n; ++i) {
            unsigned r = rng() % 16;
            bytes += r == 0 ? '\n' : r == 1 ? '+' : r == 2 ? '\r' : char(rng());
        }
        CaptureStderr();
        dir.write("r.cfg", bytes);
        load_list_config(dir.path("r.cfg"), 1, "", "");
        GetCapturedStderr();
    }
    EXPECT_LE(list_count(), 64);
    reset_list_table();
    // One long line without any line feed.
    std::string flat = kHead + "ListUsers\n" + std::string(1 << 20, '+');
    EXPECT_EQ(load(flat, "flat.cfg"), "");
    EXPECT_EQ(load(std::string(1 << 20, 'x'), "flat2.cfg").find("ListName or ListAddress missing") !=
                  std::string::npos,
              true);
}

TEST_F(ListConfig, HundredThousandSubscribersLoadLinearly) {
    std::string bytes = kHead + "ListUsers\n";
    for (int i = 0; i < 100000; ++i)
        bytes += "+\n" + std::string(i % 3 ? "m" : "9") + std::to_string(i) + "@host.example\nName\n1\n\n";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(load(bytes), "");
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(list_record(0).subscriber_count, 100000);
    EXPECT_EQ(bucket(13).size(), 66666u);
    std::printf("[ load of 100000 subscribers: %.1f ms ]\n", ms);
    EXPECT_LT(ms, 5000.0);
}

}  // namespace

namespace {

TEST_F(ListConfig, ExampleSiteList) {
    std::string here = __FILE__;
    std::string site = here.substr(0, here.rfind("tests/unit/")) + "examples/site/";
    CaptureStderr();
    EXPECT_TRUE(load_list_config(site + "lists/talk.lst", 1, "", "./tarnwick"));
    EXPECT_EQ(GetCapturedStderr(), "");
    const ListRecord& r = list_record(0);
    EXPECT_STREQ(r.ListName, "Tarnwick Talk");
    EXPECT_STREQ(r.Welcome, "lists/talk-welcome.txt");
    EXPECT_EQ(r.subscriber_count, 4);
    EXPECT_EQ(r.buckets[0] != nullptr, true);  // 42@numbers.example
}

}  // namespace

// No mail lost or doubled when writes fail: the real binary with a
// preloaded write-fault shim, then a clean run, and what the tosser, the
// SOUP client and the list loader find afterwards.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <ctime>

#include <functional>
#include <string>

#include "support/packet_builder.h"
#include "support/stored_msg.h"

#include "cli/site.h"

namespace {

using twtest::PacketBuilder;
using twtest::RunResult;
using twtest::ftn_text;

// Every file of the scratch site with its bytes, but the program link.
std::map<std::string, std::string> snapshot(const twtest::Scratch& dir, const std::string& rel = "") {
    struct stat top {};
    if (!rel.empty() && ::lstat(dir.path(rel).c_str(), &top) == 0 && !S_ISDIR(top.st_mode))
        return {{rel, dir.read(rel)}};
    std::map<std::string, std::string> files;
    for (const std::string& name : dir.list(rel)) {
        std::string path = rel.empty() ? name : rel + "/" + name;
        // The program link, and the time of the last netmail scan.
        if (path == "tarnwick" || name == "tarnwick.dat") continue;
        struct stat st {};
        if (::lstat(dir.path(path).c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            files[path + "/"] = "";
            files.merge(snapshot(dir, path));
        } else {
            files[path] = dir.read(path);
        }
    }
    return files;
}

// The snapshots of several paths of the site, as one.
std::map<std::string, std::string> snapshot_all(const twtest::Scratch& dir, const std::vector<std::string>& paths) {
    std::map<std::string, std::string> all;
    for (const std::string& p : paths) all.merge(snapshot(dir, p));
    return all;
}


class Faults : public twtest::SiteTest {
protected:
    void SetUp() override {
#ifdef TW_SANITIZE
        GTEST_SKIP() << "SKIPPED: the sanitizer runtime must come first, before any preloaded shim";
#endif
        SiteTest::SetUp();
    }

    RunResult faulty(const std::vector<std::string>& args, twtest::EnvChanges env) {
        env["LD_PRELOAD"] = TW_FAILWRITE;
        return run(args, env);
    }

    // A failing run, then a clean one: each message delivered once, each
    // command carried out and answered once, nothing half-written at any
    // time, and no failure kept quiet.
    void expect_once_after(const RunResult& failed, const std::string& what) {
        Outputs o = outputs(what);
        if (!input_consumed()) {
            EXPECT_NE(failed.err.find("! "), std::string::npos)
                << what << ": input kept without a word\n" << failed.err;
        }
        for (const auto& [key, n] : o.ftn) EXPECT_EQ(n, 1) << what << ": FTN message " << key;
        for (const auto& [key, n] : o.replies) EXPECT_EQ(n, 1) << what << ": reply " << key;
        RunResult clean = run({"import"});
        EXPECT_EQ(clean.code, 0) << what;
        Outputs after = outputs(what + ", then a clean run");
        Outputs want = expected();
        EXPECT_EQ(after.ftn, want.ftn) << what << "\n" << failed.err << clean.err;
        EXPECT_EQ(after.replies, want.replies) << what << "\n" << failed.err << clean.err;
        EXPECT_EQ(after.subscribers, want.subscribers) << what << "\n" << failed.err << clean.err;
        EXPECT_TRUE(input_consumed()) << what << "\n" << clean.err;
        for (const std::string& name : dir.list("in"))
            EXPECT_EQ(name.substr(name.size() - 4), ".pkt") << what << ": left in the inbound: " << name;
    }

    // Every fault point of a run of `args` on the site `make` sets up fails
    // in turn (every third also leaves the disk full). After each failing
    // run every output is whole and none doubled, and the input (the files
    // under `inputs`) is as a clean run leaves it, or the run said "! ";
    // a clean run then leaves outputs and input as a run without faults.
    void sweep(const std::string& what, const std::vector<std::string>& args, const std::function<void()>& make,
               const std::vector<std::string>& inputs) {
        auto input_state = [&] { return snapshot_all(dir, inputs); };
        make();
        ASSERT_EQ(run(args).code, 0);
        const Outputs want = outputs(what + " without faults");
        const auto done = input_state();
        ASSERT_FALSE(want.replies.empty() && want.ftn.empty() && done.empty()) << what;
        make();
        const int points = count_fault_points(args);
        EXPECT_GT(points, 3) << what;
        std::printf("[ sweep    ] %s: %d fault points\n", what.c_str(), points);
        const char* only = std::getenv("TW_SWEEP_POINT");
        for (int n = only ? std::atoi(only) : 1; n <= (only ? std::atoi(only) : points); ++n) {
            for (const char* sticky : {"0", "1"}) {
                if (*sticky == '1' && n % 3 != 1) continue;
                const std::string when = what + ", fault point " + std::to_string(n) + (*sticky == '1' ? " on" : "");
                make();
                RunResult failed = faulty(args, {{"TW_FAULT_NTH", std::to_string(n)}, {"TW_FAULT_STICKY", sticky}});
                if (only) std::printf("%s", failed.err.c_str());
                Outputs o = outputs(when);
                for (const auto& [key, count] : o.ftn) EXPECT_EQ(count, 1) << when << ": FTN message " << key;
                for (const auto& [key, count] : o.replies) EXPECT_EQ(count, 1) << when << ": reply " << key;
                EXPECT_EQ(o.subscribers, want.subscribers) << when << "\n" << failed.err;
                if (input_state() != done) {
                    EXPECT_NE(failed.err.find("! "), std::string::npos) << when << ": input kept without a word\n"
                                                                        << failed.err;
                }
                RunResult clean = run(args);
                EXPECT_EQ(clean.code, 0) << when;
                Outputs after = outputs(when + ", then a clean run");
                EXPECT_EQ(after.ftn, want.ftn) << when << "\n" << failed.err << clean.err;
                if (failed.err.find("! Could not mark ") == std::string::npos) {
                    EXPECT_EQ(after.replies, want.replies) << when << "\n" << failed.err << clean.err;
                } else {
                    // Stored netmail that went out but could not be marked
                    // sent (an I/O error writing in place) goes again: twice
                    // rather than never.
                    for (const auto& [key, count] : want.replies)
                        EXPECT_GE(after.replies[key], count) << when << ": " << key;
                }
                EXPECT_EQ(after.subscribers, want.subscribers) << when << "\n" << failed.err << clean.err;
                EXPECT_EQ(input_state(), done) << when << "\n" << failed.err << clean.err;
                if (HasFailure()) return;
            }
        }
    }

    // The run is killed (SIGKILL) at every `step`-th fault point in turn.
    // Whatever it leaves, nothing a tosser or SOUP client takes is cut
    // short, and a clean run then delivers everything (a message the killed
    // run delivered but could not yet take from its input may come twice).
    void kill_sweep(const std::string& what, const std::vector<std::string>& args,
                    const std::function<void()>& make, const std::vector<std::string>& inputs, int step,
                    bool replies_once = false) {
        twtest::EnvChanges env;
        auto input_state = [&] { return snapshot_all(dir, inputs); };
        make();
        ASSERT_EQ(run(args).code, 0);
        const Outputs want = outputs(what + " without a kill");
        const auto done = input_state();
        orphan_replies_allowed = true;
        make();
        const int points = count_fault_points(args, env);
        std::printf("[ kills    ] %s: killed at %d of %d fault points\n", what.c_str(), (points + step - 1) / step,
                    points);
        for (int n = 1; n <= points; n += step) {
            const std::string when = what + ", killed at fault point " + std::to_string(n);
            make();
            twtest::EnvChanges kill = env;
            kill["TW_FAULT_NTH"] = std::to_string(n);
            kill["TW_FAULT_KILL"] = "1";
            RunResult killed = faulty(args, kill);
            EXPECT_NE(killed.code, 0) << when;
            list_mid_change_allowed = true;
            outputs(when);
            list_mid_change_allowed = false;
            RunResult clean = run(args);
            EXPECT_EQ(clean.code, 0) << when;
            Outputs after = outputs(when + ", then a clean run");
            for (const auto& [key, count] : want.ftn) EXPECT_GE(after.ftn[key], count) << when << ": lost " << key;
            for (const auto& [key, count] : want.replies)
                EXPECT_GE(after.replies[key], count) << when << ": lost " << key << "\n" << clean.err;
            for (const auto& [key, count] : after.replies) {
                EXPECT_TRUE(want.replies.count(key)) << when << ": new " << key;
                // What a hosted list does (answers, copies of postings) is
                // journaled: done once, whatever the kill interrupted.
                if (replies_once) {
                    EXPECT_EQ(count, want.replies.at(key)) << when << ": doubled " << key;
                }
            }
            EXPECT_EQ(after.ftn.size(), want.ftn.size()) << when;
            EXPECT_EQ(after.subscribers, want.subscribers) << when << "\n" << clean.err;
            EXPECT_EQ(input_state(), done) << when << "\n" << clean.err;
            EXPECT_FALSE(dir.exists("soup/.tarnwick.journal")) << when;
            if (HasFailure()) return;
        }
    }

    // The outbound: a packet for the gateway with netmail and echomail, and
    // a flow file that names another packet and a file to send.
    void outbound_site() {
        make_site("AreaMap FTN.TALK news.talk\nSeparateMSG No\n");
        for (const std::string& name : dir.list("soup")) std::remove(dir.path("soup/" + name).c_str());
        dir.mkdir("out");
        dir.mkdir("files");
        for (const std::string& name : dir.list("out")) std::remove(dir.path("out/" + name).c_str());
        PacketBuilder p({2, 280, 5, 0}, {2, 280, 1, 0});
        for (const char* n : {"x1", "x2", "x3"})
            p.netmail("Ann Sender", "UUCP", n, ftn_text({"To: someone@example.org", "", std::string("Netmail ") + n}));
        p.echomail("FTN.TALK", "Ann Sender", "e1", ftn_text({"\x01MSGID: 2:280/5 00000001", "Echo one."}));
        p.netmail("Ann Sender", "UUCP", "x4", ftn_text({"To: list@gate.example", "", "Through the list."}));
        p.echomail("FTN.TALK", "Ann Sender", "e2", ftn_text({"\x01MSGID: 2:280/5 00000002", "Echo two."}));
        dir.write("out/01180001.out", p.bytes());
        dir.write("files/more.pkt", PacketBuilder({2, 280, 5, 0}, {2, 280, 1, 0})
                                        .netmail("Bob", "UUCP", "x5", ftn_text({"To: b@example.org", "", "Five."}))
                                        .bytes());
        dir.write("files/a.txt", "a file\n");
        dir.write("out/01180001.flo", "^" + dir.path("files/more.pkt") + "\n" + dir.path("files/a.txt") + "\n");
    }

    // A packet directory: three packets, deleted together once their mail
    // is on the disk.
    void packet_dir_site() {
        make_site("AreaMap FTN.TALK news.talk\nSeparateMSG No\n");
        for (const std::string& name : dir.list("soup")) std::remove(dir.path("soup/" + name).c_str());
        dir.mkdir("pk");
        for (const std::string& name : dir.list("pk")) std::remove(dir.path("pk/" + name).c_str());
        for (int i = 1; i <= 3; ++i) {
            const std::string n = std::to_string(i);
            PacketBuilder p({2, 280, 5, 0}, {2, 280, 1, 0});
            p.netmail("Ann Sender", "UUCP", "d" + n, ftn_text({"To: someone@example.org", "", "Packet " + n}));
            p.echomail("FTN.TALK", "Ann Sender", "de" + n, ftn_text({"\x01MSGID: 2:280/5 0000000" + n, "Echo."}));
            dir.write("pk/0000000" + n + ".pkt", p.bytes());
        }
    }

    // Stored netmail: three messages, one with a file attached.
    void netmail_site() {
        make_site("NetmailDir net/\nSeparateMSG Yes\n");
        std::string cfg = dir.read("tarnwick.cfg");
        cfg.replace(cfg.find("MailerType Binkley"), 18, "MailerType ArcMail");
        dir.write("tarnwick.cfg", cfg);
        for (const std::string& name : dir.list("soup")) std::remove(dir.path("soup/" + name).c_str());
        dir.mkdir("net");
        dir.mkdir("files");
        for (const std::string& name : dir.list("net")) std::remove(dir.path("net/" + name).c_str());
        dir.write("files/a.txt", "a file\n");
        for (int i = 1; i <= 3; ++i) {
            twtest::StoredMsg m;
            m.subject = "s" + std::to_string(i);
            m.text = "To: ann@example.com\r\rStored " + std::to_string(i) + ".\r";
            if (i == 2) {
                m.subject = dir.path("files/a.txt");
                m.attribute = twtest::kMsgFileAttached;
            }
            dir.write("net/" + std::to_string(i) + ".msg", m.bytes());
        }
    }

    int count_fault_points(const std::vector<std::string>& args, twtest::EnvChanges env = {}) {
        env["TW_FAULT_COUNT"] = dir.path("points");
        faulty(args, env);
        return std::atoi(dir.read("points").c_str());
    }
};

TEST_F(Faults, ListRepliesAndSubscriberChangesThatCannotBeWrittenStayInTheInput) {
    // The reply packet cannot be written at all: no reply goes out, and
    // every command and posting waits for the next run.
    make_site();
    dir.write("soup/.tarnwick.lock", "");  // left by an earlier run: no write needed to lock
    RunResult r = faulty({"import"}, {{"TW_FAULT_PATH", "soup/"}, {"TW_FAULT_NTH", "1"}, {"TW_FAULT_STICKY", "1"}});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("! "), std::string::npos) << r.err;
    EXPECT_TRUE(dir.exists("soup/MAIL0001.msg"));
    EXPECT_TRUE(outputs("no reply file").replies.empty());
    EXPECT_EQ(outputs("no reply file").subscribers,
              (std::map<std::string, std::string>{{"ann@x.example", ""}, {"cat@x.example", ""}}));
    expect_once_after(r, "no reply file");

    // The list file cannot take a change: the commands stay unanswered
    // and in the input; the postings go out.
    make_site();
    r = faulty({"import"}, {{"TW_FAULT_PATH", "lists/t.lst"}, {"TW_FAULT_NTH", "1"}, {"TW_FAULT_STICKY", "1"}});
    EXPECT_NE(r.err.find("! unable to add new user to lists/t.lst\n"), std::string::npos) << r.err;
    EXPECT_EQ(outputs("list file full").replies.count("Subject: Re: subscribe | welcome bob@y.example pw=\n"), 0u);
    expect_once_after(r, "list file full");
}

TEST_F(Faults, PacketsCutShortNeverReachTheTosser) {
    // Each packet may take K bytes, as on a disk that fills: with one
    // message a packet, the area's first packets are whole and a later one
    // is not.
    for (const char* cap : {"0", "500", "560", "4096"}) {
        make_site();
        RunResult r = faulty({"import"}, {{"TW_FAULT_PATH", "in/"}, {"TW_FAULT_CAP", cap}});
        EXPECT_EQ(r.code, 0);
        expect_once_after(r, std::string("packets capped at ") + cap + " bytes");
    }
}

TEST_F(Faults, MessageFilesAndAreasThatAreNoRegularFilesAreReported) {
    const std::string timeout = twtest::find_program("timeout");
    if (timeout.empty()) GTEST_SKIP() << "SKIPPED: no timeout program";
    auto import = [&] { return twtest::run_process({timeout, "20", "./tarnwick", "import"}, dir.root()); };

    make_site();
    std::remove(dir.path("soup/MAIL0001.msg").c_str());
    std::remove(dir.path("soup/NEWS0001.msg").c_str());
    ASSERT_EQ(::symlink("/dev/zero", dir.path("soup/MAIL0001.msg").c_str()), 0);
    ASSERT_EQ(::mkfifo(dir.path("soup/NEWS0001.msg").c_str(), 0600), 0);
    RunResult r = import();
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("! soup/MAIL0001.msg is not a regular file\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("! soup/NEWS0001.msg is not a regular file\n"), std::string::npos) << r.err;
    EXPECT_TRUE(dir.exists("soup/MAIL0001.msg"));

    std::remove(dir.path("soup/AREAS").c_str());
    ASSERT_EQ(::symlink("/dev/zero", dir.path("soup/AREAS").c_str()), 0);
    r = import();
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("! soup/AREAS is not a regular file\n"), std::string::npos) << r.err;
}

TEST_F(Faults, PackCopiesEveryByteOfARecord) {
    using namespace std::string_literals;
    const std::string file = "ListName T\nListAddress t@x\nListUsers\n+\nb@x\0tail\nB\0b\n1\npw\0x\n"s
                             "+\nc@x\n\n1\n\n"s;
    dir.write("lists/t.lst", file);
    write_config("ListConfig lists/t.lst\n");
    RunResult r = run({"pack"});
    EXPECT_NE(r.err.find("--> nothing to do\n"), std::string::npos) << r.err;
    EXPECT_EQ(dir.read("lists/t.lst"), file);
}

// Not under the fault fixture: no shim, so this runs under the sanitizers too.
using SiteLock = twtest::SiteTest;

TEST_F(SiteLock, ASecondRunLeavesTheSiteAlone) {
    make_site();
    dir.mkdir("out");
    dir.write("soup/.tarnwick.lock", "");
    int fd = ::open(dir.path("soup/.tarnwick.lock").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const auto before = snapshot(dir);
    for (const char* command : {"import", "export", "pack"}) {
        RunResult r = run({command});
        EXPECT_EQ(r.code, 1) << command;
        EXPECT_NE(r.err.find("! another run holds soup/.tarnwick.lock; try again later\n"), std::string::npos)
            << command << ": " << r.err;
        EXPECT_EQ(snapshot(dir), before) << command;
    }
    // A check only reads: it runs beside the holder.
    EXPECT_EQ(run({"check"}).code, 0);

    ::close(fd);
    RunResult r = run({"import"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(dir.exists("soup/MAIL0001.msg"));
}

TEST_F(SiteLock, AStoredMessageTheMailerHoldsWaitsForTheNextRun) {
    // With QuickScan a message passed over silently was never looked at
    // again: the next scan time lay after it.
    write_config("MailerType ArcMail\nNetmailDir net/\nQuickScan Yes\n");
    dir.mkdir("net");
    twtest::StoredMsg m;
    m.subject = "held";
    dir.write("net/1.msg", m.bytes());
    struct utimbuf old_time {};
    old_time.actime = old_time.modtime = std::time(nullptr) - 3600;
    ::utime(dir.path("net/1.msg").c_str(), &old_time);
    int fd = ::open(dir.path("net/1.msg").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    RunResult r = run({"export"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("! Cannot open net/1.msg: it waits for the next run\n"), std::string::npos) << r.err;
    ::close(fd);
    r = run({"export"});
    EXPECT_NE(r.err.find("-> 1 messages exported"), std::string::npos) << r.err;
}

TEST_F(Faults, EveryWriteOfAnImportCanFail) {
    // Each fault point of a representative import fails in turn, once (a
    // passing I/O error); every third one also leaves the disk full from
    // there on.
    make_site();
    const int points = count_fault_points({"import"});
    EXPECT_GT(points, 50);
    std::printf("[ sweep    ] import: %d fault points\n", points);
    // TW_SWEEP_POINT=n runs that point alone (with TW_KEEP_SCRATCH, to look).
    const char* only = std::getenv("TW_SWEEP_POINT");
    for (int n = only ? std::atoi(only) : 1; n <= (only ? std::atoi(only) : points); ++n) {
        for (const char* sticky : {"0", "1"}) {
            if (*sticky == '1' && n % 3 != 1) continue;
            make_site();
            RunResult r = faulty({"import"}, {{"TW_FAULT_NTH", std::to_string(n)}, {"TW_FAULT_STICKY", sticky}});
            if (only) std::printf("%s", r.err.c_str());
            expect_once_after(r, "fault point " + std::to_string(n) + (*sticky == '1' ? " on" : ""));
            if (HasFailure()) return;
        }
    }
}

TEST_F(Faults, EveryWriteOfAnExportCanFail) {
    sweep("export of the outbound", {"export"}, [&] { outbound_site(); }, {"out", "files"});
    if (HasFailure()) return;
    sweep("export of stored netmail", {"export"}, [&] { netmail_site(); }, {"net", "files"});
    if (HasFailure()) return;
    sweep("export of a packet directory", {"export", "/pkt=pk/"}, [&] { packet_dir_site(); }, {"pk"});
}

TEST_F(Faults, EveryWriteOfAPackCanFail) {
    // Deleted records to drop; the subscribers stay.
    auto site = [&] {
        make_site();
        std::string list = dir.read("lists/t.lst");
        list += "*\nold@x.example\nOld\n1\n\n+\ndan@x.example\nDan\n1\npw\n*\ngone@x.example\n\n1\n\n";
        dir.write("lists/t.lst", list);
        for (const std::string& name : dir.list("soup")) std::remove(dir.path("soup/" + name).c_str());
    };
    sweep("pack", {"pack"}, site, {"lists"});
}

TEST_F(Faults, RunsKilledAtAnyWriteLoseNothing) {
    // Killed anywhere in an import: writing packets, reply files, the list
    // file (subscribe, unsubscribe, changepass, postings) or its journal.
    const std::vector<std::string> soup_in{"soup/AREAS", "soup/MAIL0001.msg", "soup/NEWS0001.msg"};
    kill_sweep("import", {"import"}, [&] { make_site(); }, soup_in, 1, true);
    if (HasFailure()) return;
    kill_sweep("export of the outbound", {"export"}, [&] { outbound_site(); }, {"out", "files"}, 3);
    if (HasFailure()) return;
    kill_sweep("export of stored netmail", {"export"}, [&] { netmail_site(); }, {"net", "files"}, 2);
    if (HasFailure()) return;
    kill_sweep("export of a packet directory", {"export", "/pkt=pk/"}, [&] { packet_dir_site(); }, {"pk"}, 2);
    if (HasFailure()) return;
    kill_sweep("pack", {"pack"}, [&] {
        make_site();
        dir.write("lists/t.lst", dir.read("lists/t.lst") + "*\nold@x.example\nOld\n1\n\n");
    }, {"lists/t.lst"}, 1);  // a killed pack may leave its scratch copy
}

}  // namespace

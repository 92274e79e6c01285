// The run driver end to end: banner, usage, start-up failures, check, log.
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <regex>

#include "cli/cli.h"

using namespace twtest;

namespace {

const char* kUsage =
    "Usage: (all commands & options can be abbreviated to their first letter)\n\n"
    "tarnwick import      import mail from Internet -> Fidonet\n"
    "tarnwick export      export mail from Fidonet -> Internet\n"
    "tarnwick pack        pack mailinglist user files\n"
    "tarnwick check       reads & checks all configuration files\n"
    "\nCommandline options:\n\n"
    "/pkt=<dir>           export *.pkt for gateway in directory\n"
    "/config=<filename>   use <filename> as configuration file\n"
    "/test                don't delete mail/files after processing\n"
    "/verbose             display from/to information for every mail\n"
    "/global              display global statistics rather than per file\n";

class Driver : public CliTest {
protected:
    void expect_usage(const std::vector<std::string>& args) {
        RunResult r = run(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out.substr(0, banner_line1().size()), banner_line1());
        EXPECT_EQ(strip_banner(r.out), kUsage);
        EXPECT_EQ(r.err, "");
    }
};

TEST_F(Driver, NoArgumentsShowsBannerAndUsage) {
    RunResult r = run({});
    EXPECT_EQ(r.code, 1);
    // Banner: identity line, build line, empty line; then the usage text.
    std::size_t second = r.out.find('\n', banner_line1().size());
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(r.out.substr(0, banner_line1().size()), banner_line1());
    EXPECT_EQ(r.out.substr(second + 1, 1), "\n");
    EXPECT_EQ(strip_banner(r.out), kUsage);
}

TEST_F(Driver, RejectedArguments) {
    write_config();
    expect_usage({"/import"});
    expect_usage({"/c"});
    expect_usage({"/p"});
    expect_usage({"check", "/x"});
    expect_usage({"checkit"});
    expect_usage({"/pkt=C:\\PKT", "import"});
    expect_usage({"/test"});  // no command
    expect_usage({"check", "/config="});
}

TEST_F(Driver, CheckCommandWordsAndOptions) {
    write_config();
    for (auto args : std::vector<std::vector<std::string>>{
             {"c"}, {"CHECK"}, {"-T", "check"}, {"check", "/test", "/verbose", "/global"}, {"/v", "/g", "/t", "c"}}) {
        RunResult r = run(args);
        EXPECT_EQ(r.code, 0) << args[0];
        EXPECT_EQ(r.err, kChecked);
        EXPECT_EQ(strip_banner(r.out), "");
    }
}

TEST_F(Driver, ConfigOptionNamesTheFile) {
    dir.write("other.cfg", minimal_config());
    RunResult r = run({"/c=other.cfg", "check"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, kChecked);
    r = run({"check", "-CONFIG=other.cfg"});
    EXPECT_EQ(r.code, 0);
    // The default name is looked up in the program directory.
    r = run({"check"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Error: can't read ./tarnwick.cfg\n");
    r = run({"check", "/c=missing.cfg"});
    EXPECT_EQ(r.err, "Error: can't read ./missing.cfg\n");
    EXPECT_EQ(r.code, 1);
}

TEST_F(Driver, ValidityChecksInOrder) {
    struct Case {
        std::string cfg, err;
    };
    const std::string dirs = "InboundDir in/\nOutboundDir out/\nSoupDir soup/\nTempDir tmp/\n";
    std::vector<Case> cases = {
        {"MailerType Binkley\n" + dirs, "Error: no valid gateway Fido-address defined in x.cfg\n"},
        {"FidoAddr 2:280/1\nMailerType Binkley\n" + dirs, "Error: no address mappings defined in x.cfg\n"},
        {"FidoAddr 2:280/1\nAddrMap 2:280/1.1 a@b\n" + dirs, "Error: no valid mailer type defined in x.cfg\n"},
        {"FidoAddr 2:280/1\nAddrMap 2:280/1.1 a@b\nMailerType Binkley\nInboundDir in/\nSoupDir soup/\n",
         "Error: required directories not defined in x.cfg\n"},
        {"FidoAddr 2:280/1\nAddrMap 2:280/1.1 a@b\nMailerType ArcMail\n" + dirs,
         "Error: required directories not defined in x.cfg\n"},
        {"FidoAddr 2:280/1\nAddrMap 2:280/1.1 a@b\nMailerType Binkley\nOutboundDir out/\nSoupDir soup/\n",
         "Error: required directories not defined in x.cfg\n"},
    };
    for (const auto& c : cases) {
        dir.write("x.cfg", c.cfg);
        RunResult r = run({"check", "/config=x.cfg"});
        EXPECT_EQ(r.code, 1) << c.cfg;
        EXPECT_EQ(r.err, c.err) << c.cfg;
        EXPECT_EQ(strip_banner(r.out), "");
    }
}

TEST_F(Driver, MailerTypeDecidesTheRequiredDirectory) {
    dir.write("a.cfg",
              "FidoAddr 2:280/1\nAddrMap 2:280/1.1 a@b\nMailerType ArcMail\nInboundDir in/\nNetmailDir "
              "netmail/\nSoupDir soup/\nTempDir tmp/\n");
    RunResult r = run({"check", "/c=a.cfg"});
    EXPECT_EQ(r.code, 0) << r.err;
    dir.write("b.cfg",
              "FidoAddr 2:280/1\nAddrMap 2:280/1.1 a@b\nMailerType binkley\nInboundDir in/\nOutboundDir "
              "out/\nSoupDir soup/\nTempDir tmp/\n");
    r = run({"check", "/c=b.cfg"});
    EXPECT_EQ(r.code, 0) << r.err;
}

TEST_F(Driver, MissingDirectories) {
    write_config("SoupDir nosuch/\n");
    RunResult r = run({"check"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "FATAL ERROR: subdirectory nosuch (SoupDir) does not exist\n");

    write_config("DecodeDir C:\\DECODE\n");
    r = run({"check"});
    EXPECT_EQ(r.err, "FATAL ERROR: subdirectory C:\\DECODE (DecodeDir) does not exist\n");

    // A DecodeDir that is not set is the inbound: checked a second time.
    write_config("InboundDir gone/\n");
    r = run({"check"});
    EXPECT_EQ(r.err, "FATAL ERROR: subdirectory gone (InboundDir) does not exist\n");

    // Without TEMP and TempDir the temporary directory is empty, and missing.
    dir.write("t.cfg",
              "FidoAddr 2:280/1\nAddrMap 2:280/1.1 a@b\nMailerType Binkley\nInboundDir in/\nOutboundDir "
              "out/\nSoupDir soup/\n");
    r = run({"check", "/c=t.cfg"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "FATAL ERROR: subdirectory  (TempDir) does not exist\n");
    r = run({"check", "/c=t.cfg"}, {{"TEMP", "tmp"}});
    EXPECT_EQ(r.code, 0) << r.err;
    r = run({"check", "/c=t.cfg"}, {{"TEMP", dir.path("tmp")}});
    EXPECT_EQ(r.code, 0) << r.err;
}

TEST_F(Driver, DosAndPosixDirectoryValues) {
    // C:\MAIL is stored as C:\MAIL\ and found as the directory C:/MAIL here.
    dir.mkdir("C:/MAIL");
    dir.mkdir("var/spool/ftn/in");
    write_config("InboundDir C:\\MAIL\nSoupDir " + dir.path("var/spool/ftn/in") + "\n");
    RunResult r = run({"check"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, kChecked);
}

TEST_F(Driver, CheckWritesTheRunLog) {
    write_config("LogFile run.log\n");
    RunResult r = run({"check"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, kChecked);
    std::string log = dir.read("run.log");
    ASSERT_GT(log.size(), 50u);
    std::string header = log.substr(0, log.find('\n') + 1);
    EXPECT_TRUE(std::regex_match(header, std::regex("--- Tarnwick-DOS v1\\.05  (Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
                                                    "[0-3][0-9]-[A-Z][a-z][a-z]-20[0-9][0-9] "
                                                    "[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\n")))
        << header;
    EXPECT_EQ(log.substr(header.size()), kChecked);

    r = run({"check"});
    std::string log2 = dir.read("run.log");
    ASSERT_GT(log2.size(), log.size());
    EXPECT_EQ(log2.substr(0, log.size()), log);
    EXPECT_EQ(log2.substr(log.size(), 5), "\n--- ");
    EXPECT_EQ(log2.size(), 2 * log.size() + 1);
}

TEST_F(Driver, EmptyLogFileGetsNoLeadingEmptyLine) {
    dir.write("run.log", "");
    write_config("LogFile run.log\n");
    run({"check"});
    EXPECT_EQ(dir.read("run.log").substr(0, 4), "--- ");
}

TEST_F(Driver, LogHeldByAnotherProcessIsSkipped) {
    write_config("LogFile run.log\n");
    dir.write("run.log", "held\n");
    int fd = ::open(dir.path("run.log").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    RunResult r = run({"check"});
    ::close(fd);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, kChecked);
    EXPECT_EQ(dir.read("run.log"), "held\n");
}

TEST_F(Driver, NoLogFileWithoutLogFileSetting) {
    write_config();
    run({"check"});
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"in", "netmail", "out", "soup", "tarnwick", "tarnwick.cfg", "tmp"}));
}

TEST_F(Driver, LogFileBareNameGoesToProgramDirectory) {
    dir.mkdir("prog");
    ASSERT_EQ(::symlink(TW_BINARY, dir.path("prog/tarnwick").c_str()), 0);
    dir.write("prog/tarnwick.cfg", "LogFile bare.log\n" + minimal_config());
    RunResult r = run_process({"prog/tarnwick", "check"}, dir.root(), {{"TZ", std::nullopt}});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(dir.exists("prog/bare.log"));
    EXPECT_FALSE(dir.exists("bare.log"));
}

TEST_F(Driver, WarningsGoToStandardErrorOnly) {
    write_config("LogFile run.log\nBogus value\n");
    RunResult r = run({"check"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, std::string("Warning: unknown keyword in line 9 of ./tarnwick.cfg\n\n") + kChecked);
    EXPECT_EQ(dir.read("run.log").find("Warning"), std::string::npos);
}

TEST_F(Driver, FirstErrorOnly) {
    dir.write("x.cfg", "MailerType Binkley\n");
    RunResult r = run({"c", "/c=x.cfg"});
    EXPECT_EQ(r.err, "Error: no valid gateway Fido-address defined in x.cfg\n");
    EXPECT_EQ(r.code, 1);
}

}  // namespace

namespace {

TEST_F(Driver, OutOfMemoryAtStartUp) {
#ifdef TW_SANITIZE
    GTEST_SKIP() << "SKIPPED: the sanitizer runtime owns calloc in this build";
#endif
    write_config();
    RunResult r = run({"check"}, {{"LD_PRELOAD", TW_FAILALLOC}, {"TW_FAIL_ALLOC_FROM", "65536"}});
    EXPECT_EQ(r.code, 255);
    EXPECT_EQ(r.err, "Error: not enough memory\n");
    EXPECT_EQ(strip_banner(r.out), "");
}

TEST_F(Driver, HostileConfigurations) {
    // Random bytes, NUL bytes and very long lines: warnings, then the
    // validity checks decide.
    std::string junk = random_bytes(100000, 99);
    dir.write("junk.cfg", junk);
    RunResult r = run({"check", "/c=junk.cfg"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Warning: unknown keyword in line "), std::string::npos);
    EXPECT_NE(r.err.find("Error: "), std::string::npos);

    write_config(std::string(10000, 'k') + "\n" + std::string(500, '\0') + "\nBaseZone 2\n");
    r = run({"check"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("Warning: unknown keyword in line 47 of ./tarnwick.cfg\n\n"), std::string::npos);
    EXPECT_EQ(r.err.substr(r.err.size() - std::string(kChecked).size()), kChecked);

    std::string many;
    for (int i = 0; i < 5000; ++i) many += "AddrMap 2:280/2." + std::to_string(i) + " u@h\n";
    write_config(many);
    r = run({"check"});
    EXPECT_EQ(r.code, 0);
    std::size_t warnings = 0;
    for (std::size_t p = 0; (p = r.err.find("too many AddrMap keywords", p)) != std::string::npos; ++p) ++warnings;
    EXPECT_EQ(warnings, 5000u + 1u - 1024u);

    write_config("Include tarnwick.cfg\n");
    r = run({"check"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("Warning: Include nested too deeply in line 8 of ./tarnwick.cfg\n\n"), std::string::npos);
}

TEST_F(Driver, CommandsDispatch) {
    write_config();
    for (auto args : std::vector<std::vector<std::string>>{{"import"}, {"export"}, {"pack"}, {"i", "e"},
                                                            {"e", "/pkt=C:\\PKT"}, {"/p=C:/PKT/", "e"}}) {
        RunResult r = run(args);
        EXPECT_EQ(r.code, 0) << args[0] << r.err;
    }
}

}  // namespace

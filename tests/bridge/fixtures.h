// Fixtures of the bridge tests: a scratch site with a SOUP directory, the
// real mail and news systems the bridge talks to, and readers and builders
// of SOUP packets.
#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>

#include <string>
#include <thread>
#include <vector>

#include "support/scratch.h"

namespace twtest {

struct PackedArea {
    std::string prefix, name, type;
    std::vector<std::string> messages;
};

class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Writes bridge.cfg: SoupDir soup/ and the given lines.
    void configure(const std::string& lines);
    RunResult soup(const std::string& command, const std::string& prefix_shell = "");
    // The packet the bridge wrote: AREAS lines with their messages.
    std::vector<PackedArea> packet(const std::string& soup_rel = "soup");
    // Appends a reply file in binary framing and its REPLIES line.
    void add_reply(const std::string& prefix, bool news, const std::vector<std::string>& messages);
    // Every message file of a maildir (new/ and cur/), sorted by content.
    std::vector<std::string> maildir_messages(const std::string& rel);

    Scratch dir;
};

// exim4 with a test configuration that delivers every message into a
// maildir and refuses messages whose subject holds "REFUSE".
struct Exim {
    explicit Exim(const Scratch& dir);
    bool available() const { return !binary.empty(); }
    std::string sendmail;  // the command for the bridge's Sendmail line
    std::string binary;
};

// INN on 127.0.0.1 on a free port, spool and configuration in the scratch
// directory, with the groups fido.test and alt.test.
class InnServer {
public:
    explicit InnServer(const Scratch& dir);
    ~InnServer() { stop(); }
    bool available() const { return !innd_.empty(); }
    bool start();
    void stop();
    int port() const { return port_; }

private:
    std::string root_, innd_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// A server that greets like NNTP and then answers garbage or nothing, or
// (Serve) serves the given articles as group alt.test, numbered from 1.
class FakeNntp {
public:
    enum class Mode { Garbage, Hang, Serve };
    explicit FakeNntp(Mode mode, std::vector<std::string> articles = {});
    ~FakeNntp();
    int port() const { return port_; }

private:
    int listen_fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

int free_port();
// NNTP POST of one article; true on 240.
bool nntp_post(int port, const std::string& article);

}  // namespace twtest

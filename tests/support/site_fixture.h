// A gateway site for unit tests: every global the gateway keeps is reset,
// and configuration and list files are read through the real readers from
// a scratch directory.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "soup/soup.h"
#include "support/scratch.h"

namespace twtest {

// Resets the configuration, the current message with its recipient and
// crosspost lists, the hosted lists and the subscriber reader, the reply
// files' state, the name hints, the run options, the run counters, the
// administrative counter, the attach list and the packet writer's clock.
void reset_gateway_globals();

// What `f` wrote to standard error.
template <class F>
std::string stderr_of(F&& f) {
    testing::internal::CaptureStderr();
    std::forward<F>(f)();
    return testing::internal::GetCapturedStderr();
}

// A full disk for the test's own process: no file may grow past `bytes`
// (writes past it fail, SIGXFSZ ignored) until the object goes.
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::size_t bytes) {
        ok_ = getrlimit(RLIMIT_FSIZE, &saved_) == 0;
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved_;
        small.rlim_cur = bytes;
        ok_ = ok_ && setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() { lift(); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool ok() const { return ok_; }
    void lift() {
        if (ok_) setrlimit(RLIMIT_FSIZE, &saved_);
        ok_ = false;
    }

private:
    struct rlimit saved_ {};
    bool ok_ = false;
};

// 2026-03-05 07:08:09 UTC, for the packet writer's clock.
std::time_t fixed_clock();

class SiteFixture : public ::testing::Test {
protected:
    // Reset before the members of a derived fixture take references.
    SiteFixture() { reset_gateway_globals(); }
    void TearDown() override { reset_gateway_globals(); }

    // Writes `text` as the configuration file and reads it (ListConfig
    // lines load their list files) into `loaded`; returns what was said on
    // stderr.
    std::string configure(const std::string& text, const std::string& name = "t.cfg");
    // The reader's warning for line `line` of the scratch file `name`.
    std::string warning(const std::string& what, long line, const std::string& name = "t.cfg") const;
    // Makes the scratch directory `rel`; its path with a final '/', as a
    // directory setting holds it.
    std::string subdir(const std::string& rel) const;

    // SoupDir becomes the scratch directory `soup`, and a run's reply files
    // are started as the export run starts them.
    void start_replies();
    // The messages of the current reply file of the kind, unframed.
    std::vector<std::string> replies(tw::ReplyKind kind = tw::ReplyKind::Mail) const;

    Scratch dir;
    bool loaded = false;
};

}  // namespace twtest

// The CLI harness: a scratch site with the real binary linked into it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scratch.h"

namespace twtest {

// What check says when the configuration passes.
inline constexpr const char* kChecked = "Configuration checked. Nothing more to do.\n";

// The three banner lines that start every run's standard output.
std::string banner_line1();
// Standard output without the banner.
std::string strip_banner(const std::string& out);

class CliTest : public ::testing::Test {
protected:
    // The scratch directory holds "tarnwick" (a symbolic link to the built
    // binary, so its own directory is the program directory), and the
    // directories of a minimal site: in/ out/ soup/ tmp/ netmail/.
    void SetUp() override;

    // Runs the program (as ./tarnwick from the scratch root) with args.
    RunResult run(const std::vector<std::string>& args, const EnvChanges& env = {});

    // A configuration that passes every start-up check, with extra lines
    // appended; written as tarnwick.cfg in the program directory.
    static std::string minimal_config();
    void write_config(const std::string& extra = "", const std::string& name = "tarnwick.cfg");

    Scratch dir;
};

}  // namespace twtest

// A gateway site for unit tests: every global the gateway keeps is reset,
// and configuration and list files are read through the real readers from
// a scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/scratch.h"

namespace twtest {

// Resets the configuration, the current message with its recipient and
// crosspost lists, the hosted lists, the reply files' state, the name hints,
// the run options and the run counters.
void reset_gateway_globals();

class SiteFixture : public ::testing::Test {
protected:
    void SetUp() override { reset_gateway_globals(); }
    void TearDown() override { reset_gateway_globals(); }

    // Writes `text` as the configuration file and reads it (ListConfig
    // lines load their list files); returns what was said on stderr.
    std::string configure(const std::string& text, const std::string& name = "t.cfg");

    Scratch dir;
};

}  // namespace twtest

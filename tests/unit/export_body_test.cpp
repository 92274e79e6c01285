#include <gtest/gtest.h>

#include <string>

#include "export/body.h"

using namespace tw;

// The re-wrap decision on its own: where a piece cut at the width breaks,
// and which quote prefix its continuation carries.
TEST(ExportRewrap, BreaksAndQuotePrefixes) {
    QuotePrefix prefix{};
    const std::string words = "The quick brown fox jumps over the lazy dog again and again";
    // The last blank below the width, at position 33 or later.
    EXPECT_EQ(rewrap(words.substr(0, 39), 39, prefix), 35u);  // "...the " and "lazy" goes on
    EXPECT_TRUE(prefix.empty());
    // No blank there: the last character that is no letter or digit.
    std::string dashes = std::string(36, 'a') + "-bcd";
    EXPECT_EQ(rewrap(dashes, 40, prefix), 37u);
    // Neither: the piece is written whole; below width 34 there is no break at all.
    EXPECT_EQ(rewrap(std::string(40, 'a'), 40, prefix), 40u);
    EXPECT_EQ(rewrap(words.substr(0, 30), 30, prefix), 30u);
    // A '>' among the first six characters (and no '<' among seven) is a quote.
    EXPECT_EQ(rewrap(" JD> " + words.substr(0, 34), 39, prefix), 36u);
    EXPECT_EQ(prefix.view(), " JD> ");
    prefix.clear();
    for (const char* not_quote : {"<JD> x", "abcdef> x", " JD>< x"}) {
        rewrap(std::string(not_quote) + std::string(40, 'a'), 40, prefix);
        EXPECT_TRUE(prefix.empty()) << not_quote;
    }
}

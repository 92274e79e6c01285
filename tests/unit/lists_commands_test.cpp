// The placeholders of the list replies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lists/lists.h"

using namespace tw;

namespace {

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

}  // namespace

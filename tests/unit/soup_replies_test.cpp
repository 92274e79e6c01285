#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/config.h"
#include "soup/soup.h"
#include "support/site_fixture.h"
#include "support/soup_builder.h"

using namespace tw;

namespace {

using twtest::binary;

class SoupReplies : public twtest::SiteFixture {
protected:
    void SetUp() override {
        SiteFixture::SetUp();
        mutable_config().SoupDir.assign(dir.root() + "/");
    }
    void start_run() {
        rotate_reply_file(ReplyKind::Mail);
        rotate_reply_file(ReplyKind::News);
    }
    void end_run() {
        if (!config().SeparateMSG) start_run();
    }
};

}  // namespace

TEST_F(SoupReplies, SeparateFilesOneLineEach) {
    start_run();
    EXPECT_TRUE(dir.list().empty());  // names are picked, not created
    for (const char* m : {"To: a@b\n\none\n", "To: c@d\n\ntwo\n", "To: e@f\n\nthree\n"})
        ASSERT_TRUE(append_reply_message(ReplyKind::Mail, m));
    ASSERT_TRUE(append_reply_message(ReplyKind::News, "Newsgroups: x\n\nn\n"));
    end_run();
    EXPECT_EQ(dir.read("REPLIES"), "MAIL0000\tmail\tbn\nMAIL0001\tmail\tbn\nMAIL0002\tmail\tbn\nNEWS0000\tnews\tBn\n");
    EXPECT_EQ(dir.read("MAIL0001.MSG"), binary({"To: c@d\n\ntwo\n"}));
    EXPECT_EQ(dir.read("NEWS0000.MSG"), binary({"Newsgroups: x\n\nn\n"}));
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"MAIL0000.MSG", "MAIL0001.MSG", "MAIL0002.MSG", "NEWS0000.MSG",
                                                    "REPLIES"}));
}

TEST_F(SoupReplies, OneFileAtTheEndWithoutSeparateMsg) {
    mutable_config().SeparateMSG = false;
    start_run();
    std::vector<std::string> msgs = {"A: 1\n\nx\n", "", "B: 2\n\n" + std::string(70000, 'y') + "\n"};
    for (const auto& m : msgs) ASSERT_TRUE(append_reply_message(ReplyKind::Mail, m));
    // Registered with its first message, so a failing index loses nothing
    // whose input is already gone.
    EXPECT_EQ(dir.read("REPLIES"), "MAIL0000\tmail\tbn\n");
    EXPECT_EQ(reply_message_count(ReplyKind::Mail), 3);
    end_run();
    EXPECT_EQ(dir.read("REPLIES"), "MAIL0000\tmail\tbn\n");  // no news line: nothing was written
    EXPECT_EQ(dir.read("MAIL0000.MSG"), binary(msgs));
    EXPECT_FALSE(dir.exists("NEWS0000.MSG"));
}

TEST_F(SoupReplies, HexNumbersInTheCaseRepliesUses) {
    // An existing reply file of another case still takes its number.
    dir.write("mail0000.msg", "old");
    start_run();
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(append_reply_message(ReplyKind::Mail, "m\n"));
    end_run();
    EXPECT_TRUE(dir.exists("MAIL000A.MSG"));
    EXPECT_EQ(dir.read("mail0000.msg"), "old");
    std::string replies = dir.read("REPLIES");
    EXPECT_EQ(replies.substr(0, 17), "MAIL0001\tmail\tbn\n");
    EXPECT_NE(replies.find("MAIL0009\tmail\tbn\nMAIL000A\tmail\tbn\n"), std::string::npos);
}

TEST_F(SoupReplies, NameTakenMeanwhileMovesOn) {
    start_run();
    EXPECT_EQ(reply_file_path(ReplyKind::Mail), dir.root() + "/MAIL0000.MSG");
    dir.write("MAIL0000.MSG", "another program's");
    ASSERT_TRUE(append_reply_message(ReplyKind::Mail, "mine\n"));
    EXPECT_EQ(dir.read("MAIL0000.MSG"), "another program's");
    EXPECT_EQ(dir.read("MAIL0001.MSG"), binary({"mine\n"}));
    EXPECT_EQ(dir.read("REPLIES"), "MAIL0001\tmail\tbn\n");
}

TEST_F(SoupReplies, PieceByPieceAndAbandoned) {
    mutable_config().SeparateMSG = false;
    start_run();
    {
        ReplyMessage m;
        ASSERT_TRUE(m.begin(ReplyKind::Mail));
        m.write("A: 1\n");
        m.file().printf("\n%s\n", "body");
        ASSERT_TRUE(m.finish());
    }
    {
        ReplyMessage m;
        ASSERT_TRUE(m.begin(ReplyKind::Mail));
        m.write("half a message");
    }  // never finished: taken out again
    EXPECT_EQ(dir.read("MAIL0000.MSG"), binary({"A: 1\n\nbody\n"}));
    EXPECT_EQ(reply_message_count(ReplyKind::Mail), 1);
    {
        ReplyMessage m;
        ASSERT_TRUE(m.begin(ReplyKind::News));
    }
    EXPECT_FALSE(dir.exists("NEWS0000.MSG"));
}

TEST_F(SoupReplies, UnwritableRepliesIsReported) {
    start_run();
    dir.mkdir("REPLIES");  // a directory cannot be appended to
    testing::internal::CaptureStderr();
    EXPECT_FALSE(append_reply_message(ReplyKind::Mail, "x\n"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: can't append to " + dir.root() + "/REPLIES\n");
    // A reply no REPLIES line names would never be sent: it is taken out
    // again, and the caller keeps its input for the next run.
    EXPECT_FALSE(dir.exists("MAIL0000.MSG"));
    EXPECT_EQ(reply_message_count(ReplyKind::Mail), 0);
}

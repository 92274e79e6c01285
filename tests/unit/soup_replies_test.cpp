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
using twtest::unframe;

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

// Messages that may wait for a commit: the file on the disk holds only
// whole messages meanwhile (one larger than the buffer excepted), and a
// commit that cannot write them takes them all back out again: the reply
// files, a file made for them and its REPLIES line.
TEST_F(SoupReplies, HeldMessagesAreWholeOnTheDiskAndAFailedCommitTakesThemBack) {
    mutable_config().SeparateMSG = false;
    start_run();
    // Written in pieces, as the converter writes; the file on the disk is
    // looked at after each piece.
    auto held = [&](ReplyKind kind, const std::string& text) {
        ReplyMessage m;
        EXPECT_TRUE(m.begin(kind));
        for (std::size_t at = 0; at < text.size(); at += 700) {
            m.write(std::string_view(text).substr(at, 700));
            bool whole = false;
            unframe(dir.read(kind == ReplyKind::Mail ? "MAIL0000.MSG" : "NEWS0000.MSG"), &whole);
            EXPECT_TRUE(whole || text.size() > 100000) << "at byte " << at << " of a message";
        }
        EXPECT_TRUE(m.finish(ReplyCommit::Later));
        return m.commit_soon();
    };
    std::vector<std::string> want;
    for (int i = 0; i < 60; ++i) {
        want.push_back("To: a@b\n\n" + std::string(i == 30 ? 200000 : 2500 + 37 * i, char('a' + i % 26)) + "\n");
        EXPECT_EQ(held(ReplyKind::Mail, want.back()), i == 0) << "a commit is due once the file is in REPLIES";
    }
    EXPECT_LT(unframe(dir.read("MAIL0000.MSG")).size(), 60u) << "some wait in the buffer";
    int taken_out = -1;
    ASSERT_TRUE(commit_replies(&taken_out));
    EXPECT_EQ(taken_out, 0);
    EXPECT_EQ(dir.read("MAIL0000.MSG"), binary(want));
    EXPECT_EQ(dir.read("REPLIES"), "MAIL0000\tmail\tbn\n");

    // The disk fills up: three more mail messages and a first news file.
    const std::string before = dir.read("MAIL0000.MSG");
    twtest::FileSizeLimit full(before.size() + 3000);
    ASSERT_TRUE(full.ok());
    for (int i = 0; i < 3; ++i) held(ReplyKind::Mail, "To: c@d\n\n" + std::string(2000, 'x') + "\n");
    EXPECT_TRUE(held(ReplyKind::News, "Newsgroups: x\n\nn\n"));
    EXPECT_EQ(dir.read("REPLIES"), "MAIL0000\tmail\tbn\nNEWS0000\tnews\tBn\n");
    EXPECT_FALSE(commit_replies(&taken_out));
    full.lift();
    EXPECT_EQ(taken_out, 4);
    EXPECT_EQ(dir.read("MAIL0000.MSG"), before);
    EXPECT_FALSE(dir.exists("NEWS0000.MSG"));
    EXPECT_EQ(dir.read("REPLIES"), "MAIL0000\tmail\tbn\n");
    EXPECT_EQ(reply_message_count(ReplyKind::Mail), 60);
    EXPECT_EQ(reply_message_count(ReplyKind::News), 0);

    // With room again the same messages go in, after the committed ones.
    held(ReplyKind::Mail, "To: c@d\n\nagain\n");
    EXPECT_TRUE(held(ReplyKind::News, "Newsgroups: x\n\nn\n"));
    ASSERT_TRUE(commit_replies());
    want.push_back("To: c@d\n\nagain\n");
    EXPECT_EQ(dir.read("MAIL0000.MSG"), binary(want));
    EXPECT_EQ(dir.read("NEWS0000.MSG"), binary({"Newsgroups: x\n\nn\n"}));
    end_run();
    EXPECT_EQ(dir.read("REPLIES"), "MAIL0000\tmail\tbn\nNEWS0000\tnews\tBn\n");
}

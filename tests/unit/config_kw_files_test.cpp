// The keywords of directories, files, the mailer and the run limits.
#include <gtest/gtest.h>

#include "config/config.h"
#include "support/site_fixture.h"

using namespace tw;

namespace {

class FileKeywords : public twtest::SiteFixture {
protected:
    GatewayConfig& c = mutable_config();
};

TEST_F(FileKeywords, Directories) {
    configure("InboundDir C:\\MAIL\nOutboundDir C:/OUT/\nSoupDir /var/spool/ftn/in\nNetmailDir rel\\x\nTempDir\n");
    EXPECT_EQ(c.InboundDir.view(), "C:\\MAIL\\");
    EXPECT_EQ(c.OutboundDir.view(), "C:/OUT/");
    EXPECT_EQ(c.SoupDir.view(), "/var/spool/ftn/in/");
    EXPECT_EQ(c.NetmailDir.view(), "rel\\x\\");
    EXPECT_EQ(c.TempDir.view(), "");
    // A line is read 254 characters at a time: the value ends there.
    std::string longdir(300, 'd');
    configure("InboundDir " + longdir + "\n");
    EXPECT_EQ(c.InboundDir.view(), longdir.substr(0, 243) + "\\");
}

TEST_F(FileKeywords, DecodeDir) {
    EXPECT_EQ(configure("DecodeDir dec all\n"), "");
    EXPECT_TRUE(c.DecodeAll);
    EXPECT_EQ(c.DecodeDir.view(), "dec\\");
    EXPECT_EQ(configure("DecodeDir dec/ none\n"), warning("invalid DecodeDir parameter", 1));
    EXPECT_FALSE(c.DecodeAll);
    EXPECT_EQ(c.DecodeDir.view(), "dec/");
    EXPECT_EQ(configure("DecodeDir dec  ALL\n"), warning("invalid DecodeDir parameter", 1));
    EXPECT_FALSE(c.DecodeAll);
    EXPECT_EQ(configure("DecodeDir dec ALLES\n"), "");
    EXPECT_TRUE(c.DecodeAll);
}

TEST_F(FileKeywords, MailerAndLimits) {
    EXPECT_EQ(configure("MailerType binkley\n"), "");
    EXPECT_EQ(c.MailerType, MailerKind::Binkley);
    EXPECT_EQ(configure("MailerType ARCMAIL\n"), "");
    EXPECT_EQ(c.MailerType, MailerKind::ArcMail);
    EXPECT_EQ(configure("MailerType FrontDoor\n"), warning("invalid mailer type", 1));
    EXPECT_EQ(c.MailerType, MailerKind::None);

    EXPECT_EQ(configure("ImportLimit 1000\n"), warning("limit too small", 1));
    EXPECT_EQ(c.ImportLimit, 2048u);
    EXPECT_EQ(configure("ImportLimit 1024\nMaxPKTSize 4\n"), "");
    EXPECT_EQ(c.ImportLimit, 1024u);
    EXPECT_EQ(configure("ImportLimit 0\nMaxPKTSize 2\n"), warning("limit too small", 2));
    EXPECT_EQ(c.ImportLimit, 0u);
    EXPECT_EQ(c.MaxPKTSize, 4u);
    EXPECT_EQ(configure("ImportLimit lots\n"), warning("invalid number", 1));
    EXPECT_EQ(c.ImportLimit, 0u);
    EXPECT_EQ(configure("BaseZone x\n"), warning("invalid number", 1));
    EXPECT_EQ(c.BaseZone, 0);
    configure("BaseZone 2 extra\nMaxPKTSize 4096kb\n");
    EXPECT_EQ(c.BaseZone, 2);
    EXPECT_EQ(c.MaxPKTSize, 4096u);

    configure("PacketPwd secretpass\n");
    EXPECT_EQ(c.PacketPwd.view(), "SECRETPA");
}

TEST_F(FileKeywords, LogFileLookup) {
    configure("LogFile run.log\n");
    EXPECT_EQ(c.LogFile.view(), dir.path("run.log"));
    configure("LogFile logs\\run.log\n");
    EXPECT_EQ(c.LogFile.view(), "logs\\run.log");
}

}  // namespace

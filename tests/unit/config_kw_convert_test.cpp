// Conversion and formatting keywords, read through the real reader.
#include <gtest/gtest.h>

#include "config/config.h"
#include "config/reader.h"
#include "support/site_fixture.h"

using namespace tw;

namespace {

class ConvertKeywords : public twtest::SiteFixture {
protected:
    static std::string repeat(const std::string& line, int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += line;
        return s;
    }
};

TEST_F(ConvertKeywords, Defaults) {
    const GatewayConfig& c = config();
    EXPECT_EQ(c.HeaderInfo, HeaderChoice::Names);
    EXPECT_EQ(c.HeaderInfoBody, BodyLines::None);
    EXPECT_EQ(c.DefCharSet.view(), "us-ascii");
    EXPECT_TRUE(c.SeparateMSG);
    EXPECT_TRUE(c.UseQP);
    EXPECT_EQ(c.LineWidth, 72);
    EXPECT_EQ(c.Attach[0], AttachAction::Decode);
    EXPECT_EQ(c.Attach[1], AttachAction::Ignore);
}

TEST_F(ConvertKeywords, LineWidthLimits) {
    EXPECT_EQ(configure("LineWidth 10\n"), warning("line width too small", 1));
    EXPECT_EQ(config().LineWidth, 20);
    EXPECT_EQ(configure("LineWidth 250\n"), warning("line width too large", 1));
    EXPECT_EQ(config().LineWidth, 199);
    EXPECT_EQ(configure("LineWidth 199\nLineWidth 20\n"), "");
    EXPECT_EQ(config().LineWidth, 20);
    EXPECT_EQ(configure("LineWidth wide\n"), warning("invalid number", 1) + warning("line width too small", 1));
    EXPECT_EQ(config().LineWidth, 20);
}

TEST_F(ConvertKeywords, HeaderInfo) {
    EXPECT_EQ(configure("HeaderInfo Email\n"), warning("HeaderInfo misses parameter", 1));
    EXPECT_EQ(config().HeaderInfo, HeaderChoice::Names);
    EXPECT_EQ(configure("HeaderInfo Email No\n"), "");
    EXPECT_EQ(config().HeaderInfo, HeaderChoice::Addresses);
    EXPECT_EQ(config().HeaderInfoBody, BodyLines::None);
    configure("HeaderInfo email yes\n");
    EXPECT_EQ(config().HeaderInfoBody, BodyLines::Names);
    configure("HeaderInfo Name Yes\n");
    EXPECT_EQ(config().HeaderInfo, HeaderChoice::Names);
    EXPECT_EQ(config().HeaderInfoBody, BodyLines::Addresses);
    EXPECT_EQ(configure("HeaderInfo Both Yes\n"), warning("HeaderInfo has invalid parameter", 1));
    EXPECT_EQ(config().HeaderInfoBody, BodyLines::Addresses);
    EXPECT_EQ(configure("HeaderInfo Email Maybe\n"), warning("invalid Yes/No parameter", 1));
    EXPECT_EQ(config().HeaderInfo, HeaderChoice::Addresses);
    EXPECT_EQ(config().HeaderInfoBody, BodyLines::None);
}

TEST_F(ConvertKeywords, CharSetMapDirections) {
    EXPECT_EQ(configure("CharSetMap IBMPC#2 ibm437   Import\n"
                        "CharSetMap LATIN-1#2 iso-8859-1 Exported\n"
                        "CharSetMap CP866#2 koi8-r import export\n"
                        "CharSetMap X Export\n"),
              "");
    auto& t = config().CharSetMap;
    ASSERT_EQ(t.size(), 4);
    EXPECT_STREQ(t[0].ftn, "IBMPC#2");
    EXPECT_STREQ(t[0].inet, "ibm437");
    EXPECT_EQ(t[0].direction, Direction::Import);
    EXPECT_STREQ(t[1].inet, "iso-8859-1 Exported");
    EXPECT_EQ(t[1].direction, Direction::Both);
    // "Export" is looked for first, wherever it stands.
    EXPECT_STREQ(t[2].inet, "koi8-r import");
    EXPECT_EQ(t[2].direction, Direction::Export);
    EXPECT_STREQ(t[3].inet, "");
    EXPECT_EQ(configure("CharSetMap IBMPC\n"), warning("CharSetMap misses parameter", 1));
    EXPECT_EQ(t.size(), 4);
}

TEST_F(ConvertKeywords, CharSetMapTableFull) {
    std::string err = configure(repeat("CharSetMap A b\n", 257));
    EXPECT_EQ(err, warning("too many CharSetMap keywords", 257));
    EXPECT_EQ(config().CharSetMap.size(), 256);
}

TEST_F(ConvertKeywords, QuoteCharRanges) {
    EXPECT_EQ(configure("QuoteChar > 0-5\nQuoteChar | 1-3 0-2\nQuoteChar :x 0-255 255-255\n"), "");
    auto& t = config().QuoteChar;
    ASSERT_EQ(t.size(), 3);
    EXPECT_EQ(t[0].ch, '>');
    EXPECT_EQ(t[0].col_high, 5);
    EXPECT_EQ(t[0].letters_low, 0);
    EXPECT_EQ(t[0].letters_high, 0);
    EXPECT_EQ(t[1].letters_high, 2);
    EXPECT_EQ(t[2].ch, ':');
    EXPECT_EQ(t[2].col_high, 255);
    std::string bad = "QuoteChar > 5-3\nQuoteChar > 0-300\nQuoteChar > -1-3\nQuoteChar > 0-5 4-2\n"
                      "QuoteChar > 0-5 \nQuoteChar > x\nQuoteChar > 99999999999999999999-1\n";
    std::string expected;
    for (int i = 1; i <= 7; ++i) expected += warning("QuoteChar has invalid parameter", i);
    EXPECT_EQ(configure(bad), expected);
    EXPECT_EQ(configure("QuoteChar >\n"), warning("QuoteChar misses parameter", 1));
    EXPECT_EQ(t.size(), 3);
}

TEST_F(ConvertKeywords, QuoteMaskTable) {
    EXPECT_EQ(configure("QuoteMask wrote:\nQuoteMask  schrieb am \n"), "");
    ASSERT_EQ(config().QuoteMask.size(), 2);
    EXPECT_EQ(config().QuoteMask[1], "schrieb am ");
    reset_config();
    EXPECT_EQ(configure(repeat("QuoteMask x\n", 257)), warning("too many QuoteMask keywords", 257));
}

TEST_F(ConvertKeywords, StripKludgesCategories) {
    const StripMode* s = config().StripKludges;
    EXPECT_EQ(configure("StripKludges Some\n"), "");
    EXPECT_EQ(s[0], StripMode::Some);
    EXPECT_EQ(s[1], StripMode::Some);
    EXPECT_EQ(s[2], StripMode::Some);
    configure("StripKludges yes News\n");
    EXPECT_EQ(s[0], StripMode::Some);
    EXPECT_EQ(s[1], StripMode::Yes);
    EXPECT_EQ(configure("StripKludges Yes Foo\n"), warning("unknown StripKludges category", 1));
    EXPECT_EQ(s[0], StripMode::Some);
    EXPECT_EQ(configure("StripKludges Never List\n"), warning("unknown StripKludges setting", 1));
    EXPECT_EQ(s[2], StripMode::No);
    configure("StripKludges Yes all\nStripKludges No Email\n");
    EXPECT_EQ(s[0], StripMode::No);
    EXPECT_EQ(s[1], StripMode::Yes);
    EXPECT_EQ(s[2], StripMode::Yes);
}

TEST_F(ConvertKeywords, WordChoices) {
    GatewayConfig& c = mutable_config();
    EXPECT_EQ(configure("KillOrigin email\nAttachMail KILL\nAttachNews decode\nEncodeFormat uu\n"), "");
    EXPECT_EQ(c.KillOrigin, KillOriginMode::Email);
    EXPECT_EQ(c.Attach[0], AttachAction::Kill);
    EXPECT_EQ(c.Attach[1], AttachAction::Decode);
    EXPECT_EQ(c.EncodeFormat, EncodeKind::UU);
    EXPECT_EQ(configure("KillOrigin Never\nAttachMail keep\nAttachNews keep\nEncodeFormat base64\n"),
              warning("invalid KillOrigin parameter", 1) + warning("invalid action", 2) +
                  warning("invalid action", 3) + warning("invalid format", 4));
    EXPECT_EQ(c.KillOrigin, KillOriginMode::Email);  // unchanged
    EXPECT_EQ(c.Attach[0], AttachAction::Decode);
    EXPECT_EQ(c.Attach[1], AttachAction::Ignore);
    EXPECT_EQ(c.EncodeFormat, EncodeKind::Mime);
}

TEST_F(ConvertKeywords, TextsAndFlags) {
    GatewayConfig& c = mutable_config();
    std::string long_text(200, 'x');
    EXPECT_EQ(configure("NoSpamText " + long_text + "\nTimeZone " + long_text + "\nOrigin The Gate \n"
                        "Organization " + long_text + "\nDefCharSet iso-8859-1\nQuoteTo Yes\nSeparateMSG No\n"
                        "UseQP No\nStrictFidoMsgID yes\nExportMaxTo 5\nExportMaxXPost 7\n"),
              "");
    EXPECT_EQ(c.NoSpamText.size(), 63u);
    EXPECT_EQ(c.TimeZone.size(), 31u);
    EXPECT_EQ(c.Organization.size(), 127u);
    EXPECT_EQ(c.Origin.view(), "The Gate ");
    EXPECT_EQ(c.DefCharSet.view(), "iso-8859-1");
    EXPECT_TRUE(c.QuoteTo);
    EXPECT_FALSE(c.SeparateMSG);
    EXPECT_FALSE(c.UseQP);
    EXPECT_TRUE(c.StrictFidoMsgID);
    EXPECT_EQ(c.ExportMaxTo, 5);
    EXPECT_EQ(c.ExportMaxXPost, 7);
    EXPECT_EQ(configure("UseQP Y\n"), warning("invalid Yes/No parameter", 1));
    EXPECT_FALSE(c.UseQP);
}

}  // namespace

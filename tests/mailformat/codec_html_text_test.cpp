#include <gtest/gtest.h>

#include "mailformat/codecs.h"

using namespace px::mailformat;
using Lines = std::vector<std::string>;

TEST(CodecHtmlText, ParagraphsAndBody) {
  auto r = HtmlToText(Lines{"<P>one<P>two</BODY>"});
  EXPECT_EQ(r.lines, (Lines{"one", "", "two", ""}));
  EXPECT_FALSE(r.rich);
  EXPECT_EQ(HtmlToText(Lines{"just text &amp; more"}).lines, (Lines{"just text & more"}));
}

TEST(CodecHtmlText, HeadIsSkippedAndMetaGivesTheCharset) {
  auto r = HtmlToText(
      "<HTML><HEAD><TITLE>Title</TITLE>\r\n"
      "<META http-equiv=Content-Type content=\"text/html; charset=ISO-8859-1\">\r\n"
      "<STYLE>p { color: red }</STYLE></HEAD>\r\n"
      "<BODY>caf&#233;<BR>line two\r\n"
      "continues</BODY></HTML>\r\n");
  EXPECT_EQ(r.charset, "iso-8859-1");
  EXPECT_EQ(r.lines, (Lines{"caf\xE9", "line two continues", ""}));
}

TEST(CodecHtmlText, TagsSpanningLinesAndComments) {
  auto r = HtmlToText(Lines{"before<A", "href=\"x\"", ">link</A> after", "<COMMENT>hidden</COMMENT>shown",
                            "<!-- a", "comment -->end"});
  EXPECT_EQ(r.lines, (Lines{"before link after shown end"}));
}

TEST(CodecHtmlText, RichMarkupAndTables) {
  auto r = HtmlToText(Lines{"<TABLE><TR><TD>a</TD><TD>b</TD></TR></TABLE>"});
  EXPECT_TRUE(r.rich);
  EXPECT_EQ(r.lines, (Lines{"a\tb\t"}));
  EXPECT_TRUE(HtmlToText(Lines{"<img src=x.gif>"}).rich);
  EXPECT_FALSE(HtmlToText(Lines{"<b>bold</b>"}).rich);
}

TEST(CodecHtmlText, ScriptIsNotText) {
  auto r = HtmlToText(Lines{"<p>a</p><script>if (x < 3) alert(1)</script>b"});
  EXPECT_EQ(r.lines, (Lines{"ab"}));
  r = HtmlToText(Lines{"<STYLE>", "a > b { }", "</style>text"});
  EXPECT_EQ(r.lines, (Lines{"text"}));
}

TEST(CodecHtmlText, UnclosedTagAtTheEndLosesNothingBeforeIt) {
  auto r = HtmlToText(Lines{"text <b"});
  EXPECT_EQ(r.lines, (Lines{"text "}));
  EXPECT_TRUE(HtmlToText(Lines{}).lines.empty());
}

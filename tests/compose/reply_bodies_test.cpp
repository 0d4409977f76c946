// Golden tables of the reply and forward rules: subjects, recipients, quoting and wrapping, the
// HTML templates and the header block, the signature.
#include "compose/reply_bodies.h"

#include <gtest/gtest.h>

#include <string>

namespace px::compose {
namespace {

TEST(ReplySubject, GoldenTable) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"hello", "Re: hello"},
      {"Re: hello", "Re[2]: hello"},
      {"Re[2]: hello", "Re[3]: hello"},
      {"RE: Re: hello", "Re[3]: hello"},
      {"Re[abc]: x", "Re: x"},
      {"re:hello", "Re[2]: hello"},
      {"  Re[4] hello  ", "Re[5]: hello"},
      {"Re[2]: Re: x", "Re[4]: x"},
      {"Report", "Re: Report"},  // "RE" followed by a letter is no marker
      {"Re[", "Re: Re["},
      {"", "Re: "},
  };
  for (const auto& c : cases) EXPECT_EQ(ReplySubject(c.in), c.out) << c.in;
}

TEST(ForwardSubject, GoldenTable) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"FW: x", "Fwd: x"}, {"Fwd: x", "Fwd: x"},     {"x", "Fwd: x"},
      {"fw:x", "Fwd: x"},  {"Fwd: report", "Fwd: report"}, {"FW: FWD: y", "FWD: y"},
      {" Forward plan", "Fwd: Forward plan"},
  };
  for (const auto& c : cases) EXPECT_EQ(ForwardSubject(c.in), c.out) << c.in;
}

TEST(ReplyRecipients, GoldenTable) {
  const std::string me = "\"Me\" <me@example.org>";
  const struct {
    const char *sender, *to, *cc;
    bool all;
    const char *wantTo, *wantCc;
  } cases[] = {
      // Reply: the sender alone, Cc cleared.
      {"ann@x.org", "me@example.org, bob@x.org", "carl@x.org", false, "ann@x.org", ""},
      // Reply To All to a message sent to the user alone (service id): the sender only.
      {"ann@x.org", "me", "", true, "ann@x.org", ""},
      // Reply To All: the sender, the others; the user's own address leaves To and Cc.
      {"ann@x.org", "me@example.org, bob@x.org", "ME@example.org, carl@x.org", true, "ann@x.org, bob@x.org",
       "carl@x.org"},
      // A Cc entry also in To is dropped.
      {"ann@x.org", "bob@x.org", "\"Bob\" <BOB@x.org>, dan@x.org", true, "ann@x.org, bob@x.org", "dan@x.org"},
      // The own address stays when it is the only To entry.
      {"me@example.org", "", "", true, "me@example.org", ""},
  };
  for (const auto& c : cases) {
    const Recipients r = ReplyRecipients(c.sender, c.to, c.cc, me, "me", c.all);
    EXPECT_EQ(r.to, c.wantTo) << c.sender << " | " << c.to;
    EXPECT_EQ(r.cc, c.wantCc) << c.sender << " | " << c.cc;
  }
}

// Reply all answers everyone but the user, whichever of the user's addresses the message
// reached: the service address and every account's address.
TEST(ReplyRecipients, ReplyAllLeavesOutEveryOwnAddress) {
  const StringList accounts = {"\"Me at work\" <work@corp.example>", "home@mail.example"};
  const Recipients r = ReplyRecipients("\"Ann\" <ann@x.org>", "Work@corp.example, bob@x.org, ann@x.org",
                                       "home@mail.example, me, carl@x.org", "\"Me\" <me>", "me", true, accounts);
  EXPECT_EQ(r.to, "\"Ann\" <ann@x.org>, bob@x.org");
  EXPECT_EQ(r.cc, "carl@x.org");
  // A message to one of the accounts alone: the sender only.
  EXPECT_EQ(ReplyRecipients("ann@x.org", "home@mail.example", "", "me", "me", true, accounts).to, "ann@x.org");
}

TEST(ReplyThreadHeaders, ParentIdAndChain) {
  const struct {
    const char *id, *refs, *inReplyTo, *references;
  } cases[] = {
      {"<m3@x.org>", "<m1@x.org> <m2@x.org>", "<m3@x.org>", "<m1@x.org> <m2@x.org> <m3@x.org>"},
      {"<m1@x.org>", "", "<m1@x.org>", "<m1@x.org>"},
      {"", "<m1@x.org>", "", ""},                       // nothing to answer
      {"junk", "", "", ""},                             // not an id
      {"<m2@x.org>", "<m2@x.org> <bad> <m1@x.org>", "<m2@x.org>", "<m1@x.org> <m2@x.org>"},
  };
  for (const auto& c : cases) {
    const ThreadHeaders h = ReplyThreadHeaders(c.id, c.refs);
    EXPECT_EQ(h.inReplyTo, c.inReplyTo) << c.id;
    EXPECT_EQ(h.references, c.references) << c.id;
  }
  std::string many;
  for (int i = 0; i < 40; ++i) many += "<r" + std::to_string(i) + "@x.org> ";
  const ThreadHeaders h = ReplyThreadHeaders("<last@x.org>", many);
  EXPECT_TRUE(h.references.starts_with("<r21@x.org> ")) << h.references;
  EXPECT_TRUE(h.references.ends_with(" <r39@x.org> <last@x.org>")) << h.references;
}

TEST(QuoteAndWrap, QuotePrefixesGoldenTable) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {">> old text", ">>> old text"},
      {"John> said", "John>> said"},
      {"a b> c", "> a b> c"},
      {"plain", "> plain"},
      {"  > spaced", ">> spaced"},
      {"<b>x", "> <b>x"},
      {"", "> "},
  };
  for (const auto& c : cases) {
    const StringList out = QuoteAndWrap({c.in}, true);
    ASSERT_EQ(out.size(), 1u) << c.in;
    EXPECT_EQ(out[0], c.out) << c.in;
  }
}

TEST(QuoteAndWrap, LongLineBreaksAtBlanksAndFlowsIntoTheNextLine) {
  std::string longLine;
  for (int i = 0; i < 40; ++i) longLine += "word ";  // 200 characters
  const StringList out = QuoteAndWrap({longLine, "next line", "", "after gap"}, true);
  ASSERT_GE(out.size(), 4u);
  for (const auto& l : out) {
    EXPECT_LE(l.size(), 76u) << l;
    if (!l.empty()) EXPECT_EQ(l.substr(0, 2), "> ") << l;
  }
  // The short remainder of the long line and "next line" share one line.
  bool joined = false;
  for (const auto& l : out)
    if (l.find("word next line") != std::string::npos) joined = true;
  EXPECT_TRUE(joined);
  EXPECT_EQ(out.back(), "> after gap");
  EXPECT_EQ(out[out.size() - 2], "> ");
}

TEST(QuoteAndWrap, RemainderIsNotJoinedAcrossQuoteLevels) {
  std::string longLine(70, 'a');
  longLine += " bbbbbbbbbb";
  const StringList out = QuoteAndWrap({longLine, "> deeper"}, true);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], "> " + std::string(70, 'a'));
  EXPECT_EQ(out[1], "> bbbbbbbbbb");
  EXPECT_EQ(out[2], ">> deeper");
}

TEST(QuoteAndWrap, WithoutBlanksCutsHardAndRulesNeverSpill) {
  const StringList rule = QuoteAndWrap({std::string(100, '=')}, false);
  ASSERT_EQ(rule.size(), 1u);
  EXPECT_EQ(rule[0], std::string(76, '='));
  const StringList quotedRule = QuoteAndWrap({std::string(100, '=')}, true);
  ASSERT_EQ(quotedRule.size(), 1u);
  EXPECT_EQ(quotedRule[0], "> " + std::string(74, '='));
  const StringList word = QuoteAndWrap({std::string(100, 'x')}, false);
  ASSERT_EQ(word.size(), 2u);
  EXPECT_EQ(word[0], std::string(76, 'x'));
  EXPECT_EQ(word[1], std::string(24, 'x'));
}

TEST(QuoteAndWrap, CountsCharactersNotBytes) {
  std::string cyr;
  for (int i = 0; i < 70; ++i) cyr += "\xD0\xB6";  // 70 Cyrillic letters, 140 bytes
  const StringList out = QuoteAndWrap({cyr}, true);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], "> " + cyr);
}

// A word of 75 or more characters ending in ">" once read as a quote prefix wider than the
// line: cutting it never shortened the rest and a reply never finished.
TEST(QuoteAndWrap, AnyInputFinishesWithinTheWidthAndKeepsItsText) {
  const std::string word75(75, 'a'), word200(200, 'b');
  std::string deep(60, '>');
  const struct {
    std::string in;
    bool quote;
  } cases[] = {
      {word75 + ">", true},
      {word75 + "> some text after it", true},
      {word75 + ">" + std::string(300, 'c'), true},
      {word200 + ">>> and " + word200, true},
      {deep + " deeply quoted text that goes on " + std::string(120, 'd'), true},
      {word75 + ">", false},
  };
  auto letters = [](const std::string& s) {
    std::string l;
    for (char c : s)
      if (c != ' ' && c != '>') l += c;
    return l;
  };
  for (const auto& c : cases) {
    const StringList out = QuoteAndWrap({c.in, "next line"}, c.quote);
    std::string joined;
    for (const std::string& l : out) {
      EXPECT_LE(l.size(), 76u) << c.in;
      if (c.quote) EXPECT_EQ(l.substr(0, 1), ">") << c.in;
      joined += l;
    }
    EXPECT_EQ(letters(joined), letters(c.in + "nextline")) << c.in;
  }
}

TEST(QuoteAndWrap, AQuotePrefixWiderThanTheTextRoomIsText) {
  const std::string word(75, 'a');
  const StringList out = QuoteAndWrap({word + "> x"}, true);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], "> " + word.substr(0, 74));
  EXPECT_EQ(out[1], "> a> x");
  // Ordinary deep quotes keep their levels.
  EXPECT_EQ(QuoteAndWrap({std::string(20, '>') + " x"}, true), StringList{std::string(21, '>') + " x"});
}

TEST(ReplySubject, ManyMarkersAreCountedInOnePass) {
  std::string subject;
  for (int i = 0; i < 200000; ++i) subject += "Re: ";
  EXPECT_EQ(ReplySubject(subject + "x"), "Re[200001]: x");
}

TEST(HeaderBlock, LeavesOutBccAndEscapes) {
  const StringList lines = {"From: Ann <ann@x.org>", "To: me", "Bcc: secret@x.org", "Subject:  a & b "};
  EXPECT_EQ(HeaderBlockHtml(lines),
            "<B><I>From:</I></B>&nbsp;Ann &lt;ann@x.org&gt;<BR>"
            "<B><I>To:</I></B>&nbsp;me<BR>"
            "<B><I>Subject:</I></B>&nbsp;a &amp; b<BR>");
}

TEST(Signature, RulesAndJoins) {
  const Signature sig = MakeSignature({"Ann", "-----", "Kavenstow & Co", ""});
  EXPECT_EQ(sig.plain, "Ann\r\n" + std::string(76, '-') + "\r\nKavenstow & Co");
  EXPECT_EQ(sig.html, "Ann<HR>Kavenstow &amp; Co");
  EXPECT_EQ(sig.HtmlBlock(), "<DIV>&nbsp;</DIV><DIV>Ann<HR>Kavenstow &amp; Co</DIV>");
  EXPECT_EQ(sig.PlainBlock(), "\r\n" + sig.plain + "\r\n");
  EXPECT_TRUE(MakeSignature({}).empty());
  EXPECT_EQ(MakeSignature({}).PlainBlock(), "");
}

TEST(PlainBodies, ReplyAndForwardGolden) {
  const StringList headers = {"From: ann@x.org", "Subject: hi"};
  const StringList text = {"Hello,", "", "see you", "", "  "};
  const Signature sig = MakeSignature({"Me"});
  EXPECT_EQ(PlainReplyLines(headers, text, sig),
            (StringList{"", "", "Me", "", "> From: ann@x.org", "> Subject: hi", "> Hello,", "> ", "> see you"}));
  EXPECT_EQ(PlainReplyLines(headers, {"x"}, Signature{}), (StringList{"", "", "> From: ann@x.org", "> Subject: hi", "> x"}));
  const std::string rule(76, '=');
  EXPECT_EQ(PlainForwardLines(headers, text, Signature{}),
            (StringList{"", "", rule, "From: ann@x.org", "Subject: hi", "Hello,", "", "see you", rule}));
}

TEST(HtmlTemplates, GoldenTexts) {
  const TemplateFont font{"Arial", 10};
  const Signature sig = MakeSignature({"Me"});
  const StringList headers = {"From: ann@x.org", "Bcc: b@x.org"};
  EXPECT_EQ(HtmlNewMessage(font, sig),
            "<HTML><HEAD></HEAD><BODY><FONT face=\"Arial\" point-size=10 color=black><DIV>&nbsp;</DIV>"
            "<DIV>&nbsp;</DIV><DIV>Me</DIV></FONT></BODY></HTML>");
  EXPECT_EQ(HtmlReplyToText(headers, {"1 < 2 & 3", "next"}, "windows-1251", font, Signature{}),
            "<HTML><HEAD><META http-equiv=Content-Type content=\"text/html; charset=windows-1251\"></HEAD><BODY>"
            "<FONT face=\"Arial\" point-size=10 color=black><DIV>&nbsp;</DIV><DIV>&nbsp;</DIV>\r\n"
            "<BLOCKQUOTE style=\"PADDING-RIGHT: 0px; PADDING-LEFT: 5px; MARGIN-LEFT: 5px; BORDER-LEFT: #000000 2px "
            "solid; MARGIN-RIGHT: 0px\">\r\n"
            "<HR><B><I>From:</I></B>&nbsp;ann@x.org<BR><HR><DIV>&nbsp;</DIV>\r\n"
            "1 &lt; 2 &amp; 3<BR>next\r\n"
            "</FONT></BLOCKQUOTE></BODY></HTML>");
  const BodyWrap w = HtmlReplyWrap(headers, font, Signature{});
  EXPECT_EQ(w.after, "</FONT></BLOCKQUOTE>");
  EXPECT_EQ(WrapBodyContent("<html><body bgcolor=white><p>old</p></body></html>", "[", "]"),
            "<html><body bgcolor=white>[<p>old</p>]</body></html>");
  EXPECT_EQ(WrapBodyContent("<p>no body</p>", "[", "]"), "[<p>no body</p>]");
  EXPECT_EQ(WrapBodyContent("<BODY><bodyguard/></BODY>", "[", ""), "<BODY>[<bodyguard/></BODY>");
  EXPECT_EQ(HtmlForwardOfText({"a<b", ""}, "UTF-8"),
            "<HTML><HEAD><META http-equiv=Content-Type content=\"text/html; charset=UTF-8\"></HEAD><BODY>"
            "<DIV>a&lt;b</DIV>\r\n<DIV>&nbsp;</DIV>\r\n<HR></FONT></BODY></HTML>");
  EXPECT_EQ(HtmlForwardHeader(headers, font, Signature{}),
            "<FONT face=\"Arial\" point-size=10 color=black><DIV>&nbsp;</DIV><DIV>&nbsp;</DIV><DIV><HR>"
            "<B><I>From:</I></B>&nbsp;ann@x.org<BR><HR>&nbsp;</DIV></FONT>");
  EXPECT_EQ(HtmlOfTextDocument({"x & y"}, font, Signature{}),
            "<HTML><HEAD></HEAD><BODY><FONT face=\"Arial\" point-size=10 color=black><DIV>x &amp; y</DIV>"
            "<DIV>&nbsp;</DIV></FONT></BODY></HTML>");
}

}  // namespace
}  // namespace px::compose

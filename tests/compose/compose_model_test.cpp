// The message window's rules without widgets: modes, options, starting actions, the record a
// queued message becomes, charsets, encryption and links.
#include "compose/compose_model.h"
#include "compose/link_check.h"
#include "foundation/charset.h"

#include <gtest/gtest.h>

namespace px::compose {
namespace {

TEST(ComposeModes, ButtonsAndControlsPerMode) {
  const struct {
    int mode;
    bool header;
    bool cancel, save, close, encoding, format;
  } cases[] = {
      {emTextViewer, false, false, false, true, true, false},
      {emTextEditor, false, true, true, false, true, true},
      {emTextEditor, true, true, false, false, true, true},
      {emHtmlViewer, false, false, false, true, false, false},
      {emHtmlEditor, true, true, false, false, true, true},
  };
  for (const auto& c : cases) {
    const ModeButtons b = ButtonsForMode(c.mode, c.header);
    EXPECT_EQ(b.cancel, c.cancel) << c.mode;
    EXPECT_EQ(b.save, c.save) << c.mode;
    EXPECT_EQ(b.close, c.close) << c.mode;
    EXPECT_EQ(b.encoding, c.encoding) << c.mode;
    EXPECT_EQ(b.formatBar, c.format) << c.mode;
  }
  for (int m = 0; m < 4; ++m) {
    EXPECT_EQ(ControlEnabled(kTagEditing, m), m == 1 || m == 3);
    EXPECT_TRUE(ControlEnabled(kTagAnyMode, m));
    EXPECT_EQ(ControlEnabled(kTagHtmlOnly, m), m == 3);
    EXPECT_TRUE(ControlEnabled(0, m));
  }
}

TEST(ComposeModes, OpeningModeAndStartAction) {
  EXPECT_EQ(OpeningMode(eoMail | eoReceived, false, true), emTextViewer);
  EXPECT_EQ(OpeningMode(eoMail, false, false), emTextEditor);
  EXPECT_EQ(OpeningMode(eoPlainDocument, false, false), emTextEditor);
  EXPECT_EQ(OpeningMode(eoMail | eoHtml, true, true), emHtmlViewer);
  EXPECT_EQ(OpeningMode(eoMail | eoHtml | eoStartReply, true, true), emHtmlEditor);
  EXPECT_EQ(OpeningMode(eoHiddenNew | eoHtml, true, false), emHtmlEditor);

  EXPECT_EQ(StartActionOf(eoStartReply | eoStartForward), StartAction::Reply);
  EXPECT_EQ(StartActionOf(eoStartReplyAll | eoStartForward), StartAction::ReplyAll);
  EXPECT_EQ(StartActionOf(eoStartForward | eoStartNew), StartAction::Forward);
  EXPECT_EQ(StartActionOf(eoHiddenForward), StartAction::Forward);
  EXPECT_EQ(StartActionOf(eoStartNew), StartAction::SendAsEmail);
  EXPECT_EQ(StartActionOf(eoMail), StartAction::None);

  EXPECT_EQ(CaretPlaceOf(eoCaretBody | eoCaretSubject, "a", ""), CaretPlace::Body);
  EXPECT_EQ(CaretPlaceOf(eoCaretSubject, "", "x"), CaretPlace::Subject);
  EXPECT_EQ(CaretPlaceOf(0, "a@x.org", ""), CaretPlace::Subject);
  EXPECT_EQ(CaretPlaceOf(0, "a@x.org", "s"), CaretPlace::Body);
  EXPECT_EQ(CaretPlaceOf(0, "", ""), CaretPlace::Body);

  const MailActions a = ActionsForOptions(eoMail | eoReceived | eoReplyAllOffered);
  EXPECT_TRUE(a.reply && a.block && a.del && a.replyAll && a.forward && a.copy);
  EXPECT_FALSE(a.sendAsEmail || a.clear);
}

ComposeEnv TestEnv() {
  ComposeEnv env;
  env.userName = "Me";
  env.userId = "me";
  env.defaultSender = "\"Me\" <me>";
  env.alternativeFrom = "work@x.org, \"Me at home\" <home@x.org>";
  env.htmlMessages = false;
  return env;
}

OpenRequest ReceivedMessage() {
  OpenRequest r;
  r.path = "/docs/Mail/hello.txt";
  r.options = eoMail | eoReceived | eoReplyAllOffered;
  r.headerLines = {"From: ann@x.org", "To: me, bob@x.org", "Cc: carl@x.org", "Subject: hello"};
  r.from = "ann@x.org";
  r.to = "me, bob@x.org";
  r.cc = "carl@x.org";
  r.subject = "hello";
  r.charset = "windows-1251";
  r.attachments = {"/docs/Mail/pic.png", "/docs/Mail/hello.txt"};
  return r;
}

TEST(ComposeModel, SenderChoicesPutTheOwnEntryFirst) {
  EXPECT_EQ(SenderChoices(TestEnv()),
            (StringList{"\"Me\" <me>", "work@x.org", "\"Me at home\" <home@x.org>"}));
  ComposeEnv env = TestEnv();
  env.alternativeFrom = "\"Other\" <ME>";
  EXPECT_EQ(SenderChoices(env), (StringList{"\"Other\" <ME>"}));
}

TEST(ComposeModel, ReplyReplyAllAndForwardSetTheHeader) {
  ComposeModel m(TestEnv());
  m.Open(ReceivedMessage());
  EXPECT_EQ(m.attachments, (StringList{"/docs/Mail/pic.png"}));  // never the document itself
  const BodyPlan p = m.Reply(true, ViewedText{false, false, {"text"}, false}, "me");
  EXPECT_FALSE(p.html);
  EXPECT_EQ(m.to, "ann@x.org, bob@x.org");
  EXPECT_EQ(m.cc, "carl@x.org");
  EXPECT_EQ(m.subject, "Re: hello");
  EXPECT_EQ(m.original, "R,/docs/Mail/hello.txt");
  EXPECT_TRUE(m.attachments.empty());
  EXPECT_EQ(m.from, "\"Me\" <me>");
  EXPECT_EQ(p.lines.back(), "> text");

  ComposeModel f(TestEnv());
  f.Open(ReceivedMessage());
  f.Forward(ViewedText{false, false, {"text"}, false});
  EXPECT_EQ(f.to, "");
  EXPECT_EQ(f.cc, "");
  EXPECT_EQ(f.subject, "Fwd: hello");
  EXPECT_EQ(f.original, "F,/docs/Mail/hello.txt");
  EXPECT_EQ(f.attachments, (StringList{"/docs/Mail/pic.png"}));
}

TEST(ComposeModel, ForwardingRichHtmlAsTextAttachesThePage) {
  OpenRequest r = ReceivedMessage();
  r.path = "/docs/Mail/news.htm";
  r.options |= eoHtml;
  ComposeModel m(TestEnv());
  m.Open(r);
  const BodyPlan p = m.Forward(ViewedText{true, false, {"News"}, true});
  EXPECT_EQ(p.addAttachment, "/docs/Mail/news.htm");
  EXPECT_EQ(m.attachments.back(), "/docs/Mail/news.htm");
}

TEST(ComposeModel, HtmlReplyKeepsTheCharsetNameInTheTemplate) {
  ComposeEnv env = TestEnv();
  env.htmlMessages = true;
  ComposeModel m(env);
  m.Open(ReceivedMessage());
  const BodyPlan p = m.Reply(false, ViewedText{false, false, {"\xD0\x96 < 1"}, false}, "me");
  ASSERT_TRUE(p.html);
  EXPECT_NE(p.document.find("charset=windows-1251"), std::string::npos);
  EXPECT_NE(p.document.find("\xD0\x96 &lt; 1"), std::string::npos);
}

TEST(ComposeModel, NewMessageFromMailto) {
  ComposeModel m(TestEnv());
  OpenRequest r;
  r.path = "/docs/Work/New message.txt";
  r.options = eoStartNew;
  r.to = "mailto:ann@x.org?subject=Hi&body=Line%0ANext";
  m.Open(r);
  const BodyPlan p = m.SendAsEmail(ViewedText{}, true);
  EXPECT_EQ(m.to, "ann@x.org");
  EXPECT_EQ(m.subject, "Hi");
  EXPECT_EQ(p.lines, (StringList{"Line", "Next"}));
  ComposeModel n(TestEnv());
  r.to.clear();
  n.Open(r);
  n.SendAsEmail(ViewedText{}, true);
  EXPECT_EQ(n.windowTitle, "New message in Work");
}

TEST(ComposeModel, RecordSubjectAndDraftRules) {
  ComposeModel m(TestEnv());
  OpenRequest r;
  r.path = "/docs/new.txt";
  m.Open(r);
  m.AddAttachments({"/docs/report.pdf"});
  EXPECT_EQ(m.RecordSubject({}), "report");
  EXPECT_EQ(m.RecordSubject([](const std::string&) { return std::string("Quarterly"); }), "Quarterly");
  m.AddAttachments({"/docs/b.pdf"});
  EXPECT_EQ(m.RecordSubject({}), "(no subject)");

  // Send Later without To queues a draft.
  TNewMessageRec rec = m.MakeRecord(ComposeModel::QueueKind::Later, "/tmp/PX1.txt", "text", "", true, {});
  EXPECT_TRUE(rec.Draft);
  EXPECT_FALSE(rec.SendNow);
  m.to = "ann@x.org";
  rec = m.MakeRecord(ComposeModel::QueueKind::Now, "/tmp/PX1.txt", "text", "", false, {});
  EXPECT_FALSE(rec.Draft);
  EXPECT_TRUE(rec.SendNow);
  EXPECT_FALSE(rec.modified);
  EXPECT_EQ(rec.ReplacesMsgID, "");
}

TEST(ComposeModel, CharsetOfTheRecord) {
  ComposeModel m(TestEnv());
  OpenRequest r = ReceivedMessage();
  r.options = eoReEdit;
  r.msgId = "2026120110000000012345:001/002";
  m.Open(r);
  m.subject = "plain";
  // All 7-bit: US-ASCII, whatever was chosen; a draft keeps the chosen charset.
  EXPECT_EQ(m.MakeRecord(ComposeModel::QueueKind::Later, "b", "abc", "", true, {}).Charset, "US-ASCII");
  EXPECT_EQ(m.MakeRecord(ComposeModel::QueueKind::Draft, "b", "abc", "", true, {}).Charset, "windows-1251");
  // Cyrillic fits windows-1251; the subject is written in it.
  m.subject = "\xD0\x9F\xD1\x80\xD0\xB8";
  TNewMessageRec rec = m.MakeRecord(ComposeModel::QueueKind::Later, "b", "abc", "", true, {});
  EXPECT_EQ(rec.Charset, "windows-1251");
  EXPECT_EQ(rec.Subject, "\xCF\xF0\xE8");
  EXPECT_EQ(rec.ReplacesMsgID, "2026120110000000012345:001/002");
  // Text the charset cannot hold makes the message UTF-8 instead of losing characters.
  m.subject = "\xE6\x97\xA5\xE6\x9C\xAC";
  rec = m.MakeRecord(ComposeModel::QueueKind::Later, "b", "abc", "", true, {});
  EXPECT_EQ(rec.Charset, "UTF-8");
  EXPECT_EQ(rec.Subject, "\xE6\x97\xA5\xE6\x9C\xAC");
  // A header line never gains a line break.
  m.subject = "a\r\nBcc: x";
  EXPECT_EQ(m.MakeRecord(ComposeModel::QueueKind::Later, "b", "abc", "", true, {}).Subject, "a  Bcc: x");

  EXPECT_EQ(ComposeModel::CharsetHolding("ISO-2022-JP", {"\xE6\x97\xA5"}), "ISO-2022-JP");
  EXPECT_EQ(ComposeModel::CharsetHolding("windows-1252", {"\xD0\x96"}), "UTF-8");
  EXPECT_EQ(ComposeModel::PlainBodyBytes("", "UTF-8"), "\r\n");
  EXPECT_EQ(ComposeModel::PlainBodyBytes("a\nb", "UTF-8"), "a\r\nb");
}

TEST(ComposeModel, EncryptionNeedsServiceRecipients) {
  ComposeEnv env = TestEnv();
  env.groupMembers = [](std::string_view g) {
    return g == "Team" ? StringList{"ann", "bob@x.org"} : StringList{};
  };
  EXPECT_TRUE(RecipientsCanDecrypt("ann, bob@plumadex.net", "", "", "", env.groupMembers));
  EXPECT_FALSE(RecipientsCanDecrypt("ann", "bob@x.org", "", "", env.groupMembers));
  EXPECT_FALSE(RecipientsCanDecrypt("Team (GROUP)", "", "", "", env.groupMembers));
  EXPECT_TRUE(RecipientsCanDecrypt("Team (GROUP)", "", "", "bob@x.org", env.groupMembers));
  ComposeModel m(env);
  m.Open(OpenRequest{});
  m.to = "ann@x.org";
  m.encrypt = true;
  EXPECT_FALSE(m.CheckEncryption());
  EXPECT_FALSE(m.encrypt);
}

TEST(ComposeModel, AContactWhoseMailIsAlwaysEncryptedAsksForEncryption) {
  ComposeEnv env = TestEnv();
  env.encryptionAvailable = true;
  env.alwaysEncrypt = [](std::string_view a) { return a == "carol"; };
  env.groupMembers = [](std::string_view g) { return g == "Team" ? StringList{"ann", "carol"} : StringList{}; };
  const struct {
    const char *to, *cc, *exclude;
    bool wants;
  } cases[] = {
      {"ann", "", "", false},
      {"ann", "\"Carol\" <carol>", "", true},
      {"Team (GROUP)", "", "", true},
      {"Team (GROUP)", "", "carol", false},
      {"carolyn", "", "", false},
  };
  for (const auto& c : cases) {
    ComposeModel m(env);
    m.Open(OpenRequest{});
    m.to = c.to;
    m.cc = c.cc;
    m.excludeTo = c.exclude;
    EXPECT_EQ(m.RecipientWantsEncryption(), c.wants) << c.to << " " << c.cc;
  }
  // Without encryption software nothing is asked for.
  env.encryptionAvailable = false;
  ComposeModel off(env);
  off.Open(OpenRequest{});
  off.to = "carol";
  EXPECT_FALSE(off.RecipientWantsEncryption());
}

TEST(LinkCheck, OnlyWebAndMailLinksOpenWithoutAsking) {
  const struct {
    const char *target, *shown;
    LinkAction action;
  } cases[] = {
      {"https://example.org/a", "", LinkAction::Open},
      {"http://example.org/a", "Click here", LinkAction::Open},
      {"mailto:ann@x.org", "", LinkAction::Open},
      {"HTTPS://www.example.org/", "example.org", LinkAction::Open},
      {"ftp://files.example.org/", "", LinkAction::Ask},
      {"tel:+123", "", LinkAction::Ask},
      {"https://evil.example.net/login", "https://bank.example.org/", LinkAction::Ask},
      {"https://evil.example.net/login", "www.bank.example.org", LinkAction::Ask},
      {"javascript:alert(1)", "", LinkAction::Refuse},
      {"file:///etc/passwd", "", LinkAction::Refuse},
      {"data:text/html,x", "", LinkAction::Refuse},
      {"", "", LinkAction::Refuse},
      {"no scheme", "", LinkAction::Refuse},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckLink(c.target, c.shown).action, c.action) << c.target;
}

TEST(LinkCheck, TextLinksAndQuotedLines) {
  const auto links = FindTextLinks("See www.example.org/x?a=b mail ann@x.org or HTTPS://x.org/p and abcwww.y.org");
  ASSERT_GE(links.size(), 3u);
  EXPECT_EQ(links[0].text, "www.example.org/x?a=b");
  EXPECT_EQ(links[1].text, "ann@x.org");
  EXPECT_EQ(links[2].text, "HTTPS://x.org/p");
  EXPECT_EQ(TextLinkTarget("ann@x.org"), "mailto:ann@x.org");
  EXPECT_EQ(TextLinkTarget("www.example.org"), "http://www.example.org");
  EXPECT_EQ(TextLinkTarget("https://x.org"), "https://x.org");
  EXPECT_EQ(CheckLink(TextLinkTarget("ann@x.org")).action, LinkAction::Open);
  EXPECT_TRUE(IsQuotedLine("> x"));
  EXPECT_TRUE(IsQuotedLine("John> said"));
  EXPECT_FALSE(IsQuotedLine("a b> c"));
  EXPECT_FALSE(IsQuotedLine("plain"));
}

}  // namespace
}  // namespace px::compose

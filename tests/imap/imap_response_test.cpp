// The IMAP response parser and the small encoders of the client.
#include <gtest/gtest.h>

#include "transport/accounts.h"
#include "transport/imap/imap_response.h"

namespace px::test {
namespace {

using namespace transport::imap;

TEST(ImapResponse, ReadsTheKindsOfResponse) {
  auto r = ParseResponse("* OK [UIDVALIDITY 3857529045] UIDs valid\r\n");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->kind, Response::Kind::Untagged);
  EXPECT_EQ(r->name, "OK");
  EXPECT_EQ(r->code, "UIDVALIDITY");
  EXPECT_EQ(r->codeArg, "3857529045");
  EXPECT_EQ(r->text, "UIDs valid");

  r = ParseResponse("* 172 EXISTS\r\n");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->name, "EXISTS");
  EXPECT_EQ(r->number, 172);

  r = ParseResponse("A7 no [AUTHENTICATIONFAILED] Authentication failed.\r\n");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->kind, Response::Kind::Tagged);
  EXPECT_EQ(r->tag, "A7");
  EXPECT_EQ(r->name, "NO");
  EXPECT_EQ(r->code, "AUTHENTICATIONFAILED");

  r = ParseResponse("+ idling\r\n");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->kind, Response::Kind::Continuation);

  r = ParseResponse("* CAPABILITY IMAP4rev1 IDLE UIDPLUS AUTH=PLAIN\r\n");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->values.size(), 4u);
  EXPECT_EQ(r->values[3].text, "AUTH=PLAIN");
}

TEST(ImapResponse, FetchWithLiteralsQuotedStringsAndSections) {
  const std::string body = "Subject: x\r\n\r\n(not a list) \"nor a string\" {5}\r\n";
  std::string wire = "* 3 FETCH (UID 42 FLAGS (\\Seen \\Answered) BODY[HEADER.FIELDS (MESSAGE-ID)] \"a \\\"q\\\" \\\\\" "
                     "BODY[] {" + std::to_string(body.size()) + "}\r\n" + body + " X-GM NIL)\r\n";
  auto r = ParseResponse(wire);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->name, "FETCH");
  EXPECT_EQ(r->number, 3);
  ASSERT_EQ(r->values.size(), 1u);
  const Value& items = r->values[0];
  ASSERT_TRUE(FetchItem(items, "uid"));
  EXPECT_EQ(NumberOf(*FetchItem(items, "UID")), 42);
  const Value* flags = FetchItem(items, "FLAGS");
  ASSERT_TRUE(flags);
  ASSERT_EQ(flags->list.size(), 2u);
  EXPECT_TRUE(flags->list[0].IsAtom("\\seen"));
  EXPECT_EQ(FetchItem(items, "BODY[HEADER.FIELDS (MESSAGE-ID)]")->text, "a \"q\" \\");
  EXPECT_EQ(FetchItem(items, "BODY[]")->text, body);
  EXPECT_EQ(FetchItem(items, "X-GM")->type, Value::Type::Nil);
}

TEST(ImapResponse, MalformedInputIsAnErrorNotAGuess) {
  const char* bad[] = {
      "",
      "* 1 FETCH (UID 1\r\n",                // unclosed list
      "* 1 FETCH UID 1)\r\n",                // close without open
      "* 1 FETCH (BODY[] {10}\r\nshort)\r\n",  // literal longer than what follows
      "* 1 FETCH (BODY[] {x}\r\n)\r\n",      // literal without a size
      "* 1 FETCH (A \"open)\r\n",            // quoted string never closed
      "* OK [UIDVALIDITY 1 no bracket\r\n",  // response code never closed
      "A1 FETCH (UID 1)\r\n",                // tagged but no status
      "* 1 FETCH (BODY[TEXT 1)\r\n",         // section never closed
  };
  for (const char* b : bad) EXPECT_FALSE(ParseResponse(b)) << b;
  std::string deep = "* LIST ";
  for (int i = 0; i < kMaxDepth + 2; ++i) deep += "(";
  for (int i = 0; i < kMaxDepth + 2; ++i) deep += ")";
  EXPECT_FALSE(ParseResponse(deep + "\r\n"));
}

TEST(ImapResponse, TrailingLiteralSizes) {
  EXPECT_EQ(TrailingLiteral("* 1 FETCH (BODY[] {123}\r\n"), 123);
  EXPECT_EQ(TrailingLiteral("A1 LOGIN {5+}\r\n"), 5);
  EXPECT_EQ(TrailingLiteral("* OK done\r\n"), -1);
  EXPECT_EQ(TrailingLiteral("* OK {}\r\n"), -1);
  EXPECT_EQ(TrailingLiteral("* OK {99999999999999999999}\r\n"), -1);
}

TEST(ImapEncoding, ArgumentsSetsAndMailboxNames) {
  EXPECT_EQ(QuoteArgument("pass word\"\\"), "\"pass word\\\"\\\\\"");
  EXPECT_FALSE(QuoteArgument("p\xc3\xa4ss"));  // 8-bit: sent as a literal
  EXPECT_FALSE(QuoteArgument("a\r\nA2 LOGOUT"));
  EXPECT_EQ(SequenceSet({1, 2, 3, 5, 7, 8}), "1:3,5,7:8");
  EXPECT_EQ(SequenceSet({1, 2, 3, 5, 7, 8}, 2, 3), "3,5,7");
  EXPECT_EQ(EncodeMailboxName("INBOX"), "INBOX");
  EXPECT_EQ(EncodeMailboxName("A&B"), "A&-B");
  // RFC 3501's own example: "~peter/mail/台北/日本語".
  EXPECT_EQ(EncodeMailboxName("~peter/mail/\xe5\x8f\xb0\xe5\x8c\x97/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"),
            "~peter/mail/&U,BTFw-/&ZeVnLIqe-");
}

TEST(ImapAccount, FoldersAndProtocolKeepToTheirWords) {
  transport::ExternalAccount a;
  EXPECT_FALSE(a.IsImap());
  EXPECT_EQ(a.ImapFolders(), std::vector<std::string>{"INBOX"});
  a.SetImap(true);
  a.SetImapFolders({"INBOX", "Lists, work", "100%=sure"});
  std::string words = transport::FormatAccountSettings(a);
  EXPECT_EQ(words.find(' '), words.find(" folders="));  // one word per setting
  transport::ExternalAccount b;
  transport::ApplyAccountSettings(words, b);
  EXPECT_TRUE(b.IsImap());
  EXPECT_EQ(b.ImapFolders(), (std::vector<std::string>{"INBOX", "Lists, work", "100%=sure"}));
  b.SetImapFolders({"INBOX"});
  EXPECT_EQ(transport::FormatAccountSettings(b), "protocol=imap");
}

}  // namespace
}  // namespace px::test

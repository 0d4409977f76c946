// The preview list: rows as the receive chain reports them, the tabs' order, ticks, and
// blocking the senders of the ticked rows.
#include <gtest/gtest.h>

#include "foundation/dates.h"
#include "incoming/blocked_senders.h"
#include "incoming/mail_preview.h"
#include "support/test_support.h"

namespace px::incoming {
namespace {

using transport::TMailPreviewItem;

TMailPreviewItem Item(const std::string& account, const std::string& key, const std::string& sender, DateTime date,
                      const std::string& partKey = {}) {
  TMailPreviewItem i;
  i.account = account;
  i.fileName = key;
  i.sender = sender;
  i.subject = "s " + key;
  i.date = date;
  i.partKey = partKey;
  return i;
}

std::vector<std::string> Keys(const MailPreviewList& l, const std::string& account) {
  std::vector<std::string> out;
  for (const auto* r : l.Rows(account)) out.push_back(r->fileName);
  return out;
}

TEST(MailPreviewList, RowsFollowTheChainsReportsInTheirAccountsOrder) {
  MailPreviewList l;
  int changes = 0;
  l.changed = [&] { ++changes; };
  l.Listed(Item("Work", "w2", "a@x", 3.0, "B"));
  l.Listed(Item("Plumadex server", "s1", "ann", 1.0));
  l.Listed(Item("Work", "w1", "b@x", 3.0, "a"));
  l.Listed(Item("Work", "w0", "c@x", 2.0));
  l.Listed(Item("Work", "w0", "c@x", 2.0));  // told twice: one row
  EXPECT_EQ(l.Count(), 4u);
  EXPECT_EQ(l.Accounts(), (std::vector<std::string>{"Work", "Plumadex server"}));
  // Oldest first; a tie goes by the part key, ignoring case.
  EXPECT_EQ(Keys(l, "Work"), (std::vector<std::string>{"w0", "w1", "w2"}));
  for (const auto* r : l.Rows("Work")) EXPECT_TRUE(r->ticked);
  l.SetTicked("Work", "w1", false);
  EXPECT_EQ(l.Ticked("Work").size(), 2u);
  l.TickAll("Work", false);
  EXPECT_FALSE(l.AnyTicked("Work"));
  EXPECT_TRUE(l.AnyTicked("Plumadex server"));
  // A handled row goes; a key of another account is not this account's row.
  l.Handled("Plumadex server", "w0");
  EXPECT_EQ(l.Count(), 4u);
  l.Handled("Plumadex server", "s1");
  EXPECT_EQ(l.Accounts(), (std::vector<std::string>{"Work"}));
  EXPECT_GT(changes, 5);
  l.Clear();
  EXPECT_TRUE(l.Empty());
  EXPECT_TRUE(l.Accounts().empty());
}

TEST(MailPreviewList, CellsDecodeInTheRowsCharsetAndRoundSizes) {
  struct Case {
    int64_t size;
    const char* text;
  } sizes[] = {{0, "0K"}, {499, "0K"}, {500, "1K"}, {1499, "1K"}, {1500, "2K"}, {-1, "0K"}};
  for (const auto& c : sizes) EXPECT_EQ(PreviewSize(c.size), c.text) << c.size;
  TMailPreviewItem i;
  i.sender = "=?ISO-8859-1?Q?Ren=E9?= <rene@x.example>";
  i.subject = "Caf\xe9";  // the row's charset, as the service lists it
  i.charset = "ISO-8859-1";
  EXPECT_EQ(PreviewSender(i), "René <rene@x.example>");
  EXPECT_EQ(PreviewSubject(i), "Café");
  EXPECT_EQ(PreviewReceived(i), "");  // no date, no text
}

TEST(MailPreviewList, BlockSelectedBlocksEachTickedSenderOnceAndTakesTheRowsOut) {
  px::test::TempHome home;
  BlockedSenders blocked;
  blocked.Load(home.path("blacklist.lst"));
  MailPreviewList l;
  l.Listed(Item("Work", "1", "Spam <SPAM@bad.example>", 1.0));
  l.Listed(Item("Work", "2", "spam@bad.example", 2.0));
  l.Listed(Item("Work", "3", "friend@good.example", 3.0));
  l.Listed(Item("Home", "4", "spam@bad.example", 1.0));
  l.SetTicked("Work", "3", false);
  const auto forms = l.BlockTicked("Work", blocked);
  EXPECT_EQ(forms, (std::vector<std::string>{"spam@bad.example"}));
  EXPECT_TRUE(blocked.IsBlocked("spam@bad.example"));
  EXPECT_FALSE(blocked.IsBlocked("friend@good.example"));
  EXPECT_EQ(Keys(l, "Work"), (std::vector<std::string>{"3"}));
  EXPECT_EQ(Keys(l, "Home"), (std::vector<std::string>{"4"}));  // another tab's rows stay
  EXPECT_NE(PreviewBlockedText(forms).find("Messages from spam@bad.example will blocked."), std::string::npos);
  EXPECT_NE(PreviewBlockedText({"a@x", "b@x"}).find("from \r     a@x\r     b@x\r will"), std::string::npos);
}

}  // namespace
}  // namespace px::incoming

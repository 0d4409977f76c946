#include <gtest/gtest.h>

#include "incoming/blocked_senders.h"
#include "store/list_file.h"
#include "support/test_support.h"

namespace px::incoming {
namespace {

TEST(BlockedSenders, StoredFormIsTheBareLowerCaseAddress) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"\"Ann Example\" <Ann@Example.ORG>", "ann@example.org"},
      {"Ann@Example.org", "ann@example.org"},
      {"Bob@PLUMADEX.NET", "bob"},
      {"bob", "bob"},
      {"  <carl@x.org>  ", "carl@x.org"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(BlockedForm(c.in), c.out) << c.in;
}

TEST(BlockedSenders, BlockUnblockAndTheFile) {
  px::test::TempHome home;
  const std::string file = home.path("blacklist.lst");
  BlockedSenders list;
  EXPECT_EQ(list.Block("\"Ann\" <ANN@example.org>"), "ann@example.org");
  list.Block("ann@example.org");
  list.Block("Bob@Plumadex.net");
  EXPECT_EQ(list.Size(), 2u);
  // A service user written without the domain is the same sender.
  EXPECT_TRUE(list.IsBlocked("bob"));
  EXPECT_TRUE(list.IsBlocked("\"Ann E.\" <ann@EXAMPLE.org>"));
  EXPECT_FALSE(list.IsBlocked("carl@example.org"));
  EXPECT_FALSE(list.IsBlocked(""));
  ASSERT_TRUE(list.Save(file));
  EXPECT_EQ(store::ReadListFile(file), (StringList{"ann@example.org", "bob"}));

  BlockedSenders again;
  again.Load(file);
  EXPECT_TRUE(again.IsBlocked("BOB@plumadex.net"));
  EXPECT_EQ(again.Unblock({"bob", "nobody"}), 1u);
  EXPECT_FALSE(again.IsBlocked("bob"));
  // A list loaded from its file saves every change at once.
  again.Block("\"Dee\" <dee@example.org>");
  EXPECT_EQ(store::ReadListFile(file), (StringList{"ann@example.org", "dee@example.org"}));

  BlockedSenders missing;
  missing.Load(home.path("none.lst"));
  EXPECT_EQ(missing.Size(), 0u);
}

}  // namespace
}  // namespace px::incoming

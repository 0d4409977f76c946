// The From of the message window offers the user's identities in full, and a reply or forward
// starts from the identity the original came to.
#include "compose/compose_model.h"

#include <gtest/gtest.h>

namespace px::compose {
namespace {

ComposeEnv IdentitiesEnv() {
  ComposeEnv env;
  env.userId = "alice";
  env.userName = "Alice";
  env.identities = {"\"Alice\" <alice@plumadex.net>", "\"Alice\" <alice@example.com>", "\"Alice\" <work@example.org>"};
  env.defaultSender = env.identities.front();
  return env;
}

OpenRequest Received(const std::string& to, const std::string& cc) {
  OpenRequest r;
  r.options = eoReceived;
  r.path = "/docs/hello.txt";
  r.headerLines = {"From: ann@x.org", "To: " + to, "Subject: hello"};
  r.from = "ann@x.org";
  r.to = to;
  r.cc = cc;
  r.subject = "hello";
  return r;
}

TEST(SenderIdentity, FromOffersTheIdentitiesOnly) {
  EXPECT_EQ(SenderChoices(IdentitiesEnv()), IdentitiesEnv().identities);
}

TEST(SenderIdentity, ReplyAndForwardStartFromTheIdentityTheOriginalCameTo) {
  struct Case {
    std::string to, cc, want;
  } const cases[] = {
      {"work@example.org", "", "\"Alice\" <work@example.org>"},
      {"bob@x.org", "\"A\" <alice@example.com>", "\"Alice\" <alice@example.com>"},
      {"alice", "", "\"Alice\" <alice@plumadex.net>"},
      {"list@x.org", "", "\"Alice\" <alice@plumadex.net>"},
  };
  for (const auto& c : cases) {
    ComposeModel reply(IdentitiesEnv());
    reply.Open(Received(c.to, c.cc));
    reply.Reply(false, ViewedText{false, false, {"text"}, false}, "alice");
    EXPECT_EQ(reply.from, c.want) << c.to;
    ComposeModel forward(IdentitiesEnv());
    forward.Open(Received(c.to, c.cc));
    forward.Forward(ViewedText{false, false, {"text"}, false});
    EXPECT_EQ(forward.from, c.want) << c.to;
  }
}

TEST(SenderIdentity, AMailtoNeverMakesTheUserSendAsSomeoneElse) {
  ComposeModel m(IdentitiesEnv());
  OpenRequest r;
  r.to = "mailto:bob@x.org?from=bob@x.org";
  m.Open(r);
  m.SendAsEmail(ViewedText{}, true);
  EXPECT_EQ(m.from, "\"Alice\" <alice@plumadex.net>");
  EXPECT_EQ(m.to, "bob@x.org");
}

}  // namespace
}  // namespace px::compose

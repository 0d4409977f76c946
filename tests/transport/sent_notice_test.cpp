// The line that confirms a message has left.
#include "transport/sent_notice.h"

#include <gtest/gtest.h>

namespace px::transport {
namespace {

TEST(SentNotice, NamesTheRecipientsOnce) {
  const struct {
    StringList to, cc, bcc;
    const char* want;
  } cases[] = {
      {{"\"Ann\" <ann@x.org>"}, {}, {}, "Sent to \"Ann\" <ann@x.org>"},
      {{"ann@x.org"}, {"bob@x.org", "ANN@x.org"}, {"carl"}, "Sent to ann@x.org, bob@x.org, carl"},
      {{"a@x.org", "b@x.org"}, {"c@x.org"}, {"d@x.org", "e@x.org"}, "Sent to a@x.org, b@x.org, c@x.org and 2 more"},
      {{}, {}, {}, "Sent"},
  };
  for (const auto& c : cases) {
    OutgoingMessage m;
    m.to = c.to;
    m.ccList = c.cc;
    m.bccList = c.bcc;
    EXPECT_EQ(SentNoticeText(m), c.want);
  }
}

}  // namespace
}  // namespace px::transport

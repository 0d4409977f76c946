// Golden table of the mailto conversion.
#include "compose/mailto.h"

#include <gtest/gtest.h>

namespace px::compose {
namespace {

TEST(Mailto, GoldenTable) {
  const struct {
    const char* url;
    const char *to, *cc, *bcc, *subject;
    StringList body;
  } cases[] = {
      {"mailto:first@x.org?cc=second@x.org&cc=third@x.org", "first@x.org", "second@x.org, third@x.org", "", "", {}},
      {"mailto:first@x.org?Subject=Hello%20there&body=Line%0D%0ANext", "first@x.org", "", "", "Hello there",
       {"Line", "Next"}},
      {"mailto:%22Ann%22%20%3Cfirst@x.org%3E", "\"Ann\" <first@x.org>", "", "", "", {}},
      {"mailto:first@x.org?to=second@x.org", "first@x.org, second@x.org", "", "", "", {}},
      {"mailto:a@x.org?bcc=b@x.org&unknown=1&novalue&subject=", "a@x.org", "", "b@x.org", "", {}},
      // Encoded words and entities are decoded; UTF-8 from "%XX".
      {"mailto:a@x.org?subject=%D0%9F%D1%80%D0%B8%D0%B2%D0%B5%D1%82", "a@x.org", "", "", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", {}},
      {"mailto:a@x.org?subject==?ISO-8859-1?Q?caf=E9?=", "a@x.org", "", "", "caf\xC3\xA9", {}},
      // Entities are resolved before "%XX", so decoded text is never decoded again.
      {"mailto:a@x.org?subject=a%26amp;b%26lt;", "a@x.org", "", "", "a&amp;b&lt;", {}},
      {"mailto:a@x.org?subject=x&lt;y", "a@x.org", "", "", "x", {}},
      // A line break decoded from a header value never starts a header line of its own.
      {"mailto:a@x.org?subject=Hi%0D%0ABcc:%20evil@x.org&cc=c@x.org%0Ad@x.org", "a@x.org", "c@x.org d@x.org", "",
       "Hi  Bcc: evil@x.org", {}},
      {"mailto:a@x.org%0D%0ABcc:%20evil@x.org", "a@x.org  Bcc: evil@x.org", "", "", "", {}},
  };
  for (const auto& c : cases) {
    MailtoFields f;
    ASSERT_TRUE(ProcessMailto(c.url, f)) << c.url;
    EXPECT_EQ(f.to, c.to) << c.url;
    EXPECT_EQ(f.cc, c.cc) << c.url;
    EXPECT_EQ(f.bcc, c.bcc) << c.url;
    EXPECT_EQ(f.subject, c.subject) << c.url;
    EXPECT_EQ(f.bodyLines, c.body) << c.url;
  }
}

TEST(Mailto, OtherTextsAreLeftAlone) {
  for (const char* t : {"first@x.org", "MAILTO:first@x.org", " mailto:x@y", ""}) {
    MailtoFields f;
    EXPECT_FALSE(ProcessMailto(t, f)) << t;
    EXPECT_TRUE(f.to.empty());
  }
}

TEST(Mailto, FromParameterFillsTheSender) {
  MailtoFields f;
  ASSERT_TRUE(ProcessMailto("mailto:a@x.org?from=%22Me%22%20%3Cme@x.org%3E", f));
  EXPECT_TRUE(f.fromGiven);
  EXPECT_EQ(f.from, "\"Me\" <me@x.org>");
}

}  // namespace
}  // namespace px::compose

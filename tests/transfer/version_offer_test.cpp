#include "transport/service_requests.h"

#include "foundation/dates.h"
#include "foundation/settings.h"

#include <gtest/gtest.h>

namespace px::transport {
namespace {

struct VersionCase {
  const char* what;
  bool ok;
  const char* body;
  PublishedVersionStep step;
  int nextCheckDays;  // NextVersionCheck relative to today, or -1 when it stays as it was
};

class PublishedVersionReplies : public ::testing::TestWithParam<VersionCase> {};

TEST_P(PublishedVersionReplies, ReadOnTheMainThread) {
  const auto& c = GetParam();
  Settings s;
  const DateTime now = MakeDateTime(2026, 12, 10, 15, 0, 0);
  s.SetNextVersionCheck(7);
  const PublishedVersionResult r = ReadPublishedVersion(c.ok, c.body, s, now);
  EXPECT_EQ(r.step, c.step) << c.what;
  EXPECT_EQ(s.NextVersionCheck(), c.nextCheckDays < 0 ? 7 : DayNumber(now) + c.nextCheckDays) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Transfer, PublishedVersionReplies,
    ::testing::Values(VersionCase{"failed request", false, "3.1", PublishedVersionStep::Failed, -1},
                      VersionCase{"same version", true, "3.01 stable\r\n", PublishedVersionStep::Current, 1},
                      VersionCase{"newer", true, "3.1", PublishedVersionStep::Offer, -1},
                      VersionCase{"older by bytes", true, "10.0", PublishedVersionStep::Older, -1},
                      VersionCase{"empty reply", true, "", PublishedVersionStep::Older, -1}));

TEST(PublishedVersion, DueOncePerDay) {
  Settings s;
  const DateTime now = MakeDateTime(2026, 12, 10, 15, 0, 0);
  EXPECT_TRUE(VersionCheckDue(s, now));
  s.SetNextVersionCheck(DayNumber(now) + 1);
  EXPECT_FALSE(VersionCheckDue(s, now));
  EXPECT_TRUE(VersionCheckDue(s, now + 1));
}

}  // namespace
}  // namespace px::transport

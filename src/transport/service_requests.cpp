#include "transport/service_requests.h"

#include "foundation/password.h"
#include "foundation/strings.h"
#include "foundation/settings.h"
#include "platform/registry.h"
#include "transport/http_client.h"

#include <cmath>

namespace px::transport {

std::string CheckNewPassword(std::string_view newPassword) {
  if (newPassword.size() <= 5) return std::string(kPasswordTooShort);
  return {};
}

PasswordChangeOutcome ChangeServicePassword(HttpClient& client, std::string_view host, std::string_view user,
                                            std::string_view oldPassword, std::string_view newPassword,
                                            bool savePassword, Settings& settings, RandomSource& random) {
  PasswordChangeOutcome out;
  const HttpResult r = client.Get(ServiceUrl(host, PasswordChangePath(user, oldPassword, newPassword)));
  out.reply = r.Ok() ? ReadPasswordChangeReply(r.body) : PasswordChangeReply::Failed;
  out.message = PasswordChangeMessage(out.reply, &out.kind);
  out.clearOldPassword = out.reply == PasswordChangeReply::WrongOldPassword;
  if (out.reply == PasswordChangeReply::Changed) {
    if (savePassword) settings.SetPassword(ScramblePassword(newPassword, random));
    else settings.SetPassword({});
  }
  return out;
}

bool ReportVersionOnce(HttpClient& client, std::string_view host, std::string_view user,
                       platform::Registry& registry) {
  if (!registry.ReadString(platform::kProgramKey, platform::kCheckVersionValue)) return false;
  const HttpResult r = client.Get(ServiceUrl(host, VersionReportPath(user)));
  if (!r.Ok() || StatusText(r.body) != "OK") return false;
  return registry.DeleteValue(platform::kProgramKey, platform::kCheckVersionValue);
}

int64_t DayNumber(DateTime t) { return static_cast<int64_t>(std::floor(t)); }

bool VersionCheckDue(const Settings& settings, DateTime now) {
  return DayNumber(now) >= settings.NextVersionCheck();
}

PublishedVersionResult CheckPublishedVersion(HttpClient& client, std::string_view host, Settings& settings,
                                             DateTime now) {
  if (!VersionCheckDue(settings, now)) return {};
  const HttpResult r = client.Get(PublishedVersionUrl(host), true);
  return ReadPublishedVersion(r.Ok(), r.body, settings, now);
}

PublishedVersionResult ReadPublishedVersion(bool ok, std::string_view body, Settings& settings, DateTime now) {
  PublishedVersionResult out;
  const int64_t today = DayNumber(now);
  if (!ok) {
    out.step = PublishedVersionStep::Failed;
    return out;
  }
  out.version = PublishedVersionOf(body);
  if (out.version == kProgramVersion) {
    settings.SetNextVersionCheck(today + 1);
    out.step = PublishedVersionStep::Current;
  } else {
    out.step = OffersNewVersion(out.version) ? PublishedVersionStep::Offer : PublishedVersionStep::Older;
  }
  return out;
}

std::string NewVersionQuestion(std::string_view published) {
  return SubstituteArgs(
      "New version of Plumadex is available for download!\r\rCurrent version: %1\rNew version: %2\r\rWould you "
      "like to download the new version?",
      {std::string(kProgramVersion), std::string(published)});
}

void AnswerNewVersion(bool yes, Settings& settings, DateTime now) {
  if (!yes) settings.SetNextVersionCheck(DayNumber(now) + 3);
}

}  // namespace px::transport

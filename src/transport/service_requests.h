#pragma once
// The single requests of the main thread: password change (7), version report (8) and the
// published-version check (9) with what follows from their replies.
#include "foundation/message_queue.h"
#include "foundation/types.h"
#include "transport/service_protocol.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace px {
class Settings;
class RandomSource;
}  // namespace px
namespace px::platform {
class Registry;
}

namespace px::transport {

class HttpClient;

struct PasswordChangeOutcome {
  PasswordChangeReply reply = PasswordChangeReply::Failed;
  std::string message;  // "" when nothing is to be shown
  MessageKind kind = MessageKind::Error;
  bool clearOldPassword = false;  // the old-password box is emptied and focused
};

// "" when the new password may be sent, else the message to show (the new and confirm boxes
// are then emptied). All three values are trimmed by the caller; empty ones send nothing.
std::string CheckNewPassword(std::string_view newPassword);

// Sends request 7. A failure of the request itself reads as the technical-problem reply. On
// success the new password is saved scrambled when savePassword, else the saved one is
// deleted; the caller takes it as the in-memory password.
PasswordChangeOutcome ChangeServicePassword(HttpClient& client, std::string_view host, std::string_view user,
                                            std::string_view oldPassword, std::string_view newPassword,
                                            bool savePassword, Settings& settings, RandomSource& random);

// Sends request 8 when the registry holds `Check Version`, and deletes that value when the
// service answers "OK". True when it was deleted.
bool ReportVersionOnce(HttpClient& client, std::string_view host, std::string_view user,
                       platform::Registry& registry);

// Whole days of the local calendar date of t.
int64_t DayNumber(DateTime t);

enum class PublishedVersionStep { NotDue, Failed, Current, Offer, Older };
struct PublishedVersionResult {
  PublishedVersionStep step = PublishedVersionStep::NotDue;
  std::string version;  // the published version (Offer, Older)
};
// Request 9 is due (at most once a day, `NextVersionCheck`).
bool VersionCheckDue(const Settings& settings, DateTime now);
// What request 9's reply means, on the main thread (the request itself may run elsewhere):
// `ok` false reads as Failed; the same version moves the next check to tomorrow.
PublishedVersionResult ReadPublishedVersion(bool ok, std::string_view body, Settings& settings, DateTime now);
// Request 9 at the start of a receive run, at most once a day (`NextVersionCheck`): the same
// version moves the next check to tomorrow; another one is handed back for the end of the run.
PublishedVersionResult CheckPublishedVersion(HttpClient& client, std::string_view host, Settings& settings,
                                             DateTime now);
// The question offered at the end of the run for a newer version.
std::string NewVersionQuestion(std::string_view published);
// The user's answer: Yes leaves the next check as it is (the question returns), No waits 3 days.
void AnswerNewVersion(bool yes, Settings& settings, DateTime now);

}  // namespace px::transport

#pragma once
// The SMTP route of a send run: a message for the Internet is built as one MIME message in a
// temporary file and submitted to the outgoing server of its sender's account. One client (one
// connection) per server is kept for the whole run.
//
// Route choice: a message whose recipients are all users of the mail service goes through the
// service. Any other goes through the outgoing server of its sender's account; when there is
// none it goes through the service if one is set up (that is how such mail always went), and
// otherwise it stays pending with a message naming what to set up.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transport/send_route.h"
#include "transport/smtp/smtp_client.h"
#include "transport/smtp/smtp_setting.h"

namespace px {
class RandomSource;
class Settings;
}  // namespace px

namespace px::transport {

struct SmtpRouteSettings {
  std::vector<SmtpServerSetting> servers;
  std::string caFile;          // extra trusted roots besides the system's (PEM); may be empty
  bool systemRoots = true;
  std::string ownFromAddress;  // From of parts that have none
  std::string tempFolder;      // private temporary folder, ends in "/"
  bool serviceSetUp = true;    // the mail service account is there to fall back on
  long replyTimeoutSec = 120;
};

// The settings from User.ini (servers with their passwords) and the environment
// (PLUMADEX_SMTP_CA names extra trusted roots).
SmtpRouteSettings ReadSmtpRouteSettings(const Settings& settings, const std::string& tempFolder);

// Every recipient is a user of the mail service (no recipient at all counts as such).
bool AllServiceUsers(const OutgoingMessage& message);
// The sender address of a message: its first part's From, else the user's own; someone who
// has no service address but one outgoing server sends as that server's account.
std::string SenderOf(const OutgoingMessage& message, const SmtpRouteSettings& smtp);

// The text that tells the user what to set up for a message that has no way out.
std::string NoSmtpServerText(const std::string& from);

class SmtpRoute final : public MessageRoute {
public:
  SmtpRoute(SmtpRouteSettings settings, RandomSource& random);
  ~SmtpRoute() override;
  RouteOutcome Deliver(const OutgoingMessage& message, const Progress& progress) override;
  void Abort() override;

private:
  SmtpClient& ClientFor(const SmtpServerSetting& server);

  SmtpRouteSettings settings_;
  RandomSource& random_;
  std::mutex mutex_;
  bool aborted_ = false;
  std::map<std::string, std::unique_ptr<SmtpClient>> clients_;  // by account name
  std::map<std::string, std::string> brokenServers_;            // account -> why, for this run
};

}  // namespace px::transport

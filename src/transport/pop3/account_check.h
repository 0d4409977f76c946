#pragma once
// "Check if this account works": connect, log in and leave, and say what happened in the words
// the options window shows.
#include <functional>
#include <string>

#include "transport/accounts.h"
#include "transport/stop_switch.h"

namespace px::transport::pop3 {

struct AccountCheck {
  bool works = false;
  // "This account works.", "Cannot find this e-mail server.", "Invalid user name or password."
  // or "Cannot connect to this e-mail server."
  std::string message;
  std::string detail;  // what the server or the system said
};

inline constexpr const char* kAccountWorks = "This account works.";
inline constexpr const char* kServerNotFound = "Cannot find this e-mail server.";
inline constexpr const char* kInvalidLogin = "Invalid user name or password.";
inline constexpr const char* kCannotConnect = "Cannot connect to this e-mail server.";
inline constexpr const char* kNeedsOAuth =
    "This server wants you to sign in with your provider (OAuth2) instead of a password.";

// Checks a POP3 or IMAP account. An account on the mail service (server "plumadex") is checked by
// `serviceCheck` (user, password) when given; without it the check fails. stop (from another
// thread) ends the check's wait on the server at once.
AccountCheck CheckAccount(const ExternalAccount& account, int timeoutMs = 180000,
                          const std::function<AccountCheck(const std::string& user,
                                                           const std::string& password)>& serviceCheck = {},
                          StopSwitch* stop = nullptr);

}  // namespace px::transport::pop3

#pragma once
// The mail accounts other programs know (Thunderbird's prefs.js), offered to become accounts
// here. An account comes in as its address only: a key of "External Accounts" with the value
// "?", to be completed in the accounts window. Addresses come from another program's files, so
// one that cannot be a settings key safely ("=", "[", "]", line breaks, control characters,
// blanks at either end) is refused, never written.
#include <string>
#include <string_view>
#include <vector>

#include "import/import_source.h"

namespace px {
class Settings;
}

namespace px::import {

struct ForeignAccount {
  std::string address;  // the account's address (its name here)
  std::string server;   // host name
  std::string user;
  std::string type;     // "pop3", "imap"
};

// The POP3 and IMAP accounts of a Thunderbird profile: server, user and the address of the
// account's first identity (user@server when it has none). Bounded: prefs.js is read up to 8 MiB.
std::vector<ForeignAccount> ThunderbirdAccounts(const std::string& profile);

inline constexpr const char* kRefusedAccount =
    "cannot be an account name here (it holds \"=\", brackets, line breaks or control characters)";

// An address that may become a key of the settings file.
bool IsSafeAccountAddress(std::string_view address);

// Registers each address not yet in "External Accounts" with the value "?" and saves the
// settings; refused addresses go to skipped. Returns the number added.
int AddForeignAccounts(Settings& settings, const std::vector<std::string>& addresses, std::vector<SkippedItem>& skipped);

}  // namespace px::import

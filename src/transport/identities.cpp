#include "transport/identities.h"

#include "foundation/address.h"
#include "foundation/settings.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "transport/accounts.h"
#include "transport/smtp/smtp_setting.h"

#include <algorithm>

namespace px::transport {

namespace {

bool IsMailAddress(std::string_view a) {
  const size_t at = a.find('@');
  return at != std::string_view::npos && at > 0 && at + 1 < a.size() && a.find(' ') == std::string_view::npos;
}

// The address an account sends as: its name when that is an address (as accounts are named),
// else its user name when that is one.
std::string AccountAddress(const ExternalAccount& a) {
  if (IsMailAddress(a.name)) return a.name;
  if (IsMailAddress(a.user)) return a.user;
  return {};
}

}  // namespace

std::vector<SenderIdentity> SenderIdentities(const Settings& settings) {
  std::vector<SenderIdentity> out;
  const std::string name = Trim(settings.Name());
  auto add = [&](std::string address, bool service) {
    std::string bare = BareAddressOf(address);
    if (service) bare = AddServiceDomain(StripServiceDomain(bare));
    if (!IsMailAddress(bare)) return;
    const std::string key = LowerCase(bare);
    for (const auto& e : out)
      if (e.bare == key) return;
    SenderIdentity id;
    // An address written with its own display name keeps it; the others get the user's name.
    std::string shown = address.find('<') != std::string::npos ? Trim(DisplayNameOf(address)) : std::string();
    if (shown.empty()) shown = name;
    id.address = shown.empty() ? bare : FormatAddressElement(shown, bare);
    id.bare = key;
    id.service = service;
    out.push_back(std::move(id));
  };
  if (settings.UseAlternativeFromAddress()) {
    const std::string alt = Trim(settings.AlternativeFromAddress());
    if (!alt.empty()) {
      const std::string bare = BareAddressOf(alt);
      add(alt, bare.find('@') == std::string::npos);
    }
  }
  if (!settings.ID().empty()) add(settings.ID(), true);
  std::vector<SmtpServerSetting> smtp = ReadSmtpSettings(settings);
  for (const auto& a : ReadAccounts(settings)) {
    if (a.IsService() || !a.enabled) continue;
    add(AccountAddress(a), false);
  }
  // Accounts that only send (an outgoing server under a name of its own).
  for (const auto& s : smtp) {
    const auto account = ReadAccount(settings, s.account);
    if (account && !account->enabled) continue;
    if (IsMailAddress(s.account)) add(s.account, false);
    for (const auto& f : s.fromAddresses) add(f, false);
  }
  return out;
}

StringList SenderAddresses(const Settings& settings) {
  StringList out;
  for (const auto& id : SenderIdentities(settings)) out.push_back(id.address);
  return out;
}

std::string DefaultIdentity(const std::vector<SenderIdentity>& identities) {
  return identities.empty() ? std::string() : identities.front().address;
}

std::string IdentityForReply(const std::vector<SenderIdentity>& identities, std::string_view originalTo,
                             std::string_view originalCc, std::string_view account) {
  auto find = [&](std::string_view entry) -> const SenderIdentity* {
    std::string bare = LowerCase(BareAddressOf(entry));
    if (bare.empty()) return nullptr;
    // Service users are stored without the service's domain.
    const std::string withDomain = LowerCase(AddServiceDomain(bare));
    for (const auto& id : identities)
      if (id.bare == bare || (id.service && id.bare == withDomain)) return &id;
    return nullptr;
  };
  for (std::string_view list : {originalTo, originalCc})
    for (const std::string& e : ParseAddressList(list))
      if (const SenderIdentity* id = find(e)) return id->address;
  if (!account.empty())
    if (const SenderIdentity* id = find(account)) return id->address;
  return DefaultIdentity(identities);
}

namespace {

std::vector<SenderIdentity> IdentitiesOf(const StringList& addresses) {
  std::vector<SenderIdentity> out;
  for (const auto& a : addresses) {
    const std::string bare = BareAddressOf(a);
    SenderIdentity id;
    id.address = a;
    id.service = !bare.empty() && bare.find('@') == std::string::npos;
    id.bare = LowerCase(id.service ? AddServiceDomain(bare) : bare);
    out.push_back(std::move(id));
  }
  return out;
}

}  // namespace

std::string IdentityForReply(const StringList& addresses, std::string_view originalTo, std::string_view originalCc,
                             std::string_view account) {
  return IdentityForReply(IdentitiesOf(addresses), originalTo, originalCc, account);
}

bool IsIdentity(const StringList& addresses, std::string_view address) {
  const std::string bare = BareAddressOf(address);
  if (bare.empty()) return false;
  const std::string key = LowerCase(bare.find('@') == std::string::npos ? AddServiceDomain(bare) : bare);
  for (const auto& id : IdentitiesOf(addresses))
    if (id.bare == key) return true;
  return false;
}

std::string SendRefusal(const Settings& settings, std::string_view from, std::string_view recipients) {
  const std::string bare = BareAddressOf(from);
  if (Trim(bare).empty())
    return "Sorry, but the message has no sender address. Choose one in From, or set up an address in "
           "Options first.";
  const bool serviceSetUp = !settings.ID().empty();
  const std::string serviceAddress = LowerCase(AddServiceDomain(StripServiceDomain(settings.ID())));
  const std::string key = LowerCase(AddServiceDomain(StripServiceDomain(bare)));
  if (serviceSetUp && key == serviceAddress) return {};
  const std::vector<SmtpServerSetting> smtp = ReadSmtpSettings(settings);
  if (const SmtpServerSetting* server = FindSmtpServerFor(smtp, bare); server && server->Complete()) return {};
  if (serviceSetUp) {
    // Mail for users of the service only goes through the service, whoever it is from.
    bool allService = true;
    bool any = false;
    for (const std::string& e : ParseAddressList(recipients)) {
      if (IsGroupAddress(e)) continue;
      any = true;
      if (BareAddressOf(e).find('@') != std::string::npos) allService = false;
    }
    if (any && allService) return {};
  }
  return "Sorry, but the message cannot be sent from " + bare +
         ": no outgoing (SMTP) mail server is set up for that address. Choose another address in From, or "
         "set up the outgoing server of that account in Options (Accounts).";
}

}  // namespace px::transport

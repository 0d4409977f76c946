#pragma once
// The addresses the user sends as: the service address (with the service's mail domain) and
// the address of every enabled account, each in full, with the user's name. The compose
// window offers them as From; a reply or forward starts with the one the original came to;
// Send Now refuses a From that has no way out.
#include "foundation/types.h"

#include <string>
#include <string_view>
#include <vector>

namespace px {
class Settings;
}

namespace px::transport {

struct SenderIdentity {
  std::string address;   // in full: "\"Name\" <user@domain>", or the bare address without a name
  std::string bare;      // the bare address, lower case
  bool service = false;  // the service address
};

// In order: the alternative From address when the user chose one, the service address, then
// each enabled account's address (an outgoing-only account too), each address once.
std::vector<SenderIdentity> SenderIdentities(const Settings& settings);
// The addresses of SenderIdentities, for a From box.
StringList SenderAddresses(const Settings& settings);
// The From of a new message: the first identity ("" when the user has none).
std::string DefaultIdentity(const std::vector<SenderIdentity>& identities);

// The identity a received message came to: the first of its To and Cc entries (and then the
// account it was fetched from) that is one of the identities; else the default identity.
std::string IdentityForReply(const std::vector<SenderIdentity>& identities, std::string_view originalTo,
                             std::string_view originalCc, std::string_view account = {});
// The same over the addresses of SenderAddresses.
std::string IdentityForReply(const StringList& addresses, std::string_view originalTo, std::string_view originalCc,
                             std::string_view account = {});
// `address` is one of the identities (compared by bare address, without regard to case).
bool IsIdentity(const StringList& addresses, std::string_view address);

// Why a message from `from` cannot be sent now ("" when it can): the service address needs the
// service set up; any other address needs an outgoing (SMTP) server that sends for it.
// `recipients` are the To, Cc and Bcc lists: mail only for service users goes through the
// service whatever the From.
std::string SendRefusal(const Settings& settings, std::string_view from, std::string_view recipients);

}  // namespace px::transport

#pragma once
// The main thread's side of sending, shared by every route a message can take (the mail
// service today, SMTP next): stamping a message the moment its route accepted it, and the
// later bookkeeping from the transfer timer.
#include "foundation/file_status.h"
#include "foundation/types.h"

#include <string>

namespace px {
class TPXCustomIni;
}  // namespace px
namespace px::store {
class IniRegistry;
}  // namespace px::store

namespace px::transport {

struct OutgoingMessage;

// Stamps `Sent` (short machine form of `now`) on every part in the register and in the
// documents, gives later parts the first part's lists, records replies and forwards on the
// answered messages (and removes `Original`), then saves the register and the indexes at
// once, so an accepted message is never sent again. Returns the first failed save.
FileStatus StampSent(const OutgoingMessage& message, DateTime now, TPXCustomIni& sent,
                      store::IniRegistry& registry);

// The record appended to `Replied` / `Forwarded`: time + " " + Address [", cc: " Cc]
// [", bcc: " Bcc], every "," then made ";".
std::string DeliveryRecord(std::string_view time, std::string_view address, std::string_view cc,
                           std::string_view bcc);

struct CommitResult {
  bool changed = false;   // the register changed (rebuild the pending-folder list, repaint)
  FileStatus saveError;   // the first failed save; ok when everything was saved
};

// The transfer timer's bookkeeping: stamped parts lose their pending bit (and become sealed,
// contact cards excepted; without PGP they lose the encrypted bit), take the send time as
// `Time` (all parts of the message in that folder take the latest), and their register
// section's Flags become 8192. Finished sections older than 60 days are erased.
CommitResult CommitSentMail(TPXCustomIni& sent, store::IniRegistry& registry, DateTime now,
                            bool cryptoAvailable);

}  // namespace px::transport

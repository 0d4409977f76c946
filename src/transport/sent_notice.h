#pragma once
// The line that tells the user a message has left: "Sent to Ann <ann@x.org>, bob@x.org", shown in
// the desk's status line (and wherever else a run reports what it sent).
#include "transport/outgoing.h"

#include <string>

namespace px::transport {

// "Sent to " and the recipients (To, Cc, Bcc, each once, in the stored display form); past
// three of them, " and n more".
std::string SentNoticeText(const OutgoingMessage& message);

}  // namespace px::transport

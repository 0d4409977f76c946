#pragma once
// Turning a "mailto:" URL (the To field of a new message started as the system's mail handler)
// into the header fields and the first lines of the body.
#include "foundation/types.h"

#include <string>
#include <string_view>

namespace px::compose {

struct MailtoFields {
  std::string to, cc, bcc;
  std::string from;        // set only when the URL names one (fromGiven)
  bool fromGiven = false;
  std::string subject;
  bool subjectGiven = false;
  StringList bodyLines;    // lines added to the message text
};

// Nothing happens (false) unless `toField` begins with "mailto:" (exact case). Otherwise the
// fields are filled from the URL, all in UTF-8. Header values never keep a line break: CR and
// LF decoded from the URL become blanks, so a value cannot add a header line of its own.
bool ProcessMailto(std::string_view toField, MailtoFields& fields);

}  // namespace px::compose

#pragma once
// The spool splitter: turns one raw Internet message into one part descriptor (".$$1") and one
// part content file (".$$2") per leaf part. It reads the message once, top to bottom, in chunks,
// and decodes each body straight into its content file, so a large message is never held in
// memory. It never rejects input: a missing boundary makes the rest one part, a missing closing
// boundary ends at the end of the file, nesting deeper than the cap is kept as one undecoded part.
#include <string>
#include <string_view>
#include <vector>

#include "mailformat/part_descriptor.h"
#include "mailformat/pseudo_headers.h"

namespace px::mailformat {

class LineReader;
class MailSpool;

struct SplitOptions {
  // Who wrote the raw message; decides which pseudo-headers count.
  SourceTrust trust = SourceTrust::Network;
  // The user's own address while an import runs: a message written by the program that has no
  // Received header and comes from this address is filed as sent mail.
  std::string ownAddress;
  int maxDepth = 100;       // deeper multiparts and embedded messages stay one undecoded part
  size_t maxParts = 10000;  // the rest of a message with more parts becomes one last part
  // When set, the pairs are named partPrefix + "_001", "_002" ... in the order they are made
  // (instead of fresh unique names), so the pairs of one message can be found again.
  std::string partPrefix;
};

enum class SplitStatus {
  Ok,
  CannotOpen,  // the raw message could not be opened: left untouched, try again later
  Failed,      // reading or writing failed part-way (parts already made stay in the spool)
  NoRoom,      // the disk is full or failing (IsResourceError): nothing was made, try again later
};

struct SplitResult {
  SplitStatus status = SplitStatus::Ok;
  std::string error;                // for the user, when not Ok
  int errorCode = 0;                // errno of the failure, when one is known
  std::vector<std::string> parts;   // names of the pairs made, in order (part 1 first)
  bool outbound = false;            // the message carried an honoured "_Outbound"
  std::string to;                   // its To list (for the wizard's recipient tally)
  bool ok() const { return status == SplitStatus::Ok; }
};

// Splits a message file into pairs in the spool. The message file itself is not touched.
SplitResult SplitMessageFile(const std::string& path, MailSpool& spool, const SplitOptions& options);
SplitResult SplitMessageBytes(std::string_view bytes, MailSpool& spool, const SplitOptions& options);

// The filer's step for one spool message (name + ".msg_"): split it into the pairs name + "_001"
// ..., then delete it. Pairs left by an earlier split of the same message that did not finish
// are removed first, so a message is never split twice. On failure no pair stays: a full or
// failing disk (NoRoom) leaves the message as it is for a later run; any other failure renames
// it to ".err_". A message that cannot be opened is left alone. With `keepRaw` the message is
// not deleted after a successful split (the caller deletes it once it has recorded the split).
SplitResult SplitSpoolMessage(MailSpool& spool, std::string_view name, const SplitOptions& options,
                              bool keepRaw = false);

// Removes the pairs an interrupted split of spool message `name` left (name + "_NNN").
void RemoveSplitLeftovers(MailSpool& spool, std::string_view name);

// Receives the parts the splitter produces, one at a time.
class PartSink {
public:
  virtual ~PartSink() = default;
  virtual bool Begin() = 0;                          // a part's content follows
  virtual bool Write(std::string_view bytes) = 0;    // content bytes
  virtual bool End(PartDescriptor descriptor) = 0;   // the part is complete
  virtual void Abort() = 0;                          // drop the part begun
  // The part about to end is a multipart (alternative or related) stored whole.
  virtual void KeptWhole() {}
  virtual bool Done() const { return false; }        // no more parts wanted
};

struct SplitSummary {
  bool outbound = false;
  std::string to;
  bool readFailed = false;
  bool sinkFailed = false;
};

// Runs the splitter over `in`. In text-only mode a multipart/alternative or multipart/related
// entity is entered instead of being kept whole, and only the first part is produced.
SplitSummary SplitMessage(LineReader& in, PartSink& sink, const SplitOptions& options,
                          bool textOnly = false);

}  // namespace px::mailformat

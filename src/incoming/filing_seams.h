#pragma once
// What filing asks of parts built later: decrypting encrypted bodies and the user's sorting
// rules (incoming/mail_sort). Without them filing runs with no decryption and no rules.
#include <string>
#include <vector>

#include "mailformat/part_descriptor.h"

namespace px::incoming {

class Decryptor {
public:
  virtual ~Decryptor() = default;
  // The encryption library is there at all.
  virtual bool Available() const = 0;
  // Decrypts file `in` into a new file `out`; false with *error when it cannot.
  virtual bool Decrypt(const std::string& in, const std::string& out, std::string* error) = 0;

  // A raw Internet message sent with OpenPGP (PGP/MIME, or an inline block in a plain text):
  // the readable message goes into the new file `out`.
  enum class MessageState { Plain, Decrypted, Failed };
  struct MessageOutcome {
    MessageState state = MessageState::Plain;
    std::string error;      // Failed: why
    std::string signature;  // Decrypted and signed: who signed, and whether it checks out
  };
  virtual MessageOutcome DecryptMessage(const std::string& /*in*/, const std::string& /*out*/) { return {}; }
};

// One received message as the rules see it.
struct SortInput {
  const mailformat::PartDescriptor* descriptor = nullptr;
  const mailformat::DescriptorTags* tags = nullptr;
  std::string sender;   // the normalised sender
  std::string subject;  // the subject as filed
  std::string baseId;   // the message id's base
  std::string contentPath;  // the part's content file, for rules on the text
};

struct SortAction {
  enum Kind { Copy, Delete };
  Kind kind = Copy;
  std::string baseId;
  std::string folder;  // Copy: the target folder ("/" at the end)
  // A deletion asked by a move rule is dropped when the move's folder does not exist.
  std::string onlyIfFolderExists;
  bool operator<(const SortAction& o) const {
    if (baseId != o.baseId) return baseId < o.baseId;
    if (kind != o.kind) return kind < o.kind;  // copies before the deletion
    if (folder != o.folder) return folder < o.folder;
    return onlyIfFolderExists < o.onlyIfFolderExists;
  }
  bool operator==(const SortAction& o) const {
    return baseId == o.baseId && kind == o.kind && folder == o.folder &&
           onlyIfFolderExists == o.onlyIfFolderExists;
  }
};

class SortingRules {
public:
  virtual ~SortingRules() = default;
  // Appends the actions of every matching rule (copy rules, then move rules, then delete rules).
  virtual void Evaluate(const SortInput& message, std::vector<SortAction>& actions) = 0;
};

}  // namespace px::incoming

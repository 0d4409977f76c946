#pragma once
// What the desk does with a message a compose window queued: the body and the attachments become
// documents of the folder, one message id for all of them, outgoing and pending in the folder's
// index and in `sent.ini`; then, for Send Now, a send-only run.
//
// A re-edited message (a draft, or pending mail changed again) is filed as a new message first;
// the documents of the old version are removed only once the new one is safely in the index.
#include "compose/compose_model.h"

#include <functional>
#include <string>

namespace px {
class MessageQueue;
}
namespace px::store {
class DocOperations;
class IniRegistry;
}  // namespace px::store

namespace px::compose {

struct FilerServices {
  store::DocOperations* ops = nullptr;      // required (its services give the registry and sent.ini)
  MessageQueue* messages = nullptr;
  std::string dataRoot;                      // where a message goes when its folder is not writable
  std::string documentsFolder;               // folder of a message opened on no document
  std::string defaultSender;                 // From when the record has none
  // The To list written against the address map (known contacts in their quoted form); may be
  // empty (the list is written as it is).
  std::function<std::string(const std::string& to)> normaliseTo;
  // A document's title ("" when its index has none).
  std::function<std::string(const std::string& path)> titleOf;
  bool offline = false;
  // Queues a message (its id base) for sending and starts a send-only transfer.
  std::function<void(const std::string& seriesBase)> sendNow;
};

struct FiledMessage {
  bool ok = false;
  std::string folder;
  std::string seriesBase;
  StringList documents;   // file names in the folder, body first
  bool sendStarted = false;
};

FiledMessage FileNewMessage(const TNewMessageRec& rec, const FilerServices& svc);

// The title of a document from its folder's index ("" when it has none).
std::string IndexTitleOf(store::IniRegistry& registry, const std::string& path);

}  // namespace px::compose

#include "store/file_errors.h"

#include "foundation/message_queue.h"

#include <cerrno>
#include <cstring>

namespace px::store {

std::string ReportFileError(MessageQueue* messages, std::string_view verb, std::string_view path,
                            std::string_view target, int error) {
  std::string text = FileErrorText(verb, path, target, error);
  if (messages) messages->QueueMessage(MessageKind::Error, text);
  return text;
}

}  // namespace px::store
